#include "bench/loadgen/Connection.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace vantrel::bench {

namespace {

int millisecondsUntil(Connection::Clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Connection::Clock::now());
    // Short slices so that a deadline is noticed soon after it passes.
    return static_cast<int>(std::clamp<std::int64_t>(left.count(), 0, 100));
}

} // namespace

std::optional<Connection> Connection::open(std::uint16_t port, Clock::time_point deadline, int receiveBuffer)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        return std::nullopt;
    }
    Connection connection(fd);
    if (receiveBuffer > 0) {
        ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    }
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
        return connection;
    }
    if (errno != EINPROGRESS || !connection.waitFor(POLLOUT, deadline)) {
        return std::nullopt;
    }
    int error = 0;
    socklen_t length = sizeof error;
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0 || error != 0) {
        return std::nullopt;
    }
    return connection;
}

Connection::Connection(int fd)
    : m_fd(fd)
{
}

bool Connection::waitFor(short events, Clock::time_point deadline)
{
    for (;;) {
        pollfd entry {m_fd.get(), events, 0};
        const int ready = ::poll(&entry, 1, millisecondsUntil(deadline));
        if (ready > 0) {
            return true;
        }
        if ((ready < 0 && errno != EINTR) || Clock::now() >= deadline) {
            return false;
        }
    }
}

bool Connection::sendAll(std::string_view bytes, Clock::time_point deadline)
{
    while (!bytes.empty()) {
        const ssize_t sent = ::send(m_fd.get(), bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (sent > 0) {
            bytes.remove_prefix(static_cast<std::size_t>(sent));
        } else if (sent < 0 && (errno == EAGAIN || errno == EINTR)) {
            if (!waitFor(POLLOUT, deadline)) {
                return false;
            }
        } else {
            return false;
        }
    }
    return true;
}

std::size_t Connection::receiveSome(void* out, std::size_t capacity, Clock::time_point deadline)
{
    for (;;) {
        const ssize_t got = ::recv(m_fd.get(), out, capacity, 0);
        if (got >= 0) {
            return static_cast<std::size_t>(got);
        }
        if ((errno != EAGAIN && errno != EINTR) || !waitFor(POLLIN, deadline)) {
            return 0;
        }
    }
}

bool Connection::receiveExactly(void* out, std::size_t size, Clock::time_point deadline)
{
    auto* at = static_cast<char*>(out);
    while (size > 0) {
        const std::size_t got = receiveSome(at, size, deadline);
        if (got == 0) {
            return false;
        }
        at += got;
        size -= got;
    }
    return true;
}

void Connection::shutdown()
{
    ::shutdown(m_fd.get(), SHUT_RDWR);
}

} // namespace vantrel::bench
