#include "core/M2MAPI.h"

#include "core/Deployment.h"
#include "core/ProcessRole.h"
#include "core/ShellUserDefaults.h"

#include <utility>

namespace vantrel {
namespace {

/** The text, or absent when it is empty: such parameters are left out. */
JsonField unlessEmpty(const std::string& text)
{
    return text.empty() ? JsonField() : JsonField(text);
}

} // namespace

M2MAPI::M2MAPI(http::Client& client, ShellUserDefaults& preferences)
    : AbstractAPI(client)
    , m_preferences(preferences)
{
}

M2MAPI& M2MAPI::sharedAPI()
{
    static M2MAPI instance(http::Client::shared(), ShellUserDefaults::sharedInstance());
    return instance;
}

std::string M2MAPI::getCallURL() const
{
    return deployment::rpcUrl();
}

std::optional<std::string> M2MAPI::getAuthToken() const
{
    return m_preferences.getAuthToken();
}

void M2MAPI::setAuthToken(const JsonField& token)
{
    m_preferences.setAuthToken(token, !IS_DAEMON.load());
}

M2MAPI::Operation M2MAPI::openTerminalForCompany(const JsonField& /*company*/, const JsonField& deviceKey,
                                                 const std::string& name, const std::string& identity,
                                                 RPCCompletion completion)
{
    GenericMessage message = GenericMessage::initWithMethod("devices.open_terminal");
    message.addParam(deviceKey, "device_pk").addParam(unlessEmpty(name), "name");
    message.addParam(unlessEmpty(identity), "terminal_identity");
    return call(std::move(message), std::move(completion));
}

M2MAPI::Operation M2MAPI::openEchoServiceForClientIdentity(const std::string& identity, const JsonField& deviceKey,
                                                           RPCCompletion completion)
{
    GenericMessage message = GenericMessage::initWithMethod("m2m.open_echo_service");
    message.addParam(deviceKey, "device_pk").addParam(unlessEmpty(identity), "client_identity");
    return call(std::move(message), std::move(completion));
}

M2MAPI::Operation M2MAPI::getDeviceIdentities(const JsonField& devices, RPCCompletion completion)
{
    GenericMessage message = GenericMessage::initWithMethod("m2m.get_device_identities");
    message.addParam(devices, "devices");
    return call(std::move(message), std::move(completion));
}

M2MAPI::Operation M2MAPI::call(GenericMessage message, RPCCompletion completion)
{
    message.doNotUseCache = true;
    return prepareRPCOperationWithMessage(std::move(message), std::move(completion));
}

} // namespace vantrel
