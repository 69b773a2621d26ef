#include "sandbox/RelayRoute.h"

#include "ShellCore/BufferPool.h"
#include "sandbox/RelayRegistry.h"
#include "sandbox/RelaySession.h"

#include <boost/asio/write.hpp>

#include <chrono>

namespace vantrel::sandbox {

namespace net = boost::asio;

PayloadChunk PayloadChunk::adopt(boost::beast::flat_buffer message, std::size_t offset, std::size_t size)
{
    PayloadChunk chunk;
    chunk.m_message = std::move(message);
    chunk.m_offset = offset;
    chunk.m_size = size;
    chunk.m_adopted = true;
    return chunk;
}

PayloadChunk PayloadChunk::copy(std::string_view bytes)
{
    PayloadChunk chunk;
    chunk.m_copy.assign(bytes);
    chunk.m_size = bytes.size();
    return chunk;
}

std::string_view PayloadChunk::bytes() const
{
    if (m_adopted) {
        return {static_cast<const char*>(m_message.data().data()) + m_offset, m_size};
    }
    return m_copy;
}

std::size_t PayloadChunk::footprint() const
{
    return m_adopted ? m_message.capacity() : m_copy.capacity();
}

RelayRoute::RelayRoute(net::any_io_executor loop, std::int64_t number, std::weak_ptr<RelaySession> session,
                       RelayRegistry& registry)
    : m_socket(loop)
    , m_connectTimer(loop)
    , m_number(number)
    , m_session(std::move(session))
    , m_registry(registry)
{
}

void RelayRoute::connect(const net::ip::tcp::endpoint& target, std::function<void(bool)> done)
{
    m_connectTimer.expires_after(std::chrono::seconds(5));
    m_connectTimer.async_wait([self = shared_from_this()](const boost::system::error_code& error) {
        if (!error) {
            self->m_socket.close();
        }
    });
    m_socket.async_connect(target,
                           [self = shared_from_this(), done = std::move(done)](const boost::system::error_code& error) {
                               self->m_connectTimer.cancel();
                               boost::system::error_code ignored;
                               if (!error && !self->m_closed) {
                                   self->m_socket.set_option(net::ip::tcp::no_delay(true), ignored);
                                   self->m_socket.non_blocking(true, ignored);
                               }
                               done(!error && !self->m_closed && !ignored);
                           });
}

void RelayRoute::startReading()
{
    doWait();
}

void RelayRoute::resumeReading()
{
    doWait();
}

void RelayRoute::doWait()
{
    if (m_waiting || m_closed) {
        return;
    }
    const auto session = m_session.lock();
    if (!session || session->outgoingFull()) {
        return; // the session calls resumeReading once its queue has drained
    }
    m_waiting = true;
    // Waiting for readiness first means an idle route holds no read buffer.
    m_socket.async_wait(
        net::ip::tcp::socket::wait_read,
        [self = shared_from_this()](const boost::system::error_code& error) { self->onReadable(error); });
}

void RelayRoute::onReadable(const boost::system::error_code& error)
{
    m_waiting = false;
    if (m_closed) {
        return;
    }
    if (error) {
        end();
        return;
    }
    // A block of the shared pool, taken only now that bytes are waiting, so a busy route reuses the same few.
    BufferPool::Buffer block = BufferPool::shared().take();
    boost::system::error_code readError;
    const std::size_t size = m_socket.read_some(net::buffer(block.data(), block.size()), readError);
    if (readError == net::error::would_block || readError == net::error::try_again) {
        doWait();
        return;
    }
    if (readError || size == 0) {
        end();
        return;
    }
    m_registry.bytesFromTargets.fetch_add(static_cast<std::int64_t>(size));
    if (const auto session = m_session.lock()) {
        session->sendTargetBytes(m_number, std::move(block), size);
    }
    doWait();
}

std::size_t RelayRoute::writeNow(std::string_view bytes)
{
    if (m_closed || m_writing || !m_writeQueue.empty() || bytes.empty()) {
        return 0;
    }
    // The socket does not block: a full socket, or a failure the queued write then reports, takes nothing.
    boost::system::error_code error;
    const std::size_t written = m_socket.write_some(net::buffer(bytes.data(), bytes.size()), error);
    if (error) {
        return 0;
    }
    m_registry.bytesToTargets.fetch_add(static_cast<std::int64_t>(written));
    return written;
}

void RelayRoute::write(PayloadChunk chunk)
{
    if (m_closed) {
        return;
    }
    m_queuedBytes += chunk.footprint();
    m_writeQueue.push_back(std::move(chunk));
    if (!m_writing) {
        doWrite();
    }
}

void RelayRoute::doWrite()
{
    m_writing = true;
    const std::string_view bytes = m_writeQueue.front().bytes();
    net::async_write(m_socket, net::buffer(bytes.data(), bytes.size()),
                     [self = shared_from_this()](const boost::system::error_code& error, std::size_t written) {
                         self->onWrite(error, written);
                     });
}

void RelayRoute::onWrite(const boost::system::error_code& error, std::size_t written)
{
    m_writing = false;
    if (m_closed) {
        return;
    }
    if (error) {
        end();
        return;
    }
    m_registry.bytesToTargets.fetch_add(static_cast<std::int64_t>(written));
    const bool wasFull = writeQueueFull();
    m_queuedBytes -= m_writeQueue.front().footprint();
    m_writeQueue.pop_front();
    if (!m_writeQueue.empty()) {
        doWrite();
    }
    if (wasFull && !writeQueueFull()) {
        if (const auto session = m_session.lock()) {
            session->routeDrained();
        }
    }
}

void RelayRoute::close()
{
    if (m_closed) {
        return;
    }
    m_closed = true;
    m_connectTimer.cancel();
    boost::system::error_code ignored;
    m_socket.shutdown(net::ip::tcp::socket::shutdown_both, ignored);
    m_socket.close(ignored);
    // The queue stays until the route goes: an aborted write may still refer to its front chunk.
}

void RelayRoute::end()
{
    if (m_closed) {
        return;
    }
    close();
    if (const auto session = m_session.lock()) {
        session->routeEnded(m_number);
    }
}

} // namespace vantrel::sandbox
