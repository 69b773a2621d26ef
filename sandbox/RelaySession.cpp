#include "sandbox/RelaySession.h"

#include "ShellCore/Bencode.h"
#include "platform/Log.h"
#include "sandbox/RelayPackets.h"
#include "sandbox/RelayRoute.h"
#include "sandbox/ServiceState.h"

#include <boost/asio/buffer.hpp>
#include <boost/asio/dispatch.hpp>
#include <boost/asio/ssl/error.hpp>
#include <boost/beast/core/error.hpp>

#include <array>
#include <chrono>
#include <cstring>

namespace vantrel::sandbox {

namespace net = boost::asio;
namespace beast = boost::beast;
namespace websocket = beast::websocket;

namespace {

/** Largest client message accepted; the product sends at most one local read per packet. */
constexpr std::size_t kMaxClientMessage = 8 * 1024 * 1024;
/** Payloads this small are copied out of the read buffer, which is then reused. */
constexpr std::size_t kAdoptFrom = 16 * 1024;
/** Largest read buffer a connection keeps between messages. */
constexpr std::size_t kKeptReadBuffer = 64 * 1024;
/** Target reads this small that have to wait in the queue are copied out, giving their pool block back. */
constexpr std::size_t kCopyBelow = 16 * 1024;

/** The peer or the sandbox ended the connection: nothing worth a log line. */
bool isStopped(const boost::system::error_code& error)
{
    return error == net::error::operation_aborted || error == websocket::error::closed || error == net::error::eof
        || error == beast::error::timeout || error == net::ssl::error::stream_truncated
        || error == net::error::connection_reset || error == net::error::broken_pipe
        || error == net::error::bad_descriptor;
}

} // namespace

RelaySession::Outgoing RelaySession::Outgoing::whole(std::string packet, bool text)
{
    Outgoing message;
    message.packet = std::move(packet);
    message.text = text;
    return message;
}

RelaySession::RelaySession(ServerTlsStream stream, ServiceState& state, std::string serial)
    : m_ws(std::move(stream))
    , m_state(state)
    , m_serial(std::move(serial))
    , m_pingTimer(m_ws.get_executor())
{
}

RelaySession::~RelaySession()
{
    if (!m_identity.empty()) {
        m_state.relays.remove(m_identity);
    }
}

void RelaySession::run(HttpRequest request)
{
    websocket::stream_base::timeout timeouts = websocket::stream_base::timeout::suggested(beast::role_type::server);
    timeouts.handshake_timeout = std::chrono::seconds(10);
    timeouts.idle_timeout = websocket::stream_base::none(); // the relay's own pings watch the peer
    m_ws.set_option(timeouts);
    m_ws.read_message_max(kMaxClientMessage);
    m_ws.auto_fragment(false);
    m_ws.async_accept(request,
                      [self = shared_from_this()](const boost::system::error_code& error) { self->onAccept(error); });
}

void RelaySession::onAccept(const boost::system::error_code& error)
{
    if (error) {
        logFormat("sandbox relay: handshake for {} failed: {}", m_serial, error.message());
        return;
    }
    m_open = true;
    m_identity = m_state.relays.add(weak_from_this(), m_serial);
    for (const Fault& fault : m_state.faults.takeRelay()) {
        showFault(fault);
    }
    schedulePing();
    doRead();
}

void RelaySession::openRoute(net::ip::tcp::endpoint target, RouteOpened done)
{
    net::dispatch(m_ws.get_executor(), [self = shared_from_this(), target, done = std::move(done)]() mutable {
        self->startRoute(target, std::move(done));
    });
}

void RelaySession::startRoute(net::ip::tcp::endpoint target, RouteOpened done)
{
    if (!m_open) {
        done(std::nullopt);
        return;
    }
    const std::int64_t number = m_state.relays.nextRoute();
    auto route = std::make_shared<RelayRoute>(m_ws.get_executor(), number, weak_from_this(), m_state.relays);
    m_connectingRoutes[number] = route;
    route->connect(target, [self = shared_from_this(), number, done = std::move(done)](bool connected) {
        self->onRouteConnected(number, connected, done);
    });
}

void RelaySession::onRouteConnected(std::int64_t route, bool connected, const RouteOpened& done)
{
    const auto found = m_connectingRoutes.find(route);
    if (found == m_connectingRoutes.end()) {
        done(std::nullopt); // the session finished meanwhile and closed the route
        return;
    }
    const std::shared_ptr<RelayRoute> opened = found->second;
    m_connectingRoutes.erase(found);
    if (!connected || !m_open) {
        opened->close();
        done(std::nullopt);
        return;
    }
    m_routes[route] = opened;
    m_state.relays.routesOpened.fetch_add(1);
    m_state.relays.routesOpen.fetch_add(1);
    queue(Outgoing::whole(relayPacket({"14", std::to_string(route)})));
    done(route);
    opened->startReading();
}

void RelaySession::applyFault(Fault fault)
{
    net::dispatch(m_ws.get_executor(),
                  [self = shared_from_this(), fault = std::move(fault)]() { self->showFault(fault); });
}

void RelaySession::showFault(const Fault& fault)
{
    if (!m_open) {
        return;
    }
    switch (fault.kind) {
    case Fault::Kind::relayDrop:
        drop();
        return;
    case Fault::Kind::relayStall:
        m_stalled = true;
        m_pingTimer.cancel();
        return;
    case Fault::Kind::relayMalformed:
        break;
    default:
        return;
    }
    switch (fault.malformed) {
    case Fault::Malformed::garbage:
        queue(Outgoing::whole(std::string("x\xff"
                                          "garbage: not bencode")));
        break;
    case Fault::Malformed::text:
        queue(Outgoing::whole(relayPacket({"9", "text-frame-identity"}), true));
        break;
    case Fault::Malformed::unknownType:
        queue(Outgoing::whole(relayPacket({"42", "unknown"})));
        break;
    case Fault::Malformed::oversized: {
        Outgoing message;
        message.payloadSize = fault.bytes;
        message.header = RelayPayloadHeader(16, std::nullopt, message.payloadSize);
        message.copy = std::make_unique<char[]>(message.payloadSize);
        std::fill_n(message.copy.get(), message.payloadSize, 'x');
        queue(std::move(message));
        break;
    }
    case Fault::Malformed::integerType: {
        std::string packet;
        BencodeWriter(packet).beginList().integer(9).bytes("integer-type-identity").end();
        queue(Outgoing::whole(std::move(packet)));
        break;
    }
    }
}

void RelaySession::drop()
{
    auto& socket = m_ws.next_layer().tls().socket();
    boost::system::error_code ignored;
    socket.shutdown(net::ip::tcp::socket::shutdown_both, ignored);
    socket.close(ignored);
    finish();
}

bool RelaySession::anyRouteFull() const
{
    for (const auto& [number, route] : m_routes) {
        if (route->writeQueueFull()) {
            return true;
        }
    }
    return false;
}

void RelaySession::doRead()
{
    if (m_reading || m_stalled || !m_open || anyRouteFull()) {
        return;
    }
    m_reading = true;
    m_ws.async_read(m_readBuffer, [self = shared_from_this()](const boost::system::error_code& error, std::size_t) {
        self->onRead(error);
    });
}

void RelaySession::onRead(const boost::system::error_code& error)
{
    m_reading = false;
    if (error) {
        if (!isStopped(error)) {
            logFormat("sandbox relay: {} read failed: {}", m_identity, error.message());
        }
        finish();
        return;
    }
    if (m_stalled || !m_open) {
        return; // a stalled connection ignores what was already on its way
    }
    handleMessage();
    doRead();
}

void RelaySession::handleMessage()
{
    const std::string_view message(static_cast<const char*>(m_readBuffer.data().data()), m_readBuffer.size());
    const auto document = m_ws.got_binary() ? decodeBencode(message) : Result<BencodeDocument>(Error {});
    const auto root = document ? std::optional(document.value().root()) : std::nullopt;
    const auto type = root && root->isList() && root->size() > 0 ? incomingInteger(*root->element(0)) : std::nullopt;
    if (!type) {
        m_state.relays.packetsIgnored.fetch_add(1);
        m_readBuffer.consume(m_readBuffer.size());
        return;
    }
    if (*type == 1) {
        queue(Outgoing::whole(relayPacket({"9", m_identity})));
    } else if (*type == 5 && root->size() == 3 && incomingInteger(*root->element(1)) && root->element(2)->bytes()) {
        handlePayload(*incomingInteger(*root->element(1)), *root->element(2)->bytes());
        return; // handlePayload has used the buffer
    } else if (*type == 8) {
        handlePong(root->size() > 1 ? pingText(*root->element(1)) : std::string());
    } else {
        m_state.relays.packetsIgnored.fetch_add(1);
    }
    m_readBuffer.consume(m_readBuffer.size());
    if (m_readBuffer.capacity() > kKeptReadBuffer) {
        m_readBuffer = beast::flat_buffer(); // an odd large message does not pin its memory
    }
}

void RelaySession::handlePayload(std::int64_t route, std::string_view payload)
{
    const auto found = m_routes.find(route);
    if (found == m_routes.end()) {
        m_state.relays.packetsIgnored.fetch_add(1);
        m_readBuffer.consume(m_readBuffer.size());
        return;
    }
    RelayRoute& target = *found->second;
    // Usually the target takes it all at once, straight from the message; the read buffer is then reused.
    payload.remove_prefix(target.writeNow(payload));
    if (payload.size() < kAdoptFrom) {
        if (!payload.empty()) {
            target.write(PayloadChunk::copy(payload));
        }
        m_readBuffer.consume(m_readBuffer.size());
        return;
    }
    // What is left of a large payload keeps the message buffer it arrived in; the next read gets a fresh one.
    const auto offset = static_cast<std::size_t>(payload.data() - static_cast<const char*>(m_readBuffer.data().data()));
    target.write(PayloadChunk::adopt(std::move(m_readBuffer), offset, payload.size()));
    m_readBuffer = beast::flat_buffer();
}

void RelaySession::handlePong(std::string text)
{
    if (m_awaitedPong && *m_awaitedPong == text) {
        m_awaitedPong.reset();
        m_state.relays.pongsReceived.fetch_add(1);
    } else {
        m_state.relays.packetsIgnored.fetch_add(1);
    }
}

void RelaySession::sendTargetBytes(std::int64_t route, BufferPool::Buffer block, std::size_t size)
{
    Outgoing message;
    message.header = RelayPayloadHeader(6, route, size);
    message.payloadSize = size;
    if (size < kCopyBelow && !m_outgoing.empty()) {
        // It has to wait: a few bytes should not hold a whole block meanwhile.
        message.copy = std::make_unique<char[]>(size);
        std::memcpy(message.copy.get(), block.data(), size);
    } else {
        message.block = std::move(block);
    }
    queue(std::move(message));
}

void RelaySession::routeEnded(std::int64_t route)
{
    if (m_routes.erase(route) == 0) {
        return;
    }
    m_state.relays.routesOpen.fetch_sub(1);
    queue(Outgoing::whole(relayPacket({"19"})));
    doRead(); // the ended route may have been the one holding reading back
}

void RelaySession::routeDrained()
{
    doRead();
}

bool RelaySession::outgoingFull() const
{
    return m_outgoingBytes >= RelayRoute::kQueueLimit;
}

void RelaySession::queue(Outgoing message)
{
    if (!m_open) {
        return;
    }
    m_outgoingBytes += message.size();
    m_outgoing.push_back(std::move(message));
    if (!m_writing && !m_stalled) {
        doWrite();
    }
}

void RelaySession::doWrite()
{
    m_writing = true;
    const Outgoing& message = m_outgoing.front();
    m_ws.binary(!message.text);
    // One frame straight from where the bytes are: the payload is never gathered into a message buffer.
    const std::string_view trailer = message.hasPayload() ? RelayPayloadHeader::kTrailer : std::string_view();
    const std::array<net::const_buffer, 4> buffers {net::buffer(message.packet), net::buffer(message.header.text()),
                                                    net::buffer(message.payload(), message.payloadSize),
                                                    net::buffer(trailer)};
    m_ws.async_write(buffers, [self = shared_from_this()](const boost::system::error_code& error, std::size_t) {
        self->onWrite(error);
    });
}

void RelaySession::onWrite(const boost::system::error_code& error)
{
    m_writing = false;
    if (error) {
        if (!isStopped(error)) {
            logFormat("sandbox relay: {} write failed: {}", m_identity, error.message());
        }
        finish();
        return;
    }
    if (!m_open) {
        return;
    }
    const bool wasFull = outgoingFull();
    m_outgoingBytes -= m_outgoing.front().size();
    m_outgoing.pop_front();
    if (!m_outgoing.empty() && !m_stalled) {
        doWrite();
    }
    if (wasFull && !outgoingFull()) {
        for (const auto& [number, route] : m_routes) {
            route->resumeReading();
        }
    }
}

void RelaySession::schedulePing()
{
    m_pingTimer.expires_after(m_state.pingInterval);
    m_pingTimer.async_wait(
        [self = shared_from_this()](const boost::system::error_code& error) { self->onPingTimer(error); });
}

void RelaySession::onPingTimer(const boost::system::error_code& error)
{
    if (error || !m_open || m_stalled) {
        return;
    }
    if (m_awaitedPong) {
        m_state.relays.missedPongs.fetch_add(1);
        logFormat("sandbox relay: {} missed its pong, closing", m_identity);
        if (m_writing) {
            drop(); // a close frame cannot go out while a message is half written
            return;
        }
        m_open = false; // the close frame is the last thing written
        m_ws.async_close(websocket::close_reason(websocket::close_code::policy_error, "missed pong"),
                         [self = shared_from_this()](const boost::system::error_code&) { self->finish(); });
        return;
    }
    m_awaitedPong = std::to_string(++m_pingCounter);
    m_state.relays.pingsSent.fetch_add(1);
    queue(Outgoing::whole(relayPacket({"7", *m_awaitedPong})));
    schedulePing();
}

void RelaySession::finish()
{
    if (m_finished) {
        return;
    }
    m_finished = true;
    m_open = false;
    m_pingTimer.cancel();
    for (const auto& [number, route] : m_routes) {
        route->close();
        m_state.relays.routesOpen.fetch_sub(1);
    }
    m_routes.clear();
    for (const auto& [number, route] : m_connectingRoutes) {
        route->close();
    }
    if (!m_identity.empty()) {
        m_state.relays.remove(m_identity);
    }
    boost::system::error_code ignored;
    m_ws.next_layer().tls().socket().close(ignored);
}

} // namespace vantrel::sandbox
