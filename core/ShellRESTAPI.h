#pragma once

#include "core/AbstractAPI.h"
#include "core/RESTShellUser.h"
#include "core/ServiceResponses.h"

namespace vantrel {

class ShellUserDefaults;

/**
 * The client of the service's account and device endpoints. Every call returns the started operation and
 * completes once, on the main queue. The sign-in token is read from the preferences when each request is built,
 * so a new sign-in is used by the next call and a sign-out stops sending it.
 */
class ShellRESTAPI final : public AbstractAPI {
public:
    template <class T>
    using Completion = std::function<void(GenericRESTResponse<T>)>;
    using Operation = std::shared_ptr<CVHTTPRequestOperation>;

    ShellRESTAPI(http::Client& client, ShellUserDefaults& preferences);

    /** The process-wide client over the shared HTTP client and the program's preferences. */
    static ShellRESTAPI& sharedAPI();

    /** "https://apps." + the service domain (the test domain in debug mode) + "/", unless configured otherwise. */
    std::string getCallURL() const override;
    /** "Corvane/<short version>(<build>) iOS/<system version>". */
    std::string getUserAgent() const override;
    std::optional<std::string> getAuthToken() const override;
    /** Stores a token the client learned; it goes on to the daemon's settings unless this process is the daemon. */
    void setAuthToken(const JsonField& token) override;

    /** Signs in (no password: checks the e-mail); a 400 answer reads "Invalid email or password". */
    Operation connect(const std::string& email, const std::optional<std::string>& password,
                      Completion<RESTLoginResponse> completion);
    Operation signUpWithEmail(const std::string& email, Completion<RESTLoginResponse> completion);
    Operation verifyTokenWithEmail(const std::string& email, const std::string& token,
                                   Completion<RESTVerifyTokenResponse> completion);
    Operation resetPasswordForEmail(const std::string& email, Completion<Json> completion);
    Operation logoutWithCompletionHandler(Completion<Json> completion);
    /** The profile (a non-empty token replaces the stored one); a successful answer is also stored. */
    Operation getProfileWithToken(const std::optional<std::string>& token, Completion<RESTShellUser> completion);
    /** Sends only the user's name. */
    Operation setProfile(RESTShellUser user, Completion<RESTShellUser> completion);
    /** The JSON list of the account's devices. */
    Operation getDevices(Completion<Json> completion);
    /** Asks the device to open a port towards a relay identity; read the result with RESTPortsResponse. */
    Operation callPorts(const std::string& portsUrl, const std::string& identity, const JsonField& port,
                        const std::string& serviceType, Completion<Json> completion);
    Operation callReboot(const std::string& url, Completion<Json> completion);
    Operation callDevice(const std::string& url, Completion<Json> completion);
    Operation callDelete(const std::string& url, Completion<Json> completion);
    Operation callEdit(const std::string& url, const std::string& name, Completion<Json> completion);
    Operation getFile(const std::string& url, const std::string& path, const std::string& identity,
                      Completion<Json> completion);
    Operation getWormholeOnWithUrl(const std::string& url, Completion<Json> completion);
    Operation setWormholeOn(bool on, const std::string& url, Completion<Json> completion);

private:
    Operation call(const GenericRESTMessage* message, const std::optional<std::string>& url,
                   const std::optional<std::string>& path, int method, Completion<Json> completion,
                   std::optional<int> errorCountLimit = std::nullopt,
                   const std::optional<std::string>& customToken = std::nullopt);
    /** Turns a successful answer into a Record, hands it to keep, then completes; other answers complete as errors. */
    template <class Record>
    Completion<Json> building(Completion<Record> completion, std::function<void(const Record&)> keep);
    Completion<Json> storingToken(Completion<RESTLoginResponse> completion);
    Completion<Json> storingProfile(Completion<RESTShellUser> completion);

    ShellUserDefaults& m_preferences;
};

} // namespace vantrel
