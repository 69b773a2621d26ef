#pragma once

#include "ShellCore/BufferPool.h"
#include "sandbox/Fault.h"
#include "sandbox/HttpMessages.h"
#include "sandbox/RelayPayloadHeader.h"
#include "sandbox/ServerTlsStream.h"

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/websocket/stream.hpp>

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

namespace vantrel::sandbox {

class RelayRoute;
struct ServiceState;

/**
 * One relay connection: a WebSocket over TLS for one device serial, carrying bencoded packets.
 *
 * Answers [1] with [9, identity]; routes opened by ports calls (openRoute) carry [5, route, data] to the target
 * and target bytes back as [6, route, data]; a target that ends sends [19]. Pings [7, n] go out every
 * ServiceState::pingInterval and a connection whose pong [8, "n"] has not come by the next ping is closed.
 * Unknown and malformed client messages are counted and ignored.
 *
 * Lives on the loop of its socket; public operations other than run may be called from any thread.
 */
class RelaySession : public std::enable_shared_from_this<RelaySession> {
public:
    /** Gets the route number, or nothing when the target could not be connected or the session has ended. */
    using RouteOpened = std::function<void(std::optional<std::int64_t>)>;

    /** Takes over the TLS connection of the upgrade request (handshake done). */
    RelaySession(ServerTlsStream stream, ServiceState& state, std::string serial);
    ~RelaySession();
    RelaySession(const RelaySession&) = delete;
    RelaySession& operator=(const RelaySession&) = delete;

    /** Completes the WebSocket handshake of the upgrade request, then serves the connection. */
    void run(HttpRequest request);

    /** Connects a new route to target, announces it with [14, route] and reports the route number. */
    void openRoute(boost::asio::ip::tcp::endpoint target, RouteOpened done);

    /** Shows a relay fault (drop, stall or malformed message) on this connection. */
    void applyFault(Fault fault);

    // Called by the routes, on the session's loop.
    /** Sends size bytes of block, read from the route's target, as one [6, route, data] message. */
    void sendTargetBytes(std::int64_t route, BufferPool::Buffer block, std::size_t size);
    void routeEnded(std::int64_t route);
    void routeDrained();
    bool outgoingFull() const;

private:
    /**
     * One WebSocket message waiting to be written: a whole small packet, or a packet with a payload written as
     * header, payload (where it was read, or a copy) and RelayPayloadHeader::kTrailer.
     */
    struct Outgoing {
        std::string packet;
        RelayPayloadHeader header;
        BufferPool::Buffer block; // the payload in the block it was read into, or
        std::unique_ptr<char[]> copy; // the payload copied out of it
        std::size_t payloadSize = 0;
        bool text = false;

        static Outgoing whole(std::string packet, bool text = false);
        const char* payload() const { return block ? block.data() : copy.get(); }
        bool hasPayload() const { return packet.empty(); }
        std::size_t size() const { return packet.size() + header.text().size() + payloadSize; }
    };

    void onAccept(const boost::system::error_code& error);
    void doRead();
    void onRead(const boost::system::error_code& error);
    void handleMessage();
    void handlePayload(std::int64_t route, std::string_view payload);
    void handlePong(std::string text);
    void queue(Outgoing message);
    void doWrite();
    void onWrite(const boost::system::error_code& error);
    void schedulePing();
    void onPingTimer(const boost::system::error_code& error);
    void startRoute(boost::asio::ip::tcp::endpoint target, RouteOpened done);
    void onRouteConnected(std::int64_t route, bool connected, const RouteOpened& done);
    void showFault(const Fault& fault);
    bool anyRouteFull() const;
    /** Ends the session: routes closed, timers stopped, identity forgotten. */
    void finish();
    void drop();

    boost::beast::websocket::stream<ServerTlsStream> m_ws; // owned; the client connection
    ServiceState& m_state; // outlives every session
    const std::string m_serial;
    std::string m_identity; // set once the handshake is done
    boost::beast::flat_buffer m_readBuffer;
    std::deque<Outgoing> m_outgoing;
    std::size_t m_outgoingBytes = 0;
    std::map<std::int64_t, std::shared_ptr<RelayRoute>> m_routes; // open routes by number
    std::map<std::int64_t, std::shared_ptr<RelayRoute>> m_connectingRoutes; // routes still connecting
    boost::asio::steady_timer m_pingTimer;
    std::int64_t m_pingCounter = 0;
    std::optional<std::string> m_awaitedPong; // the value of the last ping, until its pong comes
    bool m_reading = false;
    bool m_writing = false;
    bool m_stalled = false;
    bool m_finished = false;
    bool m_open = false; // handshake done and not finished
};

} // namespace vantrel::sandbox
