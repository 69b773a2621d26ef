#include "core/Crypto.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>

#include <algorithm>
#include <memory>
#include <stdexcept>

namespace vantrel::crypto {
namespace {

using CipherContext = std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)>;
using DigestContext = std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)>;
using EncodeContext = std::unique_ptr<EVP_ENCODE_CTX, decltype(&EVP_ENCODE_CTX_free)>;

constexpr unsigned char kZeroIv[16] = {};

const unsigned char* bytesOf(std::string_view text)
{
    return reinterpret_cast<const unsigned char*>(text.data());
}

unsigned char* bytesOf(std::string& text)
{
    return reinterpret_cast<unsigned char*>(text.data());
}

int intLength(std::string_view text)
{
    if (text.size() > static_cast<std::size_t>(INT32_MAX / 2)) {
        throw std::length_error("crypto input too large");
    }
    return static_cast<int>(text.size());
}

std::optional<std::string> runCipher(std::string_view input, const AesKey& key, bool encrypt)
{
    CipherContext context(EVP_CIPHER_CTX_new(), &EVP_CIPHER_CTX_free);
    if (!context
        || EVP_CipherInit_ex(context.get(), EVP_aes_256_cbc(), nullptr, key.data(), kZeroIv, encrypt ? 1 : 0) != 1) {
        return std::nullopt;
    }
    std::string output(input.size() + 16, '\0');
    int written = 0;
    if (EVP_CipherUpdate(context.get(), bytesOf(output), &written, bytesOf(input), intLength(input)) != 1) {
        return std::nullopt;
    }
    int finalWritten = 0;
    if (EVP_CipherFinal_ex(context.get(), bytesOf(output) + written, &finalWritten) != 1) {
        return std::nullopt;
    }
    output.resize(static_cast<std::size_t>(written + finalWritten));
    return output;
}

} // namespace

std::string md5Hex(std::string_view bytes)
{
    DigestContext context(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (!context || EVP_DigestInit_ex(context.get(), EVP_md5(), nullptr) != 1
        || EVP_DigestUpdate(context.get(), bytes.data(), bytes.size()) != 1
        || EVP_DigestFinal_ex(context.get(), digest, &length) != 1) {
        throw std::runtime_error("MD5 is not available");
    }
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(length * 2);
    for (unsigned int i = 0; i < length; ++i) {
        text.push_back(kHex[digest[i] >> 4]);
        text.push_back(kHex[digest[i] & 0x0F]);
    }
    return text;
}

std::string base64Encode(std::string_view bytes)
{
    std::string text(4 * ((bytes.size() + 2) / 3) + 1, '\0');
    const int length = EVP_EncodeBlock(bytesOf(text), bytesOf(bytes), intLength(bytes));
    text.resize(static_cast<std::size_t>(length));
    return text;
}

std::optional<std::string> base64Decode(std::string_view text)
{
    EncodeContext context(EVP_ENCODE_CTX_new(), &EVP_ENCODE_CTX_free);
    if (!context) {
        return std::nullopt;
    }
    EVP_DecodeInit(context.get());
    std::string bytes(3 * (text.size() / 4) + 3, '\0');
    int written = 0;
    if (EVP_DecodeUpdate(context.get(), bytesOf(bytes), &written, bytesOf(text), intLength(text)) < 0) {
        return std::nullopt;
    }
    int finalWritten = 0;
    if (EVP_DecodeFinal(context.get(), bytesOf(bytes) + written, &finalWritten) != 1) {
        return std::nullopt;
    }
    bytes.resize(static_cast<std::size_t>(written + finalWritten));
    return bytes;
}

AesKey::AesKey(std::string_view keyText)
{
    const std::size_t length = std::min(keyText.size(), m_bytes.size());
    std::copy_n(keyText.begin(), length, m_bytes.begin());
}

AesKey::~AesKey()
{
    OPENSSL_cleanse(m_bytes.data(), m_bytes.size());
}

std::string aes256CbcEncrypt(std::string_view plaintext, const AesKey& key)
{
    auto ciphertext = runCipher(plaintext, key, true);
    if (!ciphertext) {
        throw std::runtime_error("AES-256-CBC is not available");
    }
    return std::move(*ciphertext);
}

std::optional<std::string> aes256CbcDecrypt(std::string_view ciphertext, const AesKey& key)
{
    if (ciphertext.empty() || ciphertext.size() % 16 != 0) {
        return std::nullopt;
    }
    return runCipher(ciphertext, key, false);
}

} // namespace vantrel::crypto
