#include "ShellCore/TlsStream.h"

#include <boost/asio/ssl/error.hpp>
#include <openssl/err.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <sys/socket.h>

namespace vantrel {

using boost::system::error_code;

namespace {

// The largest plaintext of one TLS record: gathering up to this much makes full-sized records.
constexpr std::size_t kRecordPayload = 16 * 1024;
// How much of the socket one read takes while a connection is busy (the buffer goes when it is idle).
constexpr std::size_t kReadAheadBytes = 64 * 1024;

// OpenSSL's own socket layer writes with write(2), which raises SIGPIPE on a connection the peer has closed and
// would end the whole process. This one sends with MSG_NOSIGNAL; the error then comes back as EPIPE.
int socketOf(BIO* bio)
{
    return static_cast<int>(reinterpret_cast<std::intptr_t>(BIO_get_data(bio)));
}

int socketWrite(BIO* bio, const char* data, std::size_t size, std::size_t* written)
{
    BIO_clear_retry_flags(bio);
    const ssize_t sent = ::send(socketOf(bio), data, size, MSG_NOSIGNAL);
    if (sent < 0) {
        if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) {
            BIO_set_retry_write(bio);
        }
        return 0;
    }
    *written = static_cast<std::size_t>(sent);
    return 1;
}

int socketRead(BIO* bio, char* data, std::size_t size, std::size_t* read)
{
    BIO_clear_retry_flags(bio);
    const ssize_t received = ::recv(socketOf(bio), data, size, 0);
    if (received < 0) {
        if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) {
            BIO_set_retry_read(bio);
        }
        return 0;
    }
    if (received == 0) {
        errno = 0; // the peer closed: an end of file, not a failure
        return 0;
    }
    *read = static_cast<std::size_t>(received);
    return 1;
}

long socketControl(BIO*, int command, long, void*)
{
    return command == BIO_CTRL_FLUSH ? 1 : 0;
}

const BIO_METHOD* quietSocketMethod()
{
    static BIO_METHOD* const method = [] {
        BIO_METHOD* made = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK | BIO_TYPE_DESCRIPTOR,
                                        "socket without SIGPIPE");
        BIO_meth_set_write_ex(made, socketWrite);
        BIO_meth_set_read_ex(made, socketRead);
        BIO_meth_set_ctrl(made, socketControl);
        return made;
    }();
    return method;
}

// The bytes for the next record, offset bytes into the pieces. A large piece is written from where it is; a small
// remainder followed by more pieces (a frame header, then its payload) is gathered with them into one block, so
// that it does not become a record of its own. The block is per thread: a retried write gathers again, from the
// caller's buffers, which stay put until the write completes.
std::pair<const void*, std::size_t> nextRecord(const boost::asio::const_buffer* pieces, std::size_t count,
                                               std::size_t offset)
{
    std::size_t index = 0;
    while (index < count && offset >= pieces[index].size()) {
        offset -= pieces[index].size();
        ++index;
    }
    if (index == count) {
        return {nullptr, 0};
    }
    const char* start = static_cast<const char*>(pieces[index].data()) + offset;
    const std::size_t left = pieces[index].size() - offset;
    if (left >= kRecordPayload || index + 1 == count) {
        return {start, std::min(left, kRecordPayload)};
    }
    thread_local std::array<char, kRecordPayload> block;
    std::size_t used = std::min(left, block.size());
    std::memcpy(block.data(), start, used);
    for (std::size_t next = index + 1; next < count && used < block.size(); ++next) {
        const std::size_t take = std::min(pieces[next].size(), block.size() - used);
        std::memcpy(block.data() + used, pieces[next].data(), take);
        used += take;
    }
    return {block.data(), used};
}

} // namespace

TlsStream::TlsStream(const executor_type& executor, SSL_CTX* context, Role role)
    : m_socket(executor)
    , m_ssl(SSL_new(context), &SSL_free)
{
    if (!m_ssl) {
        throw std::bad_alloc();
    }
    if (role == Role::Client) {
        SSL_set_connect_state(m_ssl.get());
    } else {
        SSL_set_accept_state(m_ssl.get());
    }
    // Writes may be retried from another buffer with the same bytes, and may complete a record at a time;
    // record buffers are returned to the allocator whenever they are empty.
    SSL_set_mode(m_ssl.get(),
                 SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER | SSL_MODE_RELEASE_BUFFERS);
    // Read whatever the socket has, up to several records at once, not one record header and then its body.
    SSL_set_read_ahead(m_ssl.get(), 1);
    SSL_set_default_read_buffer_len(m_ssl.get(), kReadAheadBytes);
}

TlsStream::~TlsStream() = default;

