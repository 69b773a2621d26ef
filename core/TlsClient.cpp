#include "core/TlsClient.h"

#include "core/Deployment.h"
#include "core/NetworkError.h"
#include "core/TlsSessionCache.h"

#include "platform/Log.h"

#include <boost/asio/ip/address.hpp>
#include <boost/asio/ssl/error.hpp>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

namespace vantrel::tls {

std::shared_ptr<boost::asio::ssl::context> makeClientContext(const std::optional<std::string>& extraCaFile)
{
    auto context = std::make_shared<boost::asio::ssl::context>(boost::asio::ssl::context::tls_client);
    context->set_options(boost::asio::ssl::context::default_workarounds | boost::asio::ssl::context::no_sslv2
                         | boost::asio::ssl::context::no_sslv3 | boost::asio::ssl::context::no_tlsv1
                         | boost::asio::ssl::context::no_tlsv1_1);
    context->set_verify_mode(boost::asio::ssl::verify_peer);
    // AES-128-GCM first: as strong as the connection needs and the fastest with the processor's AES instructions.
    SSL_CTX_set_ciphersuites(context->native_handle(),
                             "TLS_AES_128_GCM_SHA256:TLS_CHACHA20_POLY1305_SHA256:TLS_AES_256_GCM_SHA384");
    boost::system::error_code error;
    context->set_default_verify_paths(error);
    if (error) {
        logFormat("could not load the system's trusted certificates: {}", error.message());
    }
    TlsSessionCache::enable(context->native_handle());
    if (extraCaFile) {
        context->load_verify_file(*extraCaFile, error);
        if (error) {
            logFormat("could not load the certificates of {}: {}", *extraCaFile, error.message());
        }
    }
    return context;
}

std::shared_ptr<boost::asio::ssl::context> sharedClientContext()
{
    static const std::shared_ptr<boost::asio::ssl::context> context = makeClientContext(deployment::extraCaFile());
    return context;
}

boost::system::error_code expectHost(SSL* connection, const std::string& host)
{
    boost::system::error_code addressError;
    boost::asio::ip::make_address(host, addressError);
    const bool isAddress = !addressError;
    int ok = 0;
    if (isAddress) {
        ok = X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(connection), host.c_str());
    } else {
        // SNI, spelled out: the library's macro for it uses an old-style cast.
        ok = SSL_set1_host(connection, host.c_str()) == 1
            && SSL_ctrl(connection, SSL_CTRL_SET_TLSEXT_HOSTNAME, TLSEXT_NAMETYPE_host_name,
                        const_cast<char*>(host.c_str()))
                == 1;
    }
    if (ok != 1) {
        return {static_cast<int>(ERR_get_error()), boost::asio::error::get_ssl_category()};
    }
    return {};
}

Error handshakeError(const boost::system::error_code& error, SSL* connection)
{
    const long verifyResult = connection != nullptr ? SSL_get_verify_result(connection) : X509_V_OK;
    if (verifyResult != X509_V_OK) {
        return networkError(NetworkError::kServerCertificateUntrusted,
                            std::string("The certificate of the server is not trusted: ")
                                + X509_verify_cert_error_string(verifyResult));
    }
    return networkError(NetworkError::kSecureConnectionFailed, "A secure connection could not be made: "
                                                                   + error.message());
}

} // namespace vantrel::tls
