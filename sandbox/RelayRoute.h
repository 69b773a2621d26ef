#pragma once

#include <boost/asio/any_io_executor.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/beast/core/flat_buffer.hpp>

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace vantrel::sandbox {

class RelaySession;
class RelayRegistry;

/**
 * Bytes of one type-5 packet on their way to a target. Large payloads keep the WebSocket message buffer they
 * arrived in (no copy); small ones are copied out so the session can reuse its read buffer.
 */
class PayloadChunk {
public:
    /** Takes over message, whose bytes [offset, offset + size) are the payload. */
    static PayloadChunk adopt(boost::beast::flat_buffer message, std::size_t offset, std::size_t size);
    static PayloadChunk copy(std::string_view bytes);

    std::string_view bytes() const;
    /** Memory the chunk holds (what the write queue limit counts). */
    std::size_t footprint() const;

private:
    boost::beast::flat_buffer m_message;
    std::string m_copy;
    std::size_t m_offset = 0;
    std::size_t m_size = 0;
    bool m_adopted = false;
};

/**
 * One route of a relay connection: the TCP connection to the device port's target. Runs on its session's
 * loop (all members are touched there only). Bytes from the target go to the session as type-6 payloads;
 * type-5 payloads queue here for the target. Reading stops while the session's outgoing queue is full, and the
 * session stops reading its WebSocket while this route's queue is full (writeQueueFull).
 */
class RelayRoute : public std::enable_shared_from_this<RelayRoute> {
public:
    /** Limit of queued bytes in either direction before the reading side pauses. */
    static constexpr std::size_t kQueueLimit = 1024 * 1024;
    RelayRoute(boost::asio::any_io_executor loop, std::int64_t number, std::weak_ptr<RelaySession> session,
               RelayRegistry& registry);

    /** Connects to the target (5 s at most) and calls done(connected). Reading starts with startReading. */
    void connect(const boost::asio::ip::tcp::endpoint& target, std::function<void(bool)> done);
    void startReading();
    /** Reads again after the session's outgoing queue has drained. */
    void resumeReading();
    /**
     * Writes what the target takes at once without waiting, when nothing is queued before it; returns the count
     * of bytes written (0 when the rest has to be queued with write).
     */
    std::size_t writeNow(std::string_view bytes);
    void write(PayloadChunk chunk);
    bool writeQueueFull() const { return m_queuedBytes >= kQueueLimit; }
    /** Closes the target connection; the session is not told. */
    void close();

    std::int64_t number() const { return m_number; }

private:
    void doWait();
    void onReadable(const boost::system::error_code& error);
    void doWrite();
    void onWrite(const boost::system::error_code& error, std::size_t written);
    /** The target connection ended or failed: close and tell the session. */
    void end();

    boost::asio::ip::tcp::socket m_socket; // owned; the target connection
    boost::asio::steady_timer m_connectTimer; // bounds the connect
    const std::int64_t m_number;
    std::weak_ptr<RelaySession> m_session; // the owner; may be gone while handlers finish
    RelayRegistry& m_registry; // counters; outlives every route
    std::deque<PayloadChunk> m_writeQueue;
    std::size_t m_queuedBytes = 0;
    bool m_waiting = false; // a readiness wait is in flight
    bool m_writing = false;
    bool m_closed = false;
};

} // namespace vantrel::sandbox
