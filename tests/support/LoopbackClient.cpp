#include "tests/support/LoopbackClient.h"

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace vantrel::testing {
namespace {

using Clock = std::chrono::steady_clock;

int connectOnce(std::uint16_t port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    return fd;
}

} // namespace

std::optional<LoopbackClient> LoopbackClient::connect(std::uint16_t port, Deadline deadline)
{
    const auto stopAt = Clock::now() + deadline;
    for (;;) {
        if (const int fd = connectOnce(port); fd >= 0) {
            return LoopbackClient(fd);
        }
        if (Clock::now() >= stopAt) {
            return std::nullopt;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

LoopbackClient::LoopbackClient(int fd)
    : m_fd(fd)
{
}

bool LoopbackClient::waitUntil(short events, Clock::time_point stopAt)
{
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(stopAt - Clock::now()).count();
        if (left <= 0) {
            return false;
        }
        pollfd entry{m_fd.get(), events, 0};
        const int ready = ::poll(&entry, 1, static_cast<int>(left));
        if (ready > 0) {
            return true;
        }
        if (ready < 0 && errno != EINTR) {
            return false;
        }
    }
}

bool LoopbackClient::send(std::string_view bytes, Deadline deadline)
{
    const auto stopAt = Clock::now() + deadline;
    while (!bytes.empty()) {
        if (!waitUntil(POLLOUT, stopAt)) {
            return false;
        }
        const ssize_t sent = ::send(m_fd.get(), bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent < 0 && (errno == EAGAIN || errno == EINTR)) {
            continue;
        }
        if (sent <= 0) {
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(sent));
    }
    return true;
}

std::size_t LoopbackClient::sendWithoutWaiting(std::string_view bytes)
{
    std::size_t total = 0;
    while (total < bytes.size()) {
        const ssize_t sent = ::send(m_fd.get(), bytes.data() + total, bytes.size() - total, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent <= 0) {
            break;
        }
        total += static_cast<std::size_t>(sent);
    }
    return total;
}

std::optional<std::string> LoopbackClient::receive(std::size_t size, Deadline deadline)
{
    const auto stopAt = Clock::now() + deadline;
    std::string bytes;
    bytes.resize(size);
    std::size_t received = 0;
    while (received < size) {
        if (!waitUntil(POLLIN, stopAt)) {
            return std::nullopt;
        }
        const ssize_t count = ::recv(m_fd.get(), bytes.data() + received, size - received, MSG_DONTWAIT);
        if (count < 0 && (errno == EAGAIN || errno == EINTR)) {
            continue;
        }
        if (count <= 0) {
            return std::nullopt;
        }
        received += static_cast<std::size_t>(count);
    }
    return bytes;
}

std::optional<std::string> LoopbackClient::receiveLine(Deadline deadline)
{
    const auto stopAt = Clock::now() + deadline;
    std::string line;
    while (line.empty() || line.back() != '\n') {
        const auto left = std::chrono::duration_cast<Deadline>(stopAt - Clock::now());
        auto next = receive(1, left);
        if (!next) {
            return std::nullopt;
        }
        line += *next;
    }
    return line;
}

bool LoopbackClient::waitForClose(Deadline deadline)
{
    const auto stopAt = Clock::now() + deadline;
    char sink[65536];
    for (;;) {
        if (!waitUntil(POLLIN, stopAt)) {
            return false;
        }
        const ssize_t count = ::recv(m_fd.get(), sink, sizeof sink, MSG_DONTWAIT);
        if (count == 0 || (count < 0 && errno != EAGAIN && errno != EINTR)) {
            return true;
        }
    }
}

void LoopbackClient::shutdownSending()
{
    ::shutdown(m_fd.get(), SHUT_WR);
}

std::uint16_t freeLoopbackPort()
{
    const int fd = ::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in6 address{};
    address.sin6_family = AF_INET6;
    address.sin6_addr = in6addr_any;
    socklen_t length = sizeof address;
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(fd);
    return ntohs(address.sin6_port);
}

} // namespace vantrel::testing
