#pragma once

#include "core/JsonValue.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/ssl/context.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/http/string_body.hpp>
#include <boost/beast/http/verb.hpp>
#include <boost/beast/ssl/ssl_stream.hpp>
#include <boost/beast/websocket/stream.hpp>

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>

namespace vantrel::sandbox::testing {

/** Where a URL points: port and target ("https://127.0.0.1:4431/apps/auth/" -> 4431, "/apps/auth/"). */
struct UrlParts {
    unsigned short port = 0;
    std::string target;

    static UrlParts of(const std::string& url);
};

/**
 * Runs asynchronous steps on a private io_context with a deadline, for the tests' clients. A step that misses
 * its deadline is cancelled (via the cancel callback) and reported as timed_out.
 */
class Deadline {
public:
    using Step = std::function<void(std::function<void(boost::system::error_code)>)>;

    boost::system::error_code run(const Step& step, const std::function<void()>& cancel,
                                  std::chrono::milliseconds deadline = std::chrono::seconds(10));
    boost::asio::io_context& context() { return m_context; }

private:
    boost::asio::io_context m_context;
};

/** A TLS context that trusts only the given CA file and checks the server's name. */
boost::asio::ssl::context clientTls(const std::filesystem::path& caFile);

/** One answer as the test client saw it. */
struct Answer {
    int status = 0;
    std::string body;
    std::map<std::string, std::string> headers; ///< lower-case names
    boost::system::error_code error; ///< transport failure; status is 0 then

    Json json() const { return parseJson(body).value_or(Json()); }
    std::string header(const std::string& name) const;
};

/**
 * An HTTPS client on one kept-alive connection to 127.0.0.1, verifying the certificate for serverName.
 * Every step has a deadline of 10 s.
 */
class HttpsClient {
public:
    HttpsClient(const std::filesystem::path& caFile, unsigned short port, std::string serverName = "127.0.0.1");

    /** Connects and does the TLS handshake; the error when the server is not trusted or not there. */
    boost::system::error_code connect();
    /** Sends one request on the connection (connecting first if needed). */
    Answer send(boost::beast::http::verb method, const std::string& target, const std::string& body = {},
                const std::map<std::string, std::string>& headers = {});
    Answer get(const std::string& target, const std::map<std::string, std::string>& headers = {})
    {
        return send(boost::beast::http::verb::get, target, {}, headers);
    }
    Answer post(const std::string& target, const Json& body, const std::map<std::string, std::string>& headers = {})
    {
        return send(boost::beast::http::verb::post, target, toCompactJson(body), headers);
    }
    bool connected() const { return m_connected; }
    /** Connections made so far (1 while keep-alive holds). */
    int connections() const { return m_connections; }

private:
    Deadline m_io;
    boost::asio::ssl::context m_tls;
    std::optional<boost::beast::ssl_stream<boost::beast::tcp_stream>> m_stream;
    boost::beast::flat_buffer m_buffer;
    unsigned short m_port;
    std::string m_serverName;
    bool m_connected = false;
    int m_connections = 0;
};

/** One WebSocket message from the relay. */
struct RelayMessage {
    std::string bytes;
    bool binary = true;
};

/** A relay client: a WebSocket over TLS to "<relay>?device=<serial>". */
class RelayClient {
public:
    RelayClient(const std::filesystem::path& caFile, unsigned short port);

    /** Opens the connection; the HTTP status of a refused upgrade lands in refusedStatus. */
    boost::system::error_code open(const std::string& target);
    boost::system::error_code send(const std::string& bytes, bool binary = true);
    /** The next message, or nothing (with lastError set) when the connection ended or the deadline passed. */
    std::optional<RelayMessage> read(std::chrono::milliseconds deadline = std::chrono::seconds(10));
    /** Reads until a message satisfies accept (others are skipped), within the deadline. */
    std::optional<RelayMessage> readUntil(const std::function<bool(const RelayMessage&)>& accept,
                                          std::chrono::milliseconds deadline = std::chrono::seconds(10));
    boost::system::error_code close();

    boost::system::error_code lastError;
    int refusedStatus = 0;

private:
    Deadline m_io;
    boost::asio::ssl::context m_tls;
    boost::beast::websocket::stream<boost::beast::ssl_stream<boost::beast::tcp_stream>> m_ws;
    boost::beast::flat_buffer m_buffer;
    unsigned short m_port;
};

} // namespace vantrel::sandbox::testing
