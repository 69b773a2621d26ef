#include "core/Crypto.h"

#include <gtest/gtest.h>

namespace vantrel::crypto {
namespace {

TEST(Crypto, Base64RoundTripsAnyBytesAndRejectsGarbage)
{
    const std::string bytes("\0\x01\xfe\xffsome text", 13);
    EXPECT_EQ(base64Encode("abc"), "YWJj");
    EXPECT_EQ(base64Encode("ab"), "YWI=");
    EXPECT_EQ(base64Decode(base64Encode(bytes)), bytes);
    EXPECT_FALSE(base64Decode("YW*j"));
    EXPECT_EQ(base64Decode(""), "");
}

TEST(Crypto, AesKeyUsesTheFirst32BytesAndPadsShortKeys)
{
    const std::string plaintext = "sixteen bytes!!!"; // a whole block still gets a padding block
    const std::string long1 = aes256CbcEncrypt(plaintext, AesKey("0123456789abcdef0123456789abcdefXXXX"));
    const std::string long2 = aes256CbcEncrypt(plaintext, AesKey("0123456789abcdef0123456789abcdefYYYY"));
    EXPECT_EQ(long1, long2);
    EXPECT_EQ(long1.size(), 32u);
    EXPECT_EQ(aes256CbcDecrypt(aes256CbcEncrypt(plaintext, AesKey("short")), AesKey(std::string("short\0", 6))),
              plaintext);
}

TEST(Crypto, DecryptionRefusesWrongLengthsAndPadding)
{
    const AesKey key("k");
    const std::string ciphertext = aes256CbcEncrypt("hello", key);
    EXPECT_FALSE(aes256CbcDecrypt(ciphertext.substr(0, 15), key));
    EXPECT_FALSE(aes256CbcDecrypt("", key));
    EXPECT_FALSE(aes256CbcDecrypt(ciphertext, AesKey("other")));
}

} // namespace
} // namespace vantrel::crypto
