#include "bench/loadgen/TargetSession.h"

#include <boost/asio/read.hpp>
#include <boost/asio/write.hpp>

namespace vantrel::bench {

namespace asio = boost::asio;
using boost::system::error_code;

namespace {

constexpr std::size_t kSourceBufferSize = 256 * 1024;

} // namespace

TargetSession::TargetSession(asio::ip::tcp::socket socket)
    : m_socket(std::move(socket))
    , m_reportTimer(m_socket.get_executor())
{
}

void TargetSession::start()
{
    m_socket.set_option(asio::ip::tcp::no_delay(true));
    asio::async_read(m_socket, asio::buffer(&m_mode, 1),
                     [self = shared_from_this()](const error_code& error, std::size_t) { self->onMode(error); });
}

void TargetSession::onMode(const error_code& error)
{
    if (error) {
        return;
    }
    switch (m_mode) {
    case kModeEcho:
        m_buffer.resize(kChunkSize);
        doEchoRead();
        break;
    case kModeSink:
        m_buffer.resize(4 * kChunkSize);
        doSinkRead();
        doReport();
        break;
    case kModeSource:
        // Byte k of the stream is k % 251, as the sandbox's source writes it; 251 does not divide the buffer
        // size, so the pattern only repeats within a buffer, which is all a reader could check.
        m_buffer.resize(kSourceBufferSize);
        for (std::size_t i = 0; i < m_buffer.size(); ++i) {
            m_buffer[i] = static_cast<char>(i % 251);
        }
        m_discard.resize(kChunkSize);
        doSourceWrite();
        doDiscardRead();
        break;
    default:
        stop();
    }
}

void TargetSession::doEchoRead()
{
    m_socket.async_read_some(
        asio::buffer(m_buffer),
        [self = shared_from_this()](const error_code& error, std::size_t size) { self->onEchoRead(error, size); });
}

void TargetSession::onEchoRead(const error_code& error, std::size_t size)
{
    if (error) {
        stop();
        return;
    }
    asio::async_write(m_socket, asio::buffer(m_buffer.data(), size),
                      [self = shared_from_this()](const error_code& writeError, std::size_t) {
                          if (writeError) {
                              self->stop();
                          } else {
                              self->doEchoRead();
                          }
                      });
}

void TargetSession::doSinkRead()
{
    m_socket.async_read_some(
        asio::buffer(m_buffer),
        [self = shared_from_this()](const error_code& error, std::size_t size) { self->onSinkRead(error, size); });
}

void TargetSession::onSinkRead(const error_code& error, std::size_t size)
{
    if (error) {
        stop();
        return;
    }
    m_received += size;
    doSinkRead();
}

void TargetSession::doReport()
{
    m_reportTimer.expires_after(kReportInterval);
    m_reportTimer.async_wait([self = shared_from_this()](const error_code& error) { self->onReportDue(error); });
}

void TargetSession::onReportDue(const error_code& error)
{
    if (error || m_stopped) {
        return;
    }
    // A report that cannot leave yet is skipped, not queued: the next one carries newer figures anyway.
    if (!m_reportInFlight) {
        SinkReport {steadyNanoseconds(), m_received}.encode(m_report.data());
        m_reportInFlight = true;
        asio::async_write(m_socket, asio::buffer(m_report),
                          [self = shared_from_this()](const error_code& writeError, std::size_t) {
                              self->m_reportInFlight = false;
                              if (writeError) {
                                  self->stop();
                              }
                          });
    }
    doReport();
}

void TargetSession::doSourceWrite()
{
    asio::async_write(m_socket, asio::buffer(m_buffer),
                      [self = shared_from_this()](const error_code& error, std::size_t) {
                          if (error) {
                              self->stop();
                          } else {
                              self->doSourceWrite();
                          }
                      });
}

void TargetSession::doDiscardRead()
{
    m_socket.async_read_some(asio::buffer(m_discard),
                             [self = shared_from_this()](const error_code& error, std::size_t) {
                                 if (error) {
                                     self->stop();
                                 } else {
                                     self->doDiscardRead();
                                 }
                             });
}

void TargetSession::stop()
{
    if (m_stopped) {
        return;
    }
    m_stopped = true;
    m_reportTimer.cancel();
    error_code ignored;
    m_socket.shutdown(asio::ip::tcp::socket::shutdown_both, ignored);
    m_socket.close(ignored);
}

} // namespace vantrel::bench
