#include "tests/sandbox/SandboxClient.h"

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl/host_name_verification.hpp>
#include <boost/beast/core/buffers_to_string.hpp>
#include <boost/beast/http/parser.hpp>
#include <boost/beast/http/read.hpp>
#include <boost/beast/http/write.hpp>
#include <boost/beast/websocket/ssl.hpp>

#include <algorithm>
#include <cctype>

namespace vantrel::sandbox::testing {

namespace net = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using ErrorCode = boost::system::error_code;

UrlParts UrlParts::of(const std::string& url)
{
    const auto hostStart = url.find("://") + 3;
    const auto colon = url.find(':', hostStart);
    const auto slash = url.find('/', colon);
    return {static_cast<unsigned short>(std::stoi(url.substr(colon + 1, slash - colon - 1))), url.substr(slash)};
}

ErrorCode Deadline::run(const Step& step, const std::function<void()>& cancel, std::chrono::milliseconds deadline)
{
    std::optional<ErrorCode> result;
    step([&result](ErrorCode error) { result = error; });
    const auto stopAt = std::chrono::steady_clock::now() + deadline;
    while (!result && std::chrono::steady_clock::now() < stopAt) {
        m_context.restart();
        m_context.run_one_until(stopAt);
    }
    if (result) {
        return *result;
    }
    cancel();
    while (!result) {
        m_context.restart();
        m_context.run_one();
    }
    return net::error::timed_out;
}

net::ssl::context clientTls(const std::filesystem::path& caFile)
{
    net::ssl::context tls(net::ssl::context::tls_client);
    tls.load_verify_file(caFile.string());
    tls.set_verify_mode(net::ssl::verify_peer);
    return tls;
}

std::string Answer::header(const std::string& name) const
{
    const auto found = headers.find(name);
    return found == headers.end() ? std::string() : found->second;
}

HttpsClient::HttpsClient(const std::filesystem::path& caFile, unsigned short port, std::string serverName)
    : m_tls(clientTls(caFile))
    , m_port(port)
    , m_serverName(std::move(serverName))
{
}

ErrorCode HttpsClient::connect()
{
    m_stream.emplace(m_io.context(), m_tls);
    m_buffer.clear();
    m_connected = false;
    auto& stream = *m_stream;
    stream.set_verify_callback(net::ssl::host_name_verification(m_serverName));
    const auto cancel = [&stream]() {
        beast::get_lowest_layer(stream).close();
    };
    const net::ip::tcp::endpoint endpoint(net::ip::make_address_v4("127.0.0.1"), m_port);
    ErrorCode error = m_io.run(
        [&](auto done) { beast::get_lowest_layer(stream).async_connect(endpoint, [done](ErrorCode e) { done(e); }); },
        cancel);
    if (!error) {
        error = m_io.run(
            [&](auto done) { stream.async_handshake(net::ssl::stream_base::client, [done](ErrorCode e) { done(e); }); },
            cancel);
    }
    if (!error) {
        m_connected = true;
        ++m_connections;
    }
    return error;
}

Answer HttpsClient::send(http::verb method, const std::string& target, const std::string& body,
                         const std::map<std::string, std::string>& headers)
{
    Answer answer;
    if (!m_connected) {
        answer.error = connect();
        if (answer.error) {
            return answer;
        }
    }
    auto& stream = *m_stream;
    const auto cancel = [&stream]() {
        beast::get_lowest_layer(stream).close();
    };
    http::request<http::string_body> request(method, target, 11);
    request.set(http::field::host, "127.0.0.1:" + std::to_string(m_port));
    request.keep_alive(true);
    for (const auto& [name, value] : headers) {
        request.set(name, value);
    }
    request.body() = body;
    request.prepare_payload();
    answer.error = m_io.run(
        [&](auto done) { http::async_write(stream, request, [done](ErrorCode e, std::size_t) { done(e); }); }, cancel);
    http::response_parser<http::string_body> parser;
    parser.body_limit(64 * 1024 * 1024);
    if (!answer.error) {
        answer.error = m_io.run(
            [&](auto done) {
                http::async_read(stream, m_buffer, parser, [done](ErrorCode e, std::size_t) { done(e); });
            },
            cancel);
    }
    if (answer.error) {
        m_connected = false;
        return answer;
    }
    const auto& response = parser.get();
    answer.status = response.result_int();
    answer.body = response.body();
    for (const auto& field : response) {
        std::string name(field.name_string());
        std::transform(name.begin(), name.end(), name.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        answer.headers[name] = std::string(field.value());
    }
    if (response.need_eof()) {
        m_connected = false;
    }
    return answer;
}

RelayClient::RelayClient(const std::filesystem::path& caFile, unsigned short port)
    : m_tls(clientTls(caFile))
    , m_ws(m_io.context(), m_tls)
    , m_port(port)
{
    m_ws.read_message_max(64 * 1024 * 1024);
}

ErrorCode RelayClient::open(const std::string& target)
{
    auto& tls = m_ws.next_layer();
    tls.set_verify_callback(net::ssl::host_name_verification("127.0.0.1"));
    const auto cancel = [this]() {
        beast::get_lowest_layer(m_ws).close();
    };
    const net::ip::tcp::endpoint endpoint(net::ip::make_address_v4("127.0.0.1"), m_port);
    ErrorCode error = m_io.run(
        [&](auto done) { beast::get_lowest_layer(m_ws).async_connect(endpoint, [done](ErrorCode e) { done(e); }); },
        cancel);
    if (!error) {
        error = m_io.run(
            [&](auto done) { tls.async_handshake(net::ssl::stream_base::client, [done](ErrorCode e) { done(e); }); },
            cancel);
    }
    beast::websocket::response_type response;
    if (!error) {
        error = m_io.run(
            [&](auto done) {
                m_ws.async_handshake(response, "127.0.0.1:" + std::to_string(m_port), target,
                                     [done](ErrorCode e) { done(e); });
            },
            cancel);
    }
    if (error == beast::websocket::error::upgrade_declined) {
        refusedStatus = response.result_int();
    }
    return error;
}

ErrorCode RelayClient::send(const std::string& bytes, bool binary)
{
    m_ws.binary(binary);
    return m_io.run(
        [&](auto done) { m_ws.async_write(net::buffer(bytes), [done](ErrorCode e, std::size_t) { done(e); }); },
        [this]() { beast::get_lowest_layer(m_ws).close(); });
}

std::optional<RelayMessage> RelayClient::read(std::chrono::milliseconds deadline)
{
    lastError = m_io.run([&](auto done) { m_ws.async_read(m_buffer, [done](ErrorCode e, std::size_t) { done(e); }); },
                         [this]() { beast::get_lowest_layer(m_ws).close(); }, deadline);
    if (lastError) {
        return std::nullopt;
    }
    RelayMessage message {beast::buffers_to_string(m_buffer.data()), m_ws.got_binary()};
    m_buffer.consume(m_buffer.size());
    return message;
}

std::optional<RelayMessage> RelayClient::readUntil(const std::function<bool(const RelayMessage&)>& accept,
                                                   std::chrono::milliseconds deadline)
{
    const auto stopAt = std::chrono::steady_clock::now() + deadline;
    while (std::chrono::steady_clock::now() < stopAt) {
        auto message =
            read(std::chrono::duration_cast<std::chrono::milliseconds>(stopAt - std::chrono::steady_clock::now()));
        if (!message || accept(*message)) {
            return message;
        }
    }
    return std::nullopt;
}

ErrorCode RelayClient::close()
{
    return m_io.run(
        [&](auto done) { m_ws.async_close(beast::websocket::close_code::normal, [done](ErrorCode e) { done(e); }); },
        [this]() { beast::get_lowest_layer(m_ws).close(); }, std::chrono::seconds(5));
}

} // namespace vantrel::sandbox::testing
