#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace vantrel::crypto {

/** The MD5 digest (RFC 1321) of the bytes, as 32 uppercase hexadecimal digits. */
std::string md5Hex(std::string_view bytes);

/** Standard Base64 (RFC 4648, "=" padding) on one line. */
std::string base64Encode(std::string_view bytes);

/** Decodes standard Base64; nothing when the text is not valid Base64. */
std::optional<std::string> base64Decode(std::string_view text);

/** A 256-bit key that wipes itself when it goes out of scope. */
class AesKey {
public:
    /** The key text's bytes, taken up to 32 bytes and padded with zero bytes to 32. */
    explicit AesKey(std::string_view keyText);
    ~AesKey();
    AesKey(const AesKey&) = delete;
    AesKey& operator=(const AesKey&) = delete;

    const unsigned char* data() const { return m_bytes.data(); }

private:
    std::array<unsigned char, 32> m_bytes{};
};

/** AES-256-CBC with PKCS#7 padding and an all-zero initialisation vector. */
std::string aes256CbcEncrypt(std::string_view plaintext, const AesKey& key);

/** The inverse of aes256CbcEncrypt; nothing when the length or the padding is wrong. */
std::optional<std::string> aes256CbcDecrypt(std::string_view ciphertext, const AesKey& key);

} // namespace vantrel::crypto
