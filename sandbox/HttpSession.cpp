#include "sandbox/HttpSession.h"

#include "platform/Log.h"
#include "sandbox/RelaySession.h"
#include "sandbox/ServiceRouter.h"
#include "sandbox/ServiceState.h"

#include <boost/asio/dispatch.hpp>
#include <boost/asio/post.hpp>
#include <boost/beast/core/error.hpp>
#include <boost/beast/http/error.hpp>
#include <boost/beast/http/read.hpp>
#include <boost/beast/http/write.hpp>
#include <boost/beast/websocket/rfc6455.hpp>

#include <chrono>

namespace vantrel::sandbox {

namespace net = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;

namespace {

constexpr auto kHandshakeTimeout = std::chrono::seconds(10);
constexpr auto kIdleTimeout = std::chrono::seconds(60);
/** How long a closing connection waits for the client to close its side. */
constexpr auto kCloseTimeout = std::chrono::seconds(2);
constexpr std::uint64_t kMaxRequestBody = 64 * 1024 * 1024;

bool startsWith(std::string_view text, std::string_view prefix)
{
    return text.substr(0, prefix.size()) == prefix;
}

} // namespace

HttpSession::HttpSession(net::ip::tcp::socket socket, net::ssl::context& tls, ServiceState& state,
                         ServiceRouter& router)
    : m_stream(std::in_place,
               std::make_unique<TlsStream>(socket.get_executor(), tls.native_handle(), TlsStream::Role::Server))
    , m_state(state)
    , m_router(router)
    , m_timeout(socket.get_executor())
    , m_delay(socket.get_executor())
    , m_awaitingAnswer(socket.get_executor())
{
    m_stream->tls().socket() = std::move(socket);
}

void HttpSession::run()
{
    net::dispatch(m_stream->get_executor(), [self = shared_from_this()]() {
        self->startTimeout(kHandshakeTimeout);
        self->m_stream->tls().async_handshake(
            [self](const boost::system::error_code& error, std::size_t) { self->onHandshake(error); });
    });
}

void HttpSession::startTimeout(std::chrono::steady_clock::duration timeout)
{
    m_timeout.expires_after(timeout);
    m_timeout.async_wait([self = shared_from_this()](const boost::system::error_code& error) {
        if (!error && self->m_stream) {
            self->m_stream->tls().shutdownAndClose(); // the pending step fails and ends the session
        }
    });
}

void HttpSession::onHandshake(const boost::system::error_code& error)
{
    if (error) {
        abort(); // a client that gave up or distrusts the certificate; nothing to answer
        return;
    }
    doRead();
}

void HttpSession::doRead()
{
    m_parser.emplace();
    m_parser->body_limit(kMaxRequestBody);
    startTimeout(kIdleTimeout); // also bounds the answer's write
    http::async_read(
        *m_stream, m_buffer, *m_parser,
        [self = shared_from_this()](const boost::system::error_code& error, std::size_t) { self->onRead(error); });
}

void HttpSession::onRead(const boost::system::error_code& error)
{
    if (error == http::error::end_of_stream) {
        doClose();
        return;
    }
    if (error == http::error::body_limit) {
        m_request = {};
        m_request.keep_alive(false);
        answer(detailResponse(HttpStatus::payload_too_large, "The request body is larger than 64 MiB."));
        return;
    }
    if (error) {
        abort();
        return;
    }
    m_request = m_parser->release();
    m_state.traffic.recordRequest(m_request);
    const std::string path = RequestTarget::parse(m_request.target()).path;
    if (startsWith(path, paths::kControl)) {
        dispatchRequest();
        return;
    }
    const FaultList::HttpPlan plan = m_state.faults.takeHttp(path);
    auto proceed = [self = shared_from_this(), plan]() {
        if (plan.close) {
            self->abort();
        } else if (plan.answer) {
            self->answer(jsonResponse(static_cast<HttpStatus>(plan.answer->status), plan.answer->answerBody()));
        } else {
            self->dispatchRequest();
        }
    };
    if (plan.delay.count() == 0) {
        proceed();
        return;
    }
    m_delay.expires_after(plan.delay);
    m_delay.async_wait([proceed](const boost::system::error_code& waitError) {
        if (!waitError) {
            proceed();
        }
    });
}

void HttpSession::dispatchRequest()
{
    if (beast::websocket::is_upgrade(m_request)) {
        upgradeToRelay();
        return;
    }
    // The answer may come from another loop (a ports call waits for the relay connection's loop). The session's
    // own loop keeps it alive meanwhile, so that no other loop owns it when the loops are destroyed.
    m_awaitingAnswer.expires_at(net::steady_timer::time_point::max());
    m_awaitingAnswer.async_wait([self = shared_from_this()](const boost::system::error_code&) {});
    const auto executor = m_stream->get_executor();
    m_router.route(m_request, [weak = weak_from_this(), executor](HttpResponse response) {
        net::post(executor, [weak, response = std::move(response)]() mutable {
            if (const auto self = weak.lock()) {
                self->m_awaitingAnswer.cancel();
                self->answer(std::move(response));
            }
        });
    });
}

void HttpSession::upgradeToRelay()
{
    const RequestTarget target = RequestTarget::parse(m_request.target());
    if (target.path != paths::kRelay) {
        answer(detailResponse(HttpStatus::not_found, "Not found."));
        return;
    }
    const auto serial = target.query.find("device");
    const FixtureDevice* device = serial == target.query.end() ? nullptr : m_state.fixture.findDevice(serial->second);
    if (!device) {
        answer(detailResponse(HttpStatus::not_found, "Unknown device."));
        return;
    }
    if (!device->online) {
        answer(detailResponse(HttpStatus::service_unavailable, "The device is offline."));
        return;
    }
    m_timeout.cancel(); // the WebSocket has timeouts of its own
    ServerTlsStream stream = std::move(*m_stream);
    m_stream.reset();
    std::make_shared<RelaySession>(std::move(stream), m_state, device->serial)->run(std::move(m_request));
}

void HttpSession::answer(HttpResponse response)
{
    response.version(m_request.version() == 10 ? 10 : 11);
    response.keep_alive(m_request.keep_alive());
    response.set(http::field::server, "corvane-sandbox");
    const unsigned status = response.result_int();
    if (status / 100 == 1 || status == 204 || status == 304) {
        // These answers never carry a body (a status fault may still name one).
        response.body().clear();
        response.erase(http::field::content_type);
    }
    response.prepare_payload();
    if (m_request.method() == http::verb::head) {
        response.body().clear(); // the length of the GET answer stays in Content-Length
    }
    m_response = std::make_shared<HttpResponse>(std::move(response));
    const bool close = m_response->need_eof();
    http::async_write(*m_stream, *m_response,
                      [self = shared_from_this(), close](const boost::system::error_code& error, std::size_t) {
                          self->onWrite(error, close);
                      });
}

void HttpSession::onWrite(const boost::system::error_code& error, bool close)
{
    m_response.reset();
    if (error) {
        abort();
        return;
    }
    if (close) {
        doClose();
        return;
    }
    doRead();
}

void HttpSession::doClose()
{
    startTimeout(kCloseTimeout);
    m_stream->endSending();
    m_stream->async_awaitPeerClose(
        [self = shared_from_this()](const boost::system::error_code&) { self->m_timeout.cancel(); });
}

void HttpSession::abort()
{
    m_timeout.cancel();
    boost::system::error_code ignored;
    m_stream->tls().socket().shutdown(net::ip::tcp::socket::shutdown_both, ignored);
    m_stream->tls().socket().close(ignored);
}

} // namespace vantrel::sandbox
