#pragma once

#include "core/AbstractAPI.h"

namespace vantrel {

class ShellUserDefaults;

/**
 * The client of the service's JSON-RPC calls for relay-service sessions. Every call returns the started operation
 * and completes once, on the main queue (AbstractAPI::prepareRPCOperationWithMessage). The sign-in token is the
 * one the preferences hold, read when each request is built; an invalid-token answer removes it. The keep-alive
 * policy is the base's: it declines, so a call answered with the keep-alive error completes with that error.
 */
class M2MAPI final : public AbstractAPI {
public:
    using Operation = std::shared_ptr<CVHTTPRequestOperation>;

    M2MAPI(http::Client& client, ShellUserDefaults& preferences);

    /** The process-wide client over the shared HTTP client and the program's preferences. */
    static M2MAPI& sharedAPI();

    /** The JSON-RPC endpoint: "https://www." + the service domain + "/jsonrpc/v2/", unless configured otherwise. */
    std::string getCallURL() const override;
    std::optional<std::string> getAuthToken() const override;
    /** Stores the token; it goes on to the daemon's settings unless this process is the daemon. */
    void setAuthToken(const JsonField& token) override;

    /** "devices.open_terminal"; the company is not sent, an empty name or identity neither. */
    Operation openTerminalForCompany(const JsonField& company, const JsonField& deviceKey, const std::string& name,
                                     const std::string& identity, RPCCompletion completion);
    /** "m2m.open_echo_service"; an empty identity is not sent. */
    Operation openEchoServiceForClientIdentity(const std::string& identity, const JsonField& deviceKey,
                                               RPCCompletion completion);
    /** "m2m.get_device_identities" for a list of device keys. */
    Operation getDeviceIdentities(const JsonField& devices, RPCCompletion completion);

private:
    Operation call(GenericMessage message, RPCCompletion completion);

    ShellUserDefaults& m_preferences;
};

} // namespace vantrel
