#include "ShellCore/RemoteLocalChannel.h"

#include "core/MainQueue.h"
#include "core/ServiceResponses.h"
#include "core/ShellRESTAPI.h"

#include "platform/Log.h"

#include <boost/asio/post.hpp>
#include <boost/asio/write.hpp>

namespace vantrel {

namespace asio = boost::asio;
using boost::system::error_code;

namespace {

constexpr std::int64_t kLocalBytes = 5;
constexpr const char* kRedirectPortService = "redirect-port";

std::string textForLog(const JsonField& field)
{
    if (const auto text = textOf(field)) {
        return *text;
    }
    return isPresent(field) ? toCompactJson(field) : "(null)";
}

// The device-side port of a ports answer: a whole, non-negative number, or decimal text of one.
std::optional<std::int64_t> routePortOf(const std::optional<Json>& result)
{
    if (!result || !result->is_object()) {
        return std::nullopt;
    }
    const JsonField port = RESTPortsResponse::createFromDict(*result).msgPort;
    if (port.is_number_integer() || port.is_number_unsigned()) {
        const std::int64_t value = integerValueOf(port);
        return value >= 0 ? std::optional(value) : std::nullopt;
    }
    const auto text = textOf(port);
    if (text && !text->empty() && text->find_first_not_of("0123456789") == std::string::npos && text->size() < 19) {
        return integerValueOf(port);
    }
    return std::nullopt;
}

} // namespace

RemoteLocalChannel::RemoteLocalChannel(PrivateTag, Socket socket,
                                       std::shared_ptr<const DevicePortAssociation> forward)
    : server(std::move(socket))
    , association(std::move(forward))
    , m_routeDeadline(server.get_executor())
{
}

std::shared_ptr<RemoteLocalChannel> RemoteLocalChannel::createWithServer(
    Socket server, std::shared_ptr<const DevicePortAssociation> association)
{
    return std::make_shared<RemoteLocalChannel>(PrivateTag{}, std::move(server), std::move(association));
}

void RemoteLocalChannel::start()
{
    error_code ignored;
    server.non_blocking(true, ignored);
    waitForLocalBytes();
}

void RemoteLocalChannel::setUpAndStartHandler()
{
    if (closed) {
        return;
    }
    shellHandler = std::make_unique<ShellRoutingHandler>(textForLog(association->device.msgSerial), executor());
    shellHandler->addDelegate(this);
    shellHandler->startGetDeviceIdentifier();
    currentDeviceConnection = DeviceConnectionData::initWithData(std::nullopt, std::nullopt);
    m_routeDeadline.expires_after(kRouteTimeout);
    m_routeDeadline.async_wait([self = shared_from_this()](const error_code& error) {
        if (!error && !self->closed && !self->currentDeviceConnection.devicePort) {
            logFormat("[v:{}] the relay did not open a route in time", self->appVersion);
            self->close();
        }
    });
}

// ---- Local client -> device ----

void RemoteLocalChannel::waitForLocalBytes()
{
    server.async_wait(Socket::wait_read,
                      [self = shared_from_this()](const error_code& error) { self->onLocalReadable(error); });
}

void RemoteLocalChannel::onLocalReadable(const error_code& error)
{
    if (closed) {
        return;
    }
    if (error) {
        onLocalDisconnected(error);
        return;
    }
    BufferPool::Buffer buffer = BufferPool::shared().take();
    error_code readError;
    const std::size_t size = server.read_some(asio::buffer(buffer.data(), buffer.size()), readError);
    if (readError == asio::error::would_block || readError == asio::error::try_again) {
        waitForLocalBytes();
    } else if (readError) {
        onLocalDisconnected(readError);
    } else {
        onLocalBytes(std::move(buffer), size);
    }
}

void RemoteLocalChannel::onLocalBytes(BufferPool::Buffer buffer, std::size_t size)
{
    const auto routingPort = shellHandler ? shellHandler->getRoutingPort() : std::nullopt;
    if (routingPort) {
        sendBufferedBytes();
        m_sending = std::move(buffer);
        shellHandler->sendMessage(kLocalBytes, *routingPort, std::string_view(m_sending->data(), size),
                                  [self = shared_from_this()] { self->afterLocalBytesSent(); });
        return;
    }
    writeBuffer.append(buffer.data(), size);
    if (writeBuffer.size() >= kMaxBufferedBytes) {
        m_readingStopped = true; // resumed once the buffer has gone to the relay
        return;
    }
    waitForLocalBytes();
}

void RemoteLocalChannel::afterLocalBytesSent()
{
    m_sending.reset();
    if (!closed) {
        waitForLocalBytes();
    }
}

bool RemoteLocalChannel::sendBufferedBytes()
{
    const auto routingPort = shellHandler ? shellHandler->getRoutingPort() : std::nullopt;
    if (writeBuffer.empty() || !routingPort) {
        return false;
    }
    m_sendingBuffered = std::move(writeBuffer);
    writeBuffer.clear();
    shellHandler->sendMessage(kLocalBytes, *routingPort, m_sendingBuffered, [self = shared_from_this()] {
        self->m_sendingBuffered.clear();
        if (self->m_readingStopped && !self->closed) {
            self->m_readingStopped = false;
            self->waitForLocalBytes();
        }
    });
    return true;
}

void RemoteLocalChannel::onLocalDisconnected(const error_code& error)
{
    logFormat("[v:{}] socket error : {}", appVersion, error.message());
    close();
}

// ---- Opening the route ----

void RemoteLocalChannel::ShellOnIdentityRetrieved(const std::string& relayIdentity)
{
    identity = relayIdentity;
    currentDeviceConnection.deviceIdentity = relayIdentity;
    requestPort(relayIdentity);
}

void RemoteLocalChannel::requestPort(const std::string& relayIdentity)
{
    const auto portsUrl = textOf(association->device.msgPortsUrl);
    logFormat("[v:{}] calling ports {} with identity: {} and port: {}", appVersion,
              textForLog(association->device.msgPortsUrl), relayIdentity, textForLog(association->remotePort));
    if (!portsUrl) {
        close();
        logFormat("[v:{}] exception: {}", appVersion, "the forward's device has no ports address");
        return;
    }
    // Service calls are made on the main queue; the answer comes back to this channel's executor.
    MainQueue::shared().post([self = shared_from_this(), url = *portsUrl, relayIdentity,
                              port = association->remotePort] {
        ShellRESTAPI::sharedAPI().callPorts(url, relayIdentity, port, kRedirectPortService,
                                            [self](GenericRESTResponse<Json> response) {
                                                asio::post(self->executor(), [self, response = std::move(response)] {
                                                    self->onPortAnswer(response);
                                                });
                                            });
    });
}

void RemoteLocalChannel::onPortAnswer(const GenericRESTResponse<Json>& response)
{
    if (closed) {
        return;
    }
    if (response.error) {
        close();
        logFormat("[v:{}] error: {}", appVersion, response.error->description);
        return;
    }
    logFormat("[v:{}] ports call success!", appVersion);
    const auto port = routePortOf(response.result);
    if (!port) {
        logFormat("[v:{}] the ports answer gives no route port: {}", appVersion,
                  response.result ? toCompactJson(*response.result) : "(empty)");
        close();
        return;
    }
    routeKnown(*port);
    // Bytes the client sent early go now, also when the device has spoken first: the client may be waiting
    // for an answer to exactly those bytes.
    sendBufferedBytes();
}

void RemoteLocalChannel::routeKnown(std::int64_t port)
{
    currentDeviceConnection.devicePort = port;
    shellHandler->setRoutingPort(port);
    m_routeDeadline.cancel();
}

void RemoteLocalChannel::ShellOnPortOpened(std::int64_t port)
{
    routeKnown(port);
}

// ---- Device -> local client ----

void RemoteLocalChannel::ShellOnRouteSet(std::int64_t, std::string_view data)
{
    routeSet = true;
    if (data.empty() || closed) {
        return;
    }
    // The relay is not read again until the local client has taken these bytes (they stay in its buffer).
    shellHandler->suspendDelivery();
    asio::async_write(server, asio::buffer(data), [self = shared_from_this()](const error_code& error, std::size_t) {
        if (self->closed) {
            return;
        }
        if (error) {
            self->onLocalDisconnected(error);
            return;
        }
        self->shellHandler->resumeDelivery();
    });
}

void RemoteLocalChannel::ShellOnDisconnectedWithCode(std::int64_t, const std::string& reason, bool)
{
    logFormat("socket disconnected : {}", reason);
    close();
}

void RemoteLocalChannel::ShellOnError(const Error& error)
{
    logFormat("[v:{}] socket error : {}", appVersion, error.description);
    if (!closed) {
        close();
    }
}

// ---- Closing ----

void RemoteLocalChannel::close()
{
    if (closed) {
        return;
    }
    closed = true;
    m_routeDeadline.cancel();
    error_code ignored;
    server.shutdown(Socket::shutdown_both, ignored);
    server.close(ignored);
    if (shellHandler) {
        std::unique_ptr<ShellRoutingHandler> handler = std::move(shellHandler);
        handler->close();
        // The handler may be the caller of this close: it goes away on a later turn, not under its own feet.
        asio::post(executor(), [doomed = std::move(handler)] {});
    }
    if (m_onClosed) {
        auto onClosed = std::move(m_onClosed);
        m_onClosed = nullptr;
        onClosed();
    }
}

} // namespace vantrel