TlsStream::Attempt TlsStream::socketReady()
{
    Attempt attempt;
    if (!m_socket.is_open()) {
        // Closed: the descriptor's number may already belong to another connection, never touch it again.
        attempt.error = boost::asio::error::bad_descriptor;
        return attempt;
    }
    if (m_socketPrepared) {
        return attempt;
    }
    m_socket.non_blocking(true, attempt.error);
    BIO* bio = attempt.error ? nullptr : BIO_new(quietSocketMethod());
    if (bio == nullptr) {
        attempt.error = attempt.error ? attempt.error : error_code(boost::asio::error::no_memory);
        return attempt;
    }
    BIO_set_data(bio, reinterpret_cast<void*>(static_cast<std::intptr_t>(m_socket.native_handle())));
    BIO_set_init(bio, 1);
    SSL_set_bio(m_ssl.get(), bio, bio); // the connection owns the BIO from here
    m_socketPrepared = true;
    return attempt;
}

TlsStream::Attempt TlsStream::handshakeOnce()
{
    if (Attempt prepared = socketReady(); prepared.error) {
        return prepared;
    }
    ERR_clear_error();
    const int result = SSL_do_handshake(m_ssl.get());
    return outcomeOf(result, 0);
}

TlsStream::Attempt TlsStream::readOnce(void* data, std::size_t size)
{
    if (size == 0) {
        return {};
    }
    if (Attempt prepared = socketReady(); prepared.error) {
        return prepared;
    }
    // Take every record already at hand, not just one: fewer operations for the layers above.
    auto* bytes = static_cast<char*>(data);
    std::size_t total = 0;
    for (;;) {
        ERR_clear_error();
        std::size_t read = 0;
        const int result = SSL_read_ex(m_ssl.get(), bytes + total, size - total, &read);
        if (result == 1) {
            total += read;
            if (total < size) {
                continue;
            }
        }
        if (total > 0) {
            Attempt done;
            done.transferred = total; // a failure after these bytes shows again on the next read
            return done;
        }
        return outcomeOf(result, read);
    }
}

TlsStream::Attempt TlsStream::writeOnce(const Pieces& pieces, std::size_t count)
{
    if (Attempt prepared = socketReady(); prepared.error) {
        return prepared;
    }
    // Write record after record while the socket takes them; report what was written.
    std::size_t total = 0;
    for (;;) {
        const auto [data, size] = nextRecord(pieces.data(), count, total);
        if (size == 0) {
            Attempt done;
            done.transferred = total;
            return done;
        }
        ERR_clear_error();
        std::size_t written = 0;
        const int result = SSL_write_ex(m_ssl.get(), data, size, &written);
        if (result == 1) {
            total += written;
            continue;
        }
        if (total > 0) {
            Attempt done;
            done.transferred = total; // the rest goes with the next write, once the socket takes more
            return done;
        }
        return outcomeOf(result, written);
    }
}

TlsStream::Attempt TlsStream::outcomeOf(int result, std::size_t transferred)
{
    Attempt attempt;
    if (result == 1) {
        attempt.transferred = transferred;
        return attempt;
    }
    switch (SSL_get_error(m_ssl.get(), result)) {
    case SSL_ERROR_WANT_READ:
        attempt.status = Attempt::Status::WantRead;
        break;
    case SSL_ERROR_WANT_WRITE:
        attempt.status = Attempt::Status::WantWrite;
        break;
    case SSL_ERROR_ZERO_RETURN:
        attempt.error = boost::asio::error::eof;
        break;
    case SSL_ERROR_SYSCALL:
        attempt.error = errno != 0 ? error_code(errno, boost::system::system_category())
                                   : error_code(boost::asio::ssl::error::stream_truncated);
        break;
    default: {
        const unsigned long reason = ERR_get_error();
        if (ERR_GET_REASON(reason) == SSL_R_UNEXPECTED_EOF_WHILE_READING) {
            attempt.error = boost::asio::ssl::error::stream_truncated;
        } else {
            attempt.error = error_code(static_cast<int>(reason), boost::asio::error::get_ssl_category());
        }
        break;
    }
    }
    return attempt;
}

void TlsStream::shutdownAndClose()
{
    if (!m_socket.is_open()) {
        return;
    }
    if (m_socketPrepared) {
        ERR_clear_error();
        SSL_shutdown(m_ssl.get()); // non-blocking: sends the close notification if the socket takes it now
        BIO_set_data(SSL_get_rbio(m_ssl.get()), reinterpret_cast<void*>(std::intptr_t{-1}));
    }
    error_code ignored;
    m_socket.shutdown(Socket::shutdown_both, ignored);
    m_socket.close(ignored);
}

void beast_close_socket(TlsStream& stream)
{
    stream.shutdownAndClose();
}

void teardown(boost::beast::role_type, TlsStream& stream, boost::system::error_code& error)
{
    error = {};
    stream.shutdownAndClose();
}

} // namespace vantrel
