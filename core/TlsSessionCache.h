#pragma once

#include <string>

typedef struct ssl_st SSL;
typedef struct ssl_ctx_st SSL_CTX;

namespace vantrel::tls {

/**
 * Remembers the last TLS session per server so that the next connection to it resumes the session instead of
 * running a full handshake (no certificate chain to send and check again): every forwarded connection opens a
 * relay connection of its own, so this is the common case. Process-wide and thread-safe.
 */
class TlsSessionCache {
public:
    /** Lets connections made from context offer their sessions to the cache. */
    static void enable(SSL_CTX* context);

    /** Before the handshake: the connection will resume the session last seen for server ("host:port"). */
    static void prepare(SSL* connection, const std::string& server);
};

} // namespace vantrel::tls
