#include "http/IdCoderMIME.h"

#include <gtest/gtest.h>

TEST(Base64, StandardVectors) {
    const struct {
        const char* plain;
        const char* encoded;
    } cases[] = {
        {"", ""},
        {"f", "Zg=="},
        {"fo", "Zm8="},
        {"foo", "Zm9v"},
        {"foob", "Zm9vYg=="},
        {"fooba", "Zm9vYmE="},
        {"foobar", "Zm9vYmFy"},
        {"Aladdin:open sesame", "QWxhZGRpbjpvcGVuIHNlc2FtZQ=="},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(EncodeBase64(std::string(c.plain)), c.encoded) << c.plain;
        EXPECT_EQ(DecodeBase64(c.encoded), c.plain) << c.encoded;
    }
}

TEST(Base64, UsesTheHighCharactersAndSurvivesEveryByte) {
    EXPECT_EQ(EncodeBase64(TIdBytes{0xFB, 0xFF, 0xBF}), "+/+/");
    std::string all;
    for (int i = 0; i < 256; ++i) all += static_cast<char>(i);
    const std::string encoded = EncodeBase64(all);
    EXPECT_EQ(encoded.find('\n'), std::string::npos);
    EXPECT_EQ(DecodeBase64(encoded), all);
}

TEST(Base64, DecodeSkipsLineBreaksAndStopsAtPadding) {
    EXPECT_EQ(DecodeBase64("Zm9v\r\nYmFy"), "foobar");
    EXPECT_EQ(DecodeBase64("Zg==Zm9v"), "f");
}
