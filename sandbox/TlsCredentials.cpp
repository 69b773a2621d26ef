#include "sandbox/TlsCredentials.h"

#include "sandbox/SandboxError.h"

#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/crypto.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <memory>
#include <utility>
#include <vector>

namespace vantrel::sandbox {

namespace {

template <auto Free> struct OpenSslDeleter {
    template <class T> void operator()(T* pointer) const { Free(pointer); }
};

using KeyPtr = std::unique_ptr<EVP_PKEY, OpenSslDeleter<EVP_PKEY_free>>;
using CertificatePtr = std::unique_ptr<X509, OpenSslDeleter<X509_free>>;
using BioPtr = std::unique_ptr<BIO, OpenSslDeleter<BIO_free>>;
using ExtensionPtr = std::unique_ptr<X509_EXTENSION, OpenSslDeleter<X509_EXTENSION_free>>;
using BignumPtr = std::unique_ptr<BIGNUM, OpenSslDeleter<BN_free>>;

constexpr long kValiditySeconds = 30L * 24 * 3600;

Error certificateError(const char* step)
{
    return sandboxError(SandboxErrorCode::certificate, std::string("certificate: ") + step + " failed");
}

/** Name of the certificate subject: a common name under the sandbox organisation. */
bool setSubject(X509* certificate, const char* commonName)
{
    X509_NAME* name = X509_get_subject_name(certificate);
    const auto add = [&](const char* field, const char* value) {
        return X509_NAME_add_entry_by_txt(name, field, MBSTRING_ASC, reinterpret_cast<const unsigned char*>(value), -1,
                                          -1, 0)
            == 1;
    };
    return add("O", "Corvane Sandbox") && add("CN", commonName);
}

bool setRandomSerial(X509* certificate)
{
    BignumPtr serial(BN_new());
    return serial && BN_rand(serial.get(), 63, BN_RAND_TOP_ANY, BN_RAND_BOTTOM_ANY) == 1
        && BN_to_ASN1_INTEGER(serial.get(), X509_get_serialNumber(certificate)) != nullptr;
}

bool addExtensions(X509* certificate, X509* issuer, const std::vector<std::pair<int, const char*>>& extensions)
{
    X509V3_CTX context;
    X509V3_set_ctx(&context, issuer, certificate, nullptr, nullptr, 0);
    for (const auto& [nid, value] : extensions) {
        ExtensionPtr extension(X509V3_EXT_conf_nid(nullptr, &context, nid, value));
        if (!extension || X509_add_ext(certificate, extension.get(), -1) != 1) {
            return false;
        }
    }
    return true;
}

/** A certificate for key, issued by issuer (itself when issuer is null) and signed with signingKey. */
Result<CertificatePtr> makeCertificate(const char* commonName, EVP_PKEY* key, X509* issuer, EVP_PKEY* signingKey,
                                       const std::vector<std::pair<int, const char*>>& extensions)
{
    CertificatePtr certificate(X509_new());
    if (!certificate || X509_set_version(certificate.get(), 2) != 1 || !setRandomSerial(certificate.get())
        || !X509_gmtime_adj(X509_getm_notBefore(certificate.get()), -3600)
        || !X509_gmtime_adj(X509_getm_notAfter(certificate.get()), kValiditySeconds)
        || X509_set_pubkey(certificate.get(), key) != 1 || !setSubject(certificate.get(), commonName)) {
        return certificateError("building the certificate");
    }
    X509* issuerCertificate = issuer ? issuer : certificate.get();
    if (X509_set_issuer_name(certificate.get(), X509_get_subject_name(issuerCertificate)) != 1
        || !addExtensions(certificate.get(), issuerCertificate, extensions)) {
        return certificateError("adding the certificate extensions");
    }
    if (X509_sign(certificate.get(), signingKey, EVP_sha256()) <= 0) {
        return certificateError("signing the certificate");
    }
    return certificate;
}

template <class Write> std::string toPem(Write write)
{
    BioPtr bio(BIO_new(BIO_s_mem()));
    if (!bio || !write(bio.get())) {
        return {};
    }
    char* data = nullptr;
    const long size = BIO_get_mem_data(bio.get(), &data);
    std::string pem(data, static_cast<std::size_t>(size));
    OPENSSL_cleanse(data, static_cast<std::size_t>(size));
    return pem;
}

} // namespace

Result<TlsCredentials> TlsCredentials::issue()
{
    KeyPtr caKey(EVP_EC_gen("P-256"));
    KeyPtr serverKey(EVP_EC_gen("P-256"));
    if (!caKey || !serverKey) {
        return certificateError("generating the keys");
    }
    auto ca = makeCertificate("Corvane Sandbox CA", caKey.get(), nullptr, caKey.get(),
                              {{NID_basic_constraints, "critical,CA:TRUE"},
                               {NID_key_usage, "critical,keyCertSign,cRLSign"},
                               {NID_subject_key_identifier, "hash"},
                               {NID_authority_key_identifier, "keyid:always"}});
    if (!ca) {
        return ca.error();
    }
    auto server = makeCertificate("localhost", serverKey.get(), ca.value().get(), caKey.get(),
                                  {{NID_basic_constraints, "critical,CA:FALSE"},
                                   {NID_key_usage, "critical,digitalSignature,keyEncipherment"},
                                   {NID_ext_key_usage, "serverAuth"},
                                   {NID_subject_alt_name, "DNS:localhost,IP:127.0.0.1,IP:::1"},
                                   {NID_subject_key_identifier, "hash"},
                                   {NID_authority_key_identifier, "keyid:always"}});
    if (!server) {
        return server.error();
    }
    TlsCredentials credentials;
    credentials.caCertificatePem = toPem([&](BIO* bio) { return PEM_write_bio_X509(bio, ca.value().get()) == 1; });
    credentials.serverCertificatePem =
        toPem([&](BIO* bio) { return PEM_write_bio_X509(bio, server.value().get()) == 1; });
    credentials.serverKeyPem = toPem([&](BIO* bio) {
        return PEM_write_bio_PrivateKey(bio, serverKey.get(), nullptr, nullptr, 0, nullptr, nullptr) == 1;
    });
    if (credentials.caCertificatePem.empty() || credentials.serverCertificatePem.empty()
        || credentials.serverKeyPem.empty()) {
        return certificateError("writing PEM");
    }
    return credentials;
}

void TlsCredentials::wipe()
{
    OPENSSL_cleanse(serverKeyPem.data(), serverKeyPem.size());
    serverKeyPem.clear();
}

} // namespace vantrel::sandbox
