#include "http/IdAuthentication.h"

#include "net/IdExceptionCore.h"

#include <gtest/gtest.h>

TEST(TIdBasicAuthentication, CredentialIsBase64OfUserColonPassword) {
    TIdBasicAuthentication auth;
    auth.Username = "Aladdin";
    auth.Password = "open sesame";
    EXPECT_FALSE(auth.ReachedLastStep());
    EXPECT_EQ(auth.Authentication(), "Basic QWxhZGRpbjpvcGVuIHNlc2FtZQ==");
    auth.Authentication();
    EXPECT_EQ(auth.CurrentStep(), 1);
    EXPECT_TRUE(auth.ReachedLastStep());
    auth.Reset();
    EXPECT_FALSE(auth.ReachedLastStep());
}

TEST(TIdBasicAuthentication, ReadsTheRealmOfTheBasicChallenge) {
    TIdBasicAuthentication auth;
    auth.AuthParams.Add("Digest realm=\"other\", nonce=\"n\"");
    auth.AuthParams.Add("Basic realm=\"Secret Area\", charset=\"UTF-8\"");
    EXPECT_EQ(auth.Next(), wnAskTheProgram);
    EXPECT_EQ(auth.Realm, "Secret Area");
    auth.Username = "u";
    EXPECT_EQ(auth.Next(), wnDoRequest);
}

TEST(AuthenticationRegistry, BasicIsThereFromTheStart) {
    for (const char* name : {"Basic", "BASIC", "basic"}) {
        const auto factory = FindAuthClass(name);
        ASSERT_TRUE(factory) << name;
        EXPECT_NE(dynamic_cast<TIdBasicAuthentication*>(factory().get()), nullptr);
    }
    EXPECT_FALSE(FindAuthClass("Digest"));
    EXPECT_THROW(RegisterAuthenticationMethod(
                     "bAsIc", [] { return std::make_unique<TIdBasicAuthentication>(); }),
                 EIdAlreadyRegisteredAuthenticationMethod);
}
