#include "ShellCore/ShellRoutingHandler.h"

#include "ShellCore/Bencode.h"

#include "core/Utf8.h"

#include <algorithm>

namespace vantrel {
namespace {

constexpr std::int64_t kIdentityRequest = 1;
constexpr std::int64_t kIdentity = 9;
constexpr std::int64_t kDeviceBytes = 6;
constexpr std::int64_t kPortOpened = 14;
constexpr std::int64_t kCloseRequest = 19;

std::optional<std::string> textOf(std::optional<BencodeValue> value)
{
    const auto bytes = value ? value->bytes() : std::nullopt;
    if (!bytes || !isValidUtf8(*bytes)) {
        return std::nullopt;
    }
    return std::string(*bytes);
}

} // namespace

ShellRoutingHandler::ShellRoutingHandler(const std::string& serial, const boost::asio::any_io_executor& executor)
    : connector(M2MRoutingSocketConnector::createWithSerial(serial, executor))
{
    connector->addDelegate(this);
}

ShellRoutingHandler::~ShellRoutingHandler()
{
    connector->removeDelegate(this);
    connector->disconnect();
}

void ShellRoutingHandler::addDelegate(ShellRoutingHandlerDelegate* delegate)
{
    if (std::find(delegates.begin(), delegates.end(), delegate) == delegates.end()) {
        delegates.push_back(delegate);
    }
}

void ShellRoutingHandler::removeDelegate(ShellRoutingHandlerDelegate* delegate)
{
    delegates.erase(std::remove(delegates.begin(), delegates.end(), delegate), delegates.end());
}

void ShellRoutingHandler::startGetDeviceIdentifier()
{
    awaitingConnection = true;
    connector->doConnect();
}

void ShellRoutingHandler::sendMessage(std::int64_t type, std::int64_t port, std::string_view data,
                                      M2MRoutingSocketConnector::WriteCompletion whenSent)
{
    if (awaitingConnection) {
        if (whenSent) {
            whenSent();
        }
        return;
    }
    connector->sendMessage(type, port, data, std::move(whenSent));
}

void ShellRoutingHandler::sendResizeControl(std::optional<int> width, std::optional<int> height,
                                            std::optional<std::int64_t> port)
{
    connector->sendResizeControl(width, height, port);
}

void ShellRoutingHandler::close()
{
    connector->disconnect();
    const Error reset{"Connection reset programmatically", 0, "Connection reset programmatically", nullptr};
    for (auto* delegate : getSafeDelegates()) {
        delegate->ShellOnError(reset);
    }
    delegates.clear();
}

void ShellRoutingHandler::suspendDelivery()
{
    connector->suspendReading();
}

void ShellRoutingHandler::resumeDelivery()
{
    connector->resumeReading();
}

void ShellRoutingHandler::M2MOnConnected()
{
    if (awaitingConnection) {
        connector->sendMessage(kIdentityRequest);
    }
    awaitingConnection = false;
}

void ShellRoutingHandler::M2MOnMessageReceived(const RelayPacket& packet)
{
    switch (packet.type) {
    case kIdentity:
        if (auto identity = textOf(packet.argument(0))) {
            awaitedIdentity = identity;
            for (auto* delegate : getSafeDelegates()) {
                delegate->ShellOnIdentityRetrieved(*identity);
            }
        }
        break;
    case kPortOpened:
        if (const auto port = packet.argument(0) ? incomingInteger(*packet.argument(0)) : std::nullopt) {
            awaitedIdentity.reset();
            for (auto* delegate : getSafeDelegates()) {
                delegate->ShellOnPortOpened(*port);
            }
        }
        break;
    case kCloseRequest:
        for (auto* delegate : getSafeDelegates()) {
            delegate->ShellOnDisconnectedWithCode(1, "Requested close", true);
        }
        break;
    case kDeviceBytes:
        onDeviceBytes(packet);
        break;
    default:
        break; // 3, 16 and anything else carry nothing for us
    }
}

void ShellRoutingHandler::onDeviceBytes(const RelayPacket& packet)
{
    const auto portElement = packet.argument(0);
    const auto dataElement = packet.argument(1);
    const auto port = portElement ? incomingInteger(*portElement) : std::nullopt;
    const auto data = dataElement ? dataElement->bytes() : std::nullopt;
    if (!port || !data) {
        return;
    }
    for (auto* delegate : getSafeDelegates()) {
        delegate->ShellOnRouteSet(*port, *data);
    }
}

void ShellRoutingHandler::M2MOnDisconnectedWithCode(std::int64_t code, const std::string& reason, bool wasClean)
{
    for (auto* delegate : getSafeDelegates()) {
        delegate->ShellOnDisconnectedWithCode(code, reason, wasClean);
    }
}

void ShellRoutingHandler::M2MOnError(const Error& error)
{
    for (auto* delegate : getSafeDelegates()) {
        delegate->ShellOnError(error);
    }
}

} // namespace vantrel
