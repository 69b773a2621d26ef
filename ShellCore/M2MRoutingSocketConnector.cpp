#include "ShellCore/M2MRoutingSocketConnector.h"

#include "ShellCore/Bencode.h"

#include "core/Deployment.h"
#include "core/JsonValue.h"
#include "core/NetworkError.h"
#include "core/TlsClient.h"
#include "core/TlsSessionCache.h"
#include "core/UserDefaults.h"

#include "platform/Log.h"
#include "platform/ProgramInfo.h"

#include <boost/asio/connect.hpp>
#include <boost/beast/websocket/error.hpp>

#include <algorithm>
#include <array>

namespace vantrel {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace websocket = boost::beast::websocket;
using boost::system::error_code;

namespace {

constexpr auto kOpeningTimeout = std::chrono::seconds(30);
// A local read (64 KiB) is masked and written as one frame; the buffer is allocated on the first write and only
// its touched pages take memory, so connections that carry little stay small.
constexpr std::size_t kWebSocketWriteBuffer = 64 * 1024;
constexpr std::int64_t kPingType = 7;
constexpr std::int64_t kPongType = 8;
constexpr std::int64_t kResizeType = 22;

Error relayError(int code, const std::string& description)
{
    return networkError(code, description);
}

// "https" for "wss" (and "http" for "ws"), "://", the host, the port only when the address names one, "/".
std::string originFor(const ParsedUrl& url)
{
    const std::string scheme = url.scheme == "wss" ? "https" : url.scheme == "ws" ? "http" : url.scheme;
    return scheme + "://" + url.hostHeader() + "/";
}

} // namespace

M2MRoutingSocketConnector::M2MRoutingSocketConnector(PrivateTag, std::string serial,
                                                     const asio::any_io_executor& executor)
    : deviceSerial(std::move(serial))
    , m_address(relayAddressFor(deviceSerial))
    , m_resolver(executor)
    , m_openingDeadline(executor)
    , socket(executor, tls::sharedClientContext()->native_handle())
{
    socket.binary(true);
    socket.auto_fragment(false);
    socket.read_message_max(kMaxMessageSize);
    socket.write_buffer_bytes(kWebSocketWriteBuffer);
    websocket::stream_base::timeout timeouts{};
    timeouts.handshake_timeout = kOpeningTimeout;
    timeouts.idle_timeout = websocket::stream_base::none();
    timeouts.keep_alive_pings = false;
    socket.set_option(timeouts);
}

std::shared_ptr<M2MRoutingSocketConnector> M2MRoutingSocketConnector::createWithSerial(
    const std::string& serial, const asio::any_io_executor& executor)
{
    return std::make_shared<M2MRoutingSocketConnector>(PrivateTag{}, serial, executor);
}

std::string M2MRoutingSocketConnector::getUserAgent()
{
    const platform::ProgramInfo& program = platform::currentProgram();
    return fmt::format("CorvaneVantrel/{}({}) osX/{}", program.shortVersion, program.build,
                       platform::operatingSystemVersion());
}

std::string M2MRoutingSocketConnector::relayAddressFor(const std::string& serial)
{
    return fmt::format("{}?device={}", deployment::relayBaseUrl(UserDefaults::coreInstance().getDebugMode()), serial);
}

void M2MRoutingSocketConnector::addDelegate(M2MRoutingSocketConnectorDelegate* delegate)
{
    delegates.push_back(delegate);
}

void M2MRoutingSocketConnector::removeDelegate(M2MRoutingSocketConnectorDelegate* delegate)
{
    delegates.erase(std::remove(delegates.begin(), delegates.end(), delegate), delegates.end());
}

std::vector<M2MRoutingSocketConnectorDelegate*> M2MRoutingSocketConnector::safeDelegates() const
{
    return delegates;
}

// ---- Opening ----

void M2MRoutingSocketConnector::doConnect()
{
    if (m_state != State::Created) {
        return;
    }
    m_state = State::Opening;
    auto url = parseUrl(m_address);
    if (!url) {
        failOpening(url.error());
        return;
    }
    m_url = std::move(url).value();
    m_openingDeadline.expires_after(kOpeningTimeout);
    m_openingDeadline.async_wait([self = shared_from_this()](const error_code& error) {
        if (!error && self->m_state == State::Opening) {
            self->failOpening(relayError(NetworkError::kTimedOut, "The relay did not answer in time"));
        }
    });
    m_resolver.async_resolve(m_url->host, std::to_string(m_url->port),
                             [self = shared_from_this()](const error_code& error, auto found) {
                                 self->onResolve(error, found);
                             });
}

void M2MRoutingSocketConnector::onResolve(const error_code& error, const asio::ip::tcp::resolver::results_type& found)
{
    if (m_state != State::Opening) {
        return;
    }
    if (error) {
        failOpening(relayError(NetworkError::kCannotFindHost, "The relay could not be found: " + error.message()));
        return;
    }
    asio::async_connect(socket.next_layer().socket(), found,
                        [self = shared_from_this()](const error_code& connectError, const auto&) {
                            self->onConnect(connectError);
                        });
}

void M2MRoutingSocketConnector::onConnect(const error_code& error)
{
    if (m_state != State::Opening) {
        return;
    }
    if (error) {
        failOpening(relayError(NetworkError::kCannotConnectToHost, "Could not connect to the relay: " + error.message()));
        return;
    }
    error_code ignored;
    socket.next_layer().socket().set_option(asio::ip::tcp::no_delay(true), ignored);
    if (const error_code hostError = tls::expectHost(socket.next_layer().native_handle(), m_url->host)) {
        failOpening(tls::handshakeError(hostError, nullptr));
        return;
    }
    tls::TlsSessionCache::prepare(socket.next_layer().native_handle(), m_url->host + ":" + std::to_string(m_url->port));
    socket.next_layer().async_handshake([self = shared_from_this()](const error_code& handshakeError, std::size_t) {
        self->onTlsHandshake(handshakeError);
    });
}

void M2MRoutingSocketConnector::onTlsHandshake(const error_code& error)
{
    if (m_state != State::Opening) {
        return;
    }
    if (error) {
        failOpening(tls::handshakeError(error, socket.next_layer().native_handle()));
        return;
    }
    const std::string userAgent = getUserAgent();
    const std::string origin = originFor(*m_url);
    socket.set_option(websocket::stream_base::decorator([userAgent, origin](websocket::request_type& request) {
        request.set(beast::http::field::user_agent, userAgent);
        request.set(beast::http::field::origin, origin);
    }));
    socket.async_handshake(m_url->hostHeader(), m_url->target,
                           [self = shared_from_this()](const error_code& handshakeError) {
                               self->onWebSocketHandshake(handshakeError);
                           });
}

void M2MRoutingSocketConnector::onWebSocketHandshake(const error_code& error)
{
    if (m_state != State::Opening) {
        return;
    }
    if (error) {
        failOpening(relayError(NetworkError::kBadServerResponse, "The relay refused the connection: " + error.message()));
        return;
    }
    m_openingDeadline.cancel();
    m_state = State::Open;
    for (auto* delegate : safeDelegates()) {
        delegate->M2MOnConnected();
    }
    doRead();
}

void M2MRoutingSocketConnector::failOpening(Error error)
{
    m_state = State::Closed;
    closeTransport();
    for (auto* delegate : safeDelegates()) {
        delegate->M2MOnError(error);
    }
}

// ---- Incoming packets ----

void M2MRoutingSocketConnector::doRead()
{
    socket.async_read(m_readBuffer, [self = shared_from_this()](const error_code& error, std::size_t) {
        self->onRead(error);
    });
}

void M2MRoutingSocketConnector::onRead(const error_code& error)
{
    if (m_state != State::Open) {
        return;
    }
    if (error) {
        reportClosed(error);
        return;
    }
    if (socket.got_text()) {
        logFormat("relay connection for {}: dropped a text message", deviceSerial);
    } else {
        const auto data = m_readBuffer.data();
        deliver(std::string_view(static_cast<const char*>(data.data()), data.size()));
    }
    if (m_state == State::Open && m_suspensions > 0) {
        m_deliveryPending = true; // a listener still uses the message's bytes
        return;
    }
    finishDelivery();
}

void M2MRoutingSocketConnector::deliver(std::string_view message)
{
    auto decoded = decodeBencode(message);
    if (!decoded) {
        logFormat("relay connection for {}: dropped a message that is not bencode ({})", deviceSerial,
                  decoded.error().description);
        return;
    }
    // A packet is a non-empty list whose first element, the type, is a byte string of decimal text: the relay
    // writes every scalar that way. Anything else is not a packet.
    const BencodeValue root = decoded.value().root();
    const auto first = root.element(0);
    const auto type = first && first->isBytes() ? incomingInteger(*first) : std::nullopt;
    if (!type) {
        logFormat("relay connection for {}: dropped a message that is not a packet", deviceSerial);
        return;
    }
    const RelayPacket packet{*type, root};
    if (packet.type == kPingType) {
        if (const auto value = packet.argument(0)) {
            const std::string text = pingText(*value);
            sendArray({kPongType, std::string_view(text)});
        } else {
            sendMessage(kPongType);
        }
        return;
    }
    for (auto* delegate : safeDelegates()) {
        delegate->M2MOnMessageReceived(packet);
    }
}

void M2MRoutingSocketConnector::finishDelivery()
{
    m_deliveryPending = false;
    m_readBuffer.consume(m_readBuffer.size());
    if (m_state == State::Open) {
        doRead();
    }
}

void M2MRoutingSocketConnector::suspendReading()
{
    ++m_suspensions;
}

void M2MRoutingSocketConnector::resumeReading()
{
    if (m_suspensions > 0 && --m_suspensions == 0 && m_deliveryPending) {
        finishDelivery();
    }
}

// ---- Outgoing packets ----

void M2MRoutingSocketConnector::sendMessage(std::int64_t type)
{
    sendArray({type});
}

void M2MRoutingSocketConnector::sendArray(std::initializer_list<Element> elements)
{
    if (m_state != State::Open) {
        return;
    }
    Outgoing message;
    BencodeWriter writer(message.packet);
    writer.beginList();
    for (const Element& element : elements) {
        if (const auto* number = std::get_if<std::int64_t>(&element)) {
            writer.integer(*number);
        } else {
            writer.bytes(std::get<std::string_view>(element));
        }
    }
    writer.end();
    enqueue(std::move(message));
}

void M2MRoutingSocketConnector::sendMessage(std::int64_t type, std::int64_t port, std::string_view data,
                                            WriteCompletion whenSent)
{
    if (m_state != State::Open) {
        if (whenSent) {
            whenSent();
        }
        return;
    }
    Outgoing message;
    if (whenSent) {
        // The hot path: nothing is copied or allocated, the data goes out from the caller's buffer.
        message.header.emplace(type, port, data.size());
        message.payload = data;
        message.trailer = BencodePayloadHeader::kTrailer;
        message.whenSent = std::move(whenSent);
    } else {
        BencodeWriter(message.packet).beginList().integer(type).integer(port).bytes(data).end();
    }
    enqueue(std::move(message));
}

void M2MRoutingSocketConnector::sendResizeControl(std::optional<int> width, std::optional<int> height,
                                                  std::optional<std::int64_t> port)
{
    if (!width || !height || !port) {
        return;
    }
    const std::string control = toPrettyJson(Json{{"type", "window_resize"}, {"size", {*width, *height}}});
    sendArray({kResizeType, *port, std::string_view(control)});
}

void M2MRoutingSocketConnector::enqueue(Outgoing message)
{
    m_writeQueue.push_back(std::move(message));
    if (!m_writing) {
        doWrite();
    }
}

void M2MRoutingSocketConnector::doWrite()
{
    m_writing = true;
    const Outgoing& next = m_writeQueue.front();
    const std::array<asio::const_buffer, 3> packet{asio::buffer(next.head()), asio::buffer(next.payload),
                                                   asio::buffer(next.trailer)};
    socket.async_write(packet, [self = shared_from_this()](const error_code& error, std::size_t) {
        self->onWrite(error);
    });
}

void M2MRoutingSocketConnector::onWrite(const error_code& error)
{
    m_writing = false;
    if (!m_writeQueue.empty()) {
        WriteCompletion whenSent = std::move(m_writeQueue.front().whenSent);
        m_writeQueue.pop_front();
        if (whenSent) {
            whenSent();
        }
    }
    if (error) {
        dropQueuedWrites();
        if (m_state == State::Open) {
            reportClosed(error);
        }
        return;
    }
    if (m_state == State::Open && !m_writeQueue.empty()) {
        doWrite();
    }
}

void M2MRoutingSocketConnector::dropQueuedWrites()
{
    std::deque<Outgoing> dropped;
    dropped.swap(m_writeQueue);
    for (Outgoing& message : dropped) {
        if (message.whenSent) {
            message.whenSent();
        }
    }
}

// ---- Closing ----

void M2MRoutingSocketConnector::disconnect()
{
    if (m_state == State::Closed) {
        return;
    }
    m_state = State::Closed;
    closeTransport();
}

void M2MRoutingSocketConnector::closeTransport()
{
    m_openingDeadline.cancel();
    m_resolver.cancel();
    socket.next_layer().shutdownAndClose();
    if (!m_writing) {
        dropQueuedWrites();
    }
}

void M2MRoutingSocketConnector::reportClosed(const error_code& error)
{
    m_state = State::Closed;
    closeTransport();
    if (error == websocket::error::closed) {
        const websocket::close_reason& reason = socket.reason();
        for (auto* delegate : safeDelegates()) {
            delegate->M2MOnDisconnectedWithCode(reason.code, std::string(reason.reason.c_str()), true);
        }
        return;
    }
    const Error failure = error == websocket::error::message_too_big
        ? relayError(NetworkError::kResponseTooLarge, "The relay sent a message that is too large")
        : relayError(NetworkError::kConnectionLost, "The relay connection was lost: " + error.message());
    for (auto* delegate : safeDelegates()) {
        delegate->M2MOnError(failure);
    }
}

} // namespace vantrel
