#pragma once

#include "ShellCore/BencodePayloadHeader.h"
#include "ShellCore/M2MRoutingSocketConnectorDelegate.h"
#include "ShellCore/TlsStream.h"

#include "core/Url.h"

#include <boost/asio/steady_timer.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/websocket/stream.hpp>

#include <cstdint>
#include <deque>
#include <functional>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace vantrel {

/**
 * The relay connection of one forwarded connection: a WebSocket over TLS to the relay, for one device. It encodes
 * outgoing packets, decodes incoming ones, answers the relay's pings itself and hands every other packet to its
 * listeners. It knows nothing of identities, ports or local sockets.
 *
 * Runs on the executor it is given (its owner's, a serial one): every call must be made there, and every listener
 * callback is made there. Never reopened: each forwarded connection gets a new connector.
 */
class M2MRoutingSocketConnector : public std::enable_shared_from_this<M2MRoutingSocketConnector> {
public:
    /** Called once the bytes of a packet are no longer needed: written to the socket, or the connection gone. */
    using WriteCompletion = std::function<void()>;
    /** An element of an outgoing packet: an integer, or a byte string (copied). */
    using Element = std::variant<std::int64_t, std::string_view>;

    /** Relay messages larger than this end the connection. */
    static constexpr std::size_t kMaxMessageSize = 4 * 1024 * 1024;

    /** A connector for the device, not yet open. */
    static std::shared_ptr<M2MRoutingSocketConnector> createWithSerial(const std::string& serial,
                                                                       const boost::asio::any_io_executor& executor);

    /** "CorvaneVantrel/<short version>(<build>) osX/<system version>". */
    static std::string getUserAgent();
    /** The relay address for a device: the relay base (the test relay in debug mode), "?device=" and the serial. */
    static std::string relayAddressFor(const std::string& serial);

    /** Appends a listener (not owned; it must remove itself, or be removed, before it goes away). */
    void addDelegate(M2MRoutingSocketConnectorDelegate* delegate);
    void removeDelegate(M2MRoutingSocketConnectorDelegate* delegate);

    /** Opens the connection: M2MOnConnected when open, M2MOnError when it cannot be opened. */
    void doConnect();
    /** Closes the connection if it exists; no listener callback follows. */
    void disconnect();

    /** Sends the one-element packet [type] if the connection is open; otherwise drops it. */
    void sendMessage(std::int64_t type);
    /** Sends the packet made of the elements if the connection is open; otherwise drops it. */
    void sendArray(std::initializer_list<Element> elements);
    /**
     * Sends [type, port, data] if the connection is open; otherwise drops it. Without whenSent the data is copied;
     * with it, the data is sent from where it is and must stay there until whenSent runs (always exactly once).
     */
    void sendMessage(std::int64_t type, std::int64_t port, std::string_view data, WriteCompletion whenSent = {});
    /** Sends the window-size control packet (type 22) when all three values are given and the connection is open. */
    void sendResizeControl(std::optional<int> width, std::optional<int> height, std::optional<std::int64_t> port);

    /**
     * Holds back the next incoming packet until as many resumeReading calls have been made: a listener that still
     * uses the bytes of the packet being delivered suspends, and resumes when it is done with them.
     */
    void suspendReading();
    void resumeReading();

    bool isOpen() const { return m_state == State::Open; }

    struct PrivateTag {};
    M2MRoutingSocketConnector(PrivateTag, std::string serial, const boost::asio::any_io_executor& executor);

private:
    enum class State { Created, Opening, Open, Closed };

    struct Outgoing {
        std::string packet;                        ///< a whole small packet, encoded (pongs, control packets)
        std::optional<BencodePayloadHeader> header; ///< or: the start of a [type, port, data] packet...
        std::string_view payload;                  ///< ...its data, sent from where it is (not owned)...
        std::string_view trailer;                  ///< ...and its end
        WriteCompletion whenSent;

        std::string_view head() const { return header ? header->text() : std::string_view(packet); }
    };
    void onResolve(const boost::system::error_code& error, const boost::asio::ip::tcp::resolver::results_type& found);
    void onConnect(const boost::system::error_code& error);
    void onTlsHandshake(const boost::system::error_code& error);
    void onWebSocketHandshake(const boost::system::error_code& error);
    void failOpening(Error error);

    void doRead();
    void onRead(const boost::system::error_code& error);
    void deliver(std::string_view message);
    void finishDelivery();

    void enqueue(Outgoing message);
    void doWrite();
    void onWrite(const boost::system::error_code& error);
    void dropQueuedWrites();

    void closeTransport();
    void reportClosed(const boost::system::error_code& error);
    std::vector<M2MRoutingSocketConnectorDelegate*> safeDelegates() const;

    const std::string deviceSerial;
    const std::string m_address;
    std::optional<ParsedUrl> m_url;
    boost::asio::ip::tcp::resolver m_resolver;
    boost::asio::steady_timer m_openingDeadline;
    boost::beast::websocket::stream<TlsStream> socket;
    std::vector<M2MRoutingSocketConnectorDelegate*> delegates; // not owned
    State m_state = State::Created;

    boost::beast::flat_buffer m_readBuffer; // the message being delivered, kept while reading is suspended
    int m_suspensions = 0;
    bool m_deliveryPending = false; // a delivered message waits for its suspensions to end

    std::deque<Outgoing> m_writeQueue;
    bool m_writing = false;
};

} // namespace vantrel
