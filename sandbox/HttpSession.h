#pragma once

#include "sandbox/HttpMessages.h"
#include "sandbox/ServerTlsStream.h"

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl/context.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/http/parser.hpp>

#include <chrono>
#include <memory>
#include <optional>

namespace vantrel::sandbox {

class ServiceRouter;
struct ServiceState;

/**
 * One accepted HTTPS connection: TLS handshake, then HTTP/1.1 requests one after another (keep-alive honoured).
 * Applies the HTTP faults, hands requests to the router, and hands relay upgrade requests over to a new
 * RelaySession. Lives on the loop of its socket (the socket's executor), which runs on one thread.
 */
class HttpSession : public std::enable_shared_from_this<HttpSession> {
public:
    HttpSession(boost::asio::ip::tcp::socket socket, boost::asio::ssl::context& tls, ServiceState& state,
                ServiceRouter& router);

    void run();

private:
    /** Closes the stream unless the next step is done within timeout (until the next call, or the end). */
    void startTimeout(std::chrono::steady_clock::duration timeout);
    void onHandshake(const boost::system::error_code& error);
    void doRead();
    void onRead(const boost::system::error_code& error);
    void dispatchRequest();
    void answer(HttpResponse response);
    void onWrite(const boost::system::error_code& error, bool close);
    void upgradeToRelay();
    void doClose();
    /** Closes the TCP connection without a TLS goodbye or an answer. */
    void abort();

    std::optional<ServerTlsStream> m_stream; // moves into a RelaySession on upgrade
    ServiceState& m_state; // outlives every session
    ServiceRouter& m_router; // outlives every session
    boost::beast::flat_buffer m_buffer;
    std::optional<boost::beast::http::request_parser<boost::beast::http::string_body>> m_parser;
    HttpRequest m_request; // the request being answered
    std::shared_ptr<HttpResponse> m_response; // the answer being written
    boost::asio::steady_timer m_timeout; // the handshake's, then each request's deadline
    boost::asio::steady_timer m_delay; // delay faults
    boost::asio::steady_timer m_awaitingAnswer; // holds the session on its loop while the router works
};

} // namespace vantrel::sandbox
