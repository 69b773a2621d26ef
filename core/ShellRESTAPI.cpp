#include "core/ShellRESTAPI.h"

#include "core/Deployment.h"
#include "core/NetworkError.h"
#include "core/ProcessRole.h"
#include "core/ShellUserDefaults.h"

#include "platform/ProgramInfo.h"

#include <fmt/format.h>

namespace vantrel {
namespace {

constexpr const char* kInvalidCredentials = "Invalid email or password";

// A record-building endpoint answered with JSON that is no object: nothing sensible can be built from it.
bool hasUnexpectedForm(const GenericRESTResponse<Json>& response)
{
    return response.result && !response.result->is_object();
}

Error unexpectedFormError()
{
    return networkError(NetworkError::kCannotDecodeContent, "The service's answer has an unexpected form");
}

template <class T>
GenericRESTResponse<T> withResult(GenericRESTResponse<Json>& response, std::optional<T> result)
{
    return GenericRESTResponse<T>{std::move(result), std::move(response.error), response.errorCount,
                                  response.httpStatus};
}

} // namespace

ShellRESTAPI::ShellRESTAPI(http::Client& client, ShellUserDefaults& preferences)
    : AbstractAPI(client)
    , m_preferences(preferences)
{
}

ShellRESTAPI& ShellRESTAPI::sharedAPI()
{
    static ShellRESTAPI instance(http::Client::shared(), ShellUserDefaults::sharedInstance());
    return instance;
}

std::string ShellRESTAPI::getCallURL() const
{
    return deployment::serviceBaseUrl(m_preferences.getDebugMode());
}

std::string ShellRESTAPI::getUserAgent() const
{
    const platform::ProgramInfo& program = platform::currentProgram();
    return fmt::format("Corvane/{}({}) iOS/{}", program.shortVersion, program.build,
                       platform::operatingSystemVersion());
}

std::optional<std::string> ShellRESTAPI::getAuthToken() const
{
    return m_preferences.getAuthToken();
}

void ShellRESTAPI::setAuthToken(const JsonField& token)
{
    m_preferences.setAuthToken(token, !IS_DAEMON.load());
}

ShellRESTAPI::Operation ShellRESTAPI::call(const GenericRESTMessage* message, const std::optional<std::string>& url,
                                           const std::optional<std::string>& path, int method,
                                           Completion<Json> completion, std::optional<int> errorCountLimit,
                                           const std::optional<std::string>& customToken)
{
    return prepareRESTOperationWithMessage(message, url, path, method, errorCountLimit, customToken,
                                           std::move(completion));
}

template <class Record>
ShellRESTAPI::Completion<Json> ShellRESTAPI::building(Completion<Record> completion,
                                                     std::function<void(const Record&)> keep)
{
    return [completion = std::move(completion), keep = std::move(keep)](GenericRESTResponse<Json> response) {
        if (!response.error && hasUnexpectedForm(response)) {
            response.error = unexpectedFormError();
        }
        if (response.error) {
            completion(withResult<Record>(response, std::nullopt));
            return;
        }
        Record record = Record::createFromDict(response.result.value_or(Json()));
        keep(record);
        completion(withResult<Record>(response, std::move(record)));
    };
}

ShellRESTAPI::Completion<Json> ShellRESTAPI::storingToken(Completion<RESTLoginResponse> completion)
{
    return building<RESTLoginResponse>(std::move(completion),
                                       [this](const RESTLoginResponse& login) { setAuthToken(login.msgToken); });
}

ShellRESTAPI::Completion<Json> ShellRESTAPI::storingProfile(Completion<RESTShellUser> completion)
{
    return building<RESTShellUser>(std::move(completion),
                                   [this](const RESTShellUser& user) { m_preferences.setRESTShellUser(user); });
}

ShellRESTAPI::Operation ShellRESTAPI::connect(const std::string& email, const std::optional<std::string>& password,
                                              Completion<RESTLoginResponse> completion)
{
    GenericRESTMessage message;
    message.addParam(email, "email").addParam(password ? Json(*password) : Json(), "password");
    message.skipAuth = true;
    auto storing = storingToken(std::move(completion));
    return call(&message, std::nullopt, "auth/", kMethodPost,
                [storing = std::move(storing)](GenericRESTResponse<Json> response) {
                    if (response.error && response.httpStatus == 400) {
                        response.error = Error{kInvalidCredentials, 400, kInvalidCredentials, nullptr};
                    }
                    storing(std::move(response));
                },
                1);
}

ShellRESTAPI::Operation ShellRESTAPI::signUpWithEmail(const std::string& email, Completion<RESTLoginResponse> completion)
{
    GenericRESTMessage message;
    message.addParam(email, "email");
    return call(&message, std::nullopt, "register/", kMethodPost, storingToken(std::move(completion)));
}

ShellRESTAPI::Operation ShellRESTAPI::verifyTokenWithEmail(const std::string& email, const std::string& token,
                                                           Completion<RESTVerifyTokenResponse> completion)
{
    GenericRESTMessage message;
    message.addParam(email, "email").addParam(token, "token");
    return call(&message, std::nullopt, "verify-2fa-token/", kMethodPost,
                building<RESTVerifyTokenResponse>(std::move(completion), [this](const RESTVerifyTokenResponse& verified) {
                    setAuthToken(verified.msgToken);
                }));
}

ShellRESTAPI::Operation ShellRESTAPI::resetPasswordForEmail(const std::string& email, Completion<Json> completion)
{
    GenericRESTMessage message;
    message.addParam(email, "email");
    return call(&message, std::nullopt, "reset-password/", kMethodPost, std::move(completion));
}

ShellRESTAPI::Operation ShellRESTAPI::logoutWithCompletionHandler(Completion<Json> completion)
{
    return call(nullptr, std::nullopt, "auth/", kMethodDelete, std::move(completion));
}

ShellRESTAPI::Operation ShellRESTAPI::getProfileWithToken(const std::optional<std::string>& token,
                                                          Completion<RESTShellUser> completion)
{
    return call(nullptr, std::nullopt, "profile/", kMethodGet, storingProfile(std::move(completion)), std::nullopt,
                token);
}

ShellRESTAPI::Operation ShellRESTAPI::setProfile(RESTShellUser user, Completion<RESTShellUser> completion)
{
    user.clearForSending();
    GenericRESTMessage message;
    message.params = user.toDictionary();
    return call(&message, std::nullopt, "profile/", kMethodPut, storingProfile(std::move(completion)));
}

ShellRESTAPI::Operation ShellRESTAPI::getDevices(Completion<Json> completion)
{
    return call(nullptr, std::nullopt, "devices/", kMethodGet, std::move(completion));
}

ShellRESTAPI::Operation ShellRESTAPI::callPorts(const std::string& portsUrl, const std::string& identity,
                                                const JsonField& port, const std::string& serviceType,
                                                Completion<Json> completion)
{
    GenericRESTMessage message;
    message.addParam(identity, "m2m_identity").addParam(serviceType, "service").addParam(port, "port");
    return call(&message, portsUrl, std::nullopt, kMethodPost, std::move(completion));
}

ShellRESTAPI::Operation ShellRESTAPI::callReboot(const std::string& url, Completion<Json> completion)
{
    return call(nullptr, url, std::nullopt, kMethodPost, std::move(completion));
}

ShellRESTAPI::Operation ShellRESTAPI::callDevice(const std::string& url, Completion<Json> completion)
{
    return call(nullptr, url, std::nullopt, kMethodPost, std::move(completion));
}

ShellRESTAPI::Operation ShellRESTAPI::callDelete(const std::string& url, Completion<Json> completion)
{
    return call(nullptr, url, std::nullopt, kMethodDelete, std::move(completion));
}

ShellRESTAPI::Operation ShellRESTAPI::callEdit(const std::string& url, const std::string& name,
                                               Completion<Json> completion)
{
    GenericRESTMessage message;
    message.addParam(name, "name");
    return call(&message, url, std::nullopt, kMethodPatch, std::move(completion));
}

ShellRESTAPI::Operation ShellRESTAPI::getFile(const std::string& url, const std::string& path,
                                              const std::string& identity, Completion<Json> completion)
{
    GenericRESTMessage message;
    message.addParam(identity, "m2m_identity").addParam("remote-file", "service").addParam(path, "path");
    return call(&message, url, std::nullopt, kMethodPost, std::move(completion));
}

ShellRESTAPI::Operation ShellRESTAPI::getWormholeOnWithUrl(const std::string& url, Completion<Json> completion)
{
    return call(nullptr, url, std::nullopt, kMethodGet, std::move(completion));
}

ShellRESTAPI::Operation ShellRESTAPI::setWormholeOn(bool on, const std::string& url, Completion<Json> completion)
{
    GenericRESTMessage message;
    message.addParam(on, "wormhole_enabled");
    return call(&message, url, std::nullopt, kMethodPatch, std::move(completion));
}

} // namespace vantrel
