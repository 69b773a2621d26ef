#pragma once

#include "core/Result.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/ssl/context.hpp>

#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace vantrel::http {

inline constexpr std::chrono::milliseconds kDefaultTimeout = std::chrono::seconds(30);
inline constexpr std::size_t kMaxResponseBody = 16 * 1024 * 1024;

/** One HTTPS request. */
struct Request {
    std::string method = "GET";
    std::string url; ///< absolute "https://" address
    std::vector<std::pair<std::string, std::string>> headers;
    std::optional<std::string> body;
    std::chrono::milliseconds timeout = kDefaultTimeout; ///< for the whole exchange
};

/** An answer, whatever its status. */
struct Response {
    unsigned status = 0;
    std::string contentType; ///< the media type without parameters, lower case; empty when none was sent
    std::string body;
};

class Connection;
class Exchange;

/**
 * An HTTPS client with its own network thread. Connections are kept alive and reused per host (a few per host,
 * so requests to one host are not serialised behind a slow one); a kept connection that the server has closed
 * is replaced transparently. Certificates and host names are always verified. Every exchange has a deadline
 * and a cap on the answer's size. Failures are Error values of domain "vantrel.network" (core/NetworkError.h).
 * Thread-safe.
 */
class Client {
public:
    using Completion = std::function<void(Result<Response>)>;

    explicit Client(std::shared_ptr<boost::asio::ssl::context> tls);
    ~Client();
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    /** The client of the process, trusting the system's certificates and $VANTREL_CA_FILE. */
    static Client& shared();

    /**
     * Starts the exchange. The completion runs exactly once, on the client's network thread, with the answer
     * (any status) or the failure. The returned handle may cancel the exchange.
     */
    std::shared_ptr<Exchange> send(Request request, Completion completion);

    /** Cancels an exchange; it completes with the cancelled error unless it has completed already. */
    void cancel(const std::shared_ptr<Exchange>& exchange);

    /** How many TLS connections the client has opened so far (kept-alive ones are reused, not counted again). */
    std::size_t connectionsOpened() const { return m_connectionsOpened.load(); }

private:
    friend class Exchange;
    std::shared_ptr<Connection> takeIdleConnection(const std::string& hostKey);
    void keepIdleConnection(std::shared_ptr<Connection> connection);

    boost::asio::io_context m_context;
    std::shared_ptr<boost::asio::ssl::context> m_tls;
    std::map<std::string, std::vector<std::shared_ptr<Connection>>> m_idle; // touched on the network thread only
    std::atomic<std::size_t> m_connectionsOpened{0};
    std::thread m_thread;
};

} // namespace vantrel::http
