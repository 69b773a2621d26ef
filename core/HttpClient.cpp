#include "core/HttpClient.h"

#include "core/NetworkError.h"
#include "core/TlsClient.h"
#include "core/Url.h"

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/ssl/error.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/ssl/ssl_stream.hpp>

#include <algorithm>
#include <cctype>

namespace vantrel::http {

namespace asio = boost::asio;
namespace beast = boost::beast;
using tcp = asio::ip::tcp;
using boost::system::error_code;

namespace {

constexpr std::size_t kIdleConnectionsPerHost = 4;
constexpr std::uint32_t kMaxHeaderBytes = 64 * 1024;

std::string mediaTypeOf(std::string_view contentType)
{
    std::string type(contentType.substr(0, contentType.find(';')));
    type.erase(std::remove_if(type.begin(), type.end(), [](unsigned char c) { return std::isspace(c); }), type.end());
    std::transform(type.begin(), type.end(), type.begin(), [](unsigned char c) { return std::tolower(c); });
    return type;
}

// Errors that mean the server had closed a kept-alive connection before our request reached it.
bool closedByServer(const error_code& error)
{
    return error == beast::http::error::end_of_stream || error == asio::error::eof
        || error == asio::error::connection_reset || error == asio::error::broken_pipe
        || error == asio::ssl::error::stream_truncated;
}

Error connectError(const error_code& error)
{
    if (error == asio::error::host_not_found || error == asio::error::host_not_found_try_again) {
        return networkError(NetworkError::kCannotFindHost, "The server could not be found: " + error.message());
    }
    if (error == asio::error::network_unreachable || error == asio::error::network_down) {
        return networkError(NetworkError::kNotConnectedToInternet, "The network is not reachable: " + error.message());
    }
    return networkError(NetworkError::kCannotConnectToHost, "Could not connect to the server: " + error.message());
}

Error readError(const error_code& error)
{
    if (error == beast::http::error::body_limit) {
        return networkError(NetworkError::kResponseTooLarge, "The server's answer is too large");
    }
    if (error.category() == beast::http::make_error_code(beast::http::error::bad_version).category()
        && error != beast::http::error::end_of_stream) {
        return networkError(NetworkError::kBadServerResponse, "The server's answer is not valid HTTP: " + error.message());
    }
    return networkError(NetworkError::kConnectionLost, "The connection to the server was lost: " + error.message());
}

} // namespace

/** One kept-alive TLS connection to a host. Used by one exchange at a time, on the network thread. */
class Connection {
public:
    Connection(asio::io_context& context, asio::ssl::context& tls, std::string poolKey)
        : stream(context, tls)
        , hostKey(std::move(poolKey))
    {
    }

    void close()
    {
        error_code ignored;
        beast::get_lowest_layer(stream).socket().close(ignored);
    }

    beast::ssl_stream<beast::tcp_stream> stream;
    beast::flat_buffer buffer;
    const std::string hostKey; ///< "host:port" of the pool this connection belongs to
    bool reused = false;       ///< it has carried an exchange before
};

/** One request and its answer, from resolving the host to handing over the response. */
class Exchange : public std::enable_shared_from_this<Exchange> {
public:
    Exchange(Client& client, Request request, Client::Completion completion)
        : m_client(client)
        , m_request(std::move(request))
        , m_completion(std::move(completion))
        , m_resolver(client.m_context)
        , m_deadline(client.m_context)
    {
    }

    void start()
    {
        auto url = parseUrl(m_request.url);
        if (!url) {
            finish(url.error());
            return;
        }
        m_url = std::move(url).value();
        if (m_url.scheme != "https") {
            finish(networkError(NetworkError::kUnsupportedUrl, "Only https addresses are supported: " + m_request.url));
            return;
        }
        m_deadline.expires_after(m_request.timeout);
        m_deadline.async_wait([self = shared_from_this()](const error_code& error) { self->onDeadline(error); });
        buildHttpRequest();
        m_connection = m_client.takeIdleConnection(hostKey());
        if (m_connection) {
            write();
        } else {
            connectNew();
        }
    }

    void cancel()
    {
        if (!m_done) {
            stopNetwork();
            finish(networkError(NetworkError::kCancelled, "The request was cancelled"));
        }
    }

private:
    std::string hostKey() const { return m_url.host + ":" + std::to_string(m_url.port); }

    void buildHttpRequest()
    {
        m_httpRequest.method_string(m_request.method);
        m_httpRequest.target(m_url.target);
        m_httpRequest.version(11);
        m_httpRequest.set(beast::http::field::host, m_url.hostHeader());
        for (const auto& [name, value] : m_request.headers) {
            m_httpRequest.set(name, value);
        }
        if (m_request.body) {
            m_httpRequest.body() = *m_request.body;
        }
        m_httpRequest.keep_alive(true);
        m_httpRequest.prepare_payload();
    }

    void connectNew()
    {
        m_connection = std::make_shared<Connection>(m_client.m_context, *m_client.m_tls, hostKey());
        ++m_client.m_connectionsOpened;
        m_resolver.async_resolve(m_url.host, std::to_string(m_url.port),
                                 [self = shared_from_this()](const error_code& error, tcp::resolver::results_type found) {
                                     self->onResolve(error, std::move(found));
                                 });
    }

