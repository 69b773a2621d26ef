#include "core/TlsSessionCache.h"

#include <openssl/ssl.h>

#include <map>
#include <memory>
#include <mutex>

namespace vantrel::tls {
namespace {

using SessionPointer = std::unique_ptr<SSL_SESSION, decltype(&SSL_SESSION_free)>;

struct Cache {
    std::mutex mutex;
    std::map<std::string, SessionPointer> sessions; // guarded by mutex; by "host:port"
};

Cache& cache()
{
    static Cache instance;
    return instance;
}

// The slot in each connection that names the server it talks to (a string owned by the cache's key set).
int serverIndex()
{
    static const int index = SSL_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
    return index;
}

// Called by OpenSSL whenever the server hands out a session (in TLS 1.3: a ticket after the handshake).
int onNewSession(SSL* connection, SSL_SESSION* session)
{
    const auto* server = static_cast<const std::string*>(SSL_get_ex_data(connection, serverIndex()));
    if (server == nullptr) {
        return 0; // a connection that did not ask for resumption
    }
    std::lock_guard lock(cache().mutex);
    cache().sessions.insert_or_assign(*server, SessionPointer(session, &SSL_SESSION_free));
    return 1; // the cache keeps the reference
}

} // namespace

void TlsSessionCache::enable(SSL_CTX* context)
{
    SSL_CTX_set_session_cache_mode(context, SSL_SESS_CACHE_CLIENT | SSL_SESS_CACHE_NO_INTERNAL_STORE);
    SSL_CTX_sess_set_new_cb(context, onNewSession);
}

void TlsSessionCache::prepare(SSL* connection, const std::string& server)
{
    std::lock_guard lock(cache().mutex);
    // The key lives as long as the cache (for the process): connections may point at it.
    auto [entry, added] = cache().sessions.try_emplace(server, SessionPointer(nullptr, &SSL_SESSION_free));
    SSL_set_ex_data(connection, serverIndex(), const_cast<std::string*>(&entry->first));
    if (entry->second) {
        SSL_set_session(connection, entry->second.get());
    }
}

} // namespace vantrel::tls
