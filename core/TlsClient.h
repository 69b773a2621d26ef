#pragma once

#include "core/Error.h"

#include <boost/asio/ssl/context.hpp>
#include <boost/system/error_code.hpp>

#include <memory>
#include <optional>
#include <string>

typedef struct ssl_st SSL;

namespace vantrel::tls {

/**
 * A client TLS context that always verifies the server: the system's trusted certificates, plus the PEM file
 * of extra certificates when one is given (how the programs are pointed at a local service). TLS 1.2 or newer.
 */
std::shared_ptr<boost::asio::ssl::context> makeClientContext(const std::optional<std::string>& extraCaFile);

/** The context the programs use: makeClientContext with $VANTREL_CA_FILE, made once. */
std::shared_ptr<boost::asio::ssl::context> sharedClientContext();

/** Makes a new connection check that the certificate names host (a name or an IP address); sets SNI for names. */
boost::system::error_code expectHost(SSL* connection, const std::string& host);

/** A user-facing error for a failed TLS handshake, telling an untrusted certificate apart from other failures. */
Error handshakeError(const boost::system::error_code& error, SSL* connection);

} // namespace vantrel::tls