    void onResolve(const error_code& error, const tcp::resolver::results_type& found)
    {
        if (m_done) {
            return;
        }
        if (error) {
            finish(connectError(error));
            return;
        }
        beast::get_lowest_layer(m_connection->stream)
            .async_connect(found, [self = shared_from_this()](const error_code& connectFailure, const auto&) {
                self->onConnect(connectFailure);
            });
    }

    void onConnect(const error_code& error)
    {
        if (m_done) {
            return;
        }
        if (error) {
            finish(connectError(error));
            return;
        }
        beast::get_lowest_layer(m_connection->stream).socket().set_option(tcp::no_delay(true));
        if (const error_code hostError = tls::expectHost(m_connection->stream.native_handle(), m_url.host)) {
            finish(tls::handshakeError(hostError, nullptr));
            return;
        }
        m_connection->stream.async_handshake(asio::ssl::stream_base::client,
                                             [self = shared_from_this()](const error_code& handshakeFailure) {
                                                 self->onHandshake(handshakeFailure);
                                             });
    }

    void onHandshake(const error_code& error)
    {
        if (m_done) {
            return;
        }
        if (error) {
            finish(tls::handshakeError(error, m_connection->stream.native_handle()));
            return;
        }
        write();
    }

    void write()
    {
        beast::http::async_write(m_connection->stream, m_httpRequest,
                                 [self = shared_from_this()](const error_code& error, std::size_t) {
                                     self->onWrite(error);
                                 });
    }

    void onWrite(const error_code& error)
    {
        if (m_done) {
            return;
        }
        if (error) {
            retryOrFail(error);
            return;
        }
        m_parser.emplace();
        m_parser->body_limit(kMaxResponseBody);
        m_parser->header_limit(kMaxHeaderBytes);
        beast::http::async_read(m_connection->stream, m_connection->buffer, *m_parser,
                                [self = shared_from_this()](const error_code& readFailure, std::size_t) {
                                    self->onRead(readFailure);
                                });
    }

    void onRead(const error_code& error)
    {
        if (m_done) {
            return;
        }
        if (error) {
            if (m_parser->got_some()) {
                m_connection->close();
                finish(readError(error));
            } else {
                retryOrFail(error);
            }
            return;
        }
        auto message = m_parser->release();
        Response response;
        response.status = message.result_int();
        response.contentType = mediaTypeOf(message[beast::http::field::content_type]);
        response.body = std::move(message.body());
        if (message.keep_alive()) {
            m_connection->reused = true;
            m_client.keepIdleConnection(std::move(m_connection));
        } else {
            m_connection->close();
        }
        finish(std::move(response));
    }

    // A kept-alive connection that the server had already closed gets one more try on a new connection.
    void retryOrFail(const error_code& error)
    {
        const bool wasReused = m_connection->reused;
        m_connection->close();
        if (wasReused && closedByServer(error)) {
            connectNew();
            return;
        }
        finish(readError(error));
    }

    void onDeadline(const error_code& error)
    {
        if (!error && !m_done) {
            stopNetwork();
            finish(networkError(NetworkError::kTimedOut, "The request timed out"));
        }
    }

    void stopNetwork()
    {
        m_resolver.cancel();
        if (m_connection) {
            m_connection->close();
        }
    }

    void finish(Result<Response> outcome)
    {
        m_done = true;
        m_deadline.cancel();
        auto completion = std::move(m_completion);
        m_completion = nullptr;
        if (completion) {
            completion(std::move(outcome));
        }
    }

    Client& m_client;
    Request m_request;
    Client::Completion m_completion;
    ParsedUrl m_url;
    tcp::resolver m_resolver;
    asio::steady_timer m_deadline;
    std::shared_ptr<Connection> m_connection;
    beast::http::request<beast::http::string_body> m_httpRequest;
    std::optional<beast::http::response_parser<beast::http::string_body>> m_parser;
    bool m_done = false;
};

Client::Client(std::shared_ptr<asio::ssl::context> tls)
    : m_tls(std::move(tls))
{
    m_thread = std::thread([this] {
        auto work = asio::make_work_guard(m_context);
        m_context.run();
    });
}

Client::~Client()
{
    m_context.stop();
    m_thread.join();
}

Client& Client::shared()
{
    static Client client(tls::sharedClientContext());
    return client;
}

std::shared_ptr<Exchange> Client::send(Request request, Completion completion)
{
    auto exchange = std::make_shared<Exchange>(*this, std::move(request), std::move(completion));
    asio::post(m_context, [exchange] { exchange->start(); });
    return exchange;
}

void Client::cancel(const std::shared_ptr<Exchange>& exchange)
{
    asio::post(m_context, [exchange] { exchange->cancel(); });
}

std::shared_ptr<Connection> Client::takeIdleConnection(const std::string& hostKey)
{
    auto found = m_idle.find(hostKey);
    if (found == m_idle.end() || found->second.empty()) {
        return nullptr;
    }
    auto connection = std::move(found->second.back());
    found->second.pop_back();
    return connection;
}

void Client::keepIdleConnection(std::shared_ptr<Connection> connection)
{
    auto& idle = m_idle[connection->hostKey];
    if (idle.size() < kIdleConnectionsPerHost) {
        idle.push_back(std::move(connection));
    } else {
        connection->close();
    }
}

} // namespace vantrel::http
