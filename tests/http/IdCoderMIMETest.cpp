#include "http/IdCoderMIME.h"

#include <gtest/gtest.h>

TEST(Base64, StandardVectorsAndEveryByte) {
    const char* cases[][2] = {{"", ""},
                              {"f", "Zg=="},
                              {"fo", "Zm8="},
                              {"foo", "Zm9v"},
                              {"foob", "Zm9vYg=="},
                              {"fooba", "Zm9vYmE="},
                              {"foobar", "Zm9vYmFy"},
                              {"Aladdin:open sesame", "QWxhZGRpbjpvcGVuIHNlc2FtZQ=="}};
    for (const auto& c : cases) {
        EXPECT_EQ(EncodeBase64(std::string(c[0])), c[1]) << c[0];
        EXPECT_EQ(DecodeBase64(c[1]), c[0]) << c[1];
    }
    EXPECT_EQ(EncodeBase64(TIdBytes{0xFB, 0xFF, 0xBF}), "+/+/");
    EXPECT_EQ(DecodeBase64("Zm9v\r\nYmFy"), "foobar");
    EXPECT_EQ(DecodeBase64("Zg==Zm9v"), "f");

    std::string all;
    for (int i = 0; i < 256; ++i) all += static_cast<char>(i);
    const std::string encoded = EncodeBase64(all);
    EXPECT_EQ(encoded.find('\n'), std::string::npos);
    EXPECT_EQ(DecodeBase64(encoded), all);
}
