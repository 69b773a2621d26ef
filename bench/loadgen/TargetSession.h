#pragma once

#include "bench/loadgen/WireProtocol.h"

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>

#include <array>
#include <memory>
#include <vector>

namespace vantrel::bench {

/**
 * One connection accepted by the target server. Reads the mode byte, then echoes, sinks or sources until the
 * peer closes. Runs on the server's single-threaded io_context; every handler holds shared_from_this().
 */
class TargetSession final : public std::enable_shared_from_this<TargetSession> {
public:
    explicit TargetSession(boost::asio::ip::tcp::socket socket);

    void start();

private:
    void onMode(const boost::system::error_code& error);

    void doEchoRead();
    void onEchoRead(const boost::system::error_code& error, std::size_t size);

    void doSinkRead();
    void onSinkRead(const boost::system::error_code& error, std::size_t size);
    void doReport();
    void onReportDue(const boost::system::error_code& error);

    void doSourceWrite();
    void doDiscardRead();

    void stop();

    boost::asio::ip::tcp::socket m_socket;
    boost::asio::steady_timer m_reportTimer;
    char m_mode = 0;
    std::vector<char> m_buffer; ///< read buffer (echo, sink) or the bytes a source repeats
    std::vector<char> m_discard; ///< what a source reads and drops
    std::uint64_t m_received = 0; ///< sink: payload bytes so far
    std::array<unsigned char, SinkReport::kSize> m_report {};
    bool m_reportInFlight = false;
    bool m_stopped = false;
};

} // namespace vantrel::bench
