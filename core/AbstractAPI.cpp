#include "core/AbstractAPI.h"

#include "core/CRUDHelper.h"
#include "core/DecodedAnswer.h"
#include "core/Deployment.h"
#include "core/LocalizedText.h"
#include "core/NetworkError.h"
#include "core/NotificationCenter.h"
#include "core/Url.h"

#include "platform/AtomicFile.h"
#include "platform/Paths.h"
#include "platform/Reachability.h"

#include <algorithm>

namespace vantrel {
namespace {

bool successStatus(unsigned status)
{
    return status >= 200 && status < 300;
}

// The texts of a JSON error body, joined without separator: each member's text, or each text of a member's list,
// in member order, reading at most limit members.
std::string messageFromErrorBody(const Json& body, std::optional<int> limit)
{
    std::string message;
    int visited = 0;
    for (const auto& [key, value] : body.items()) {
        if (limit && visited >= *limit) {
            break;
        }
        if (value.is_array()) {
            for (const Json& element : value) {
                if (element.is_string()) {
                    message += element.get<std::string>();
                }
            }
        } else if (value.is_string()) {
            message += value.get<std::string>();
        }
        ++visited;
    }
    return message;
}

} // namespace

Error noConnectionError()
{
    const std::string text = localizedText("crv_core_no_connection");
    return Error{text, 0, text, nullptr};
}

AbstractAPI::AbstractAPI(http::Client& client)
    : m_client(client)
{
}

AbstractAPI& AbstractAPI::coreAPI()
{
    static AbstractAPI instance(http::Client::shared());
    return instance;
}

std::string AbstractAPI::getCallURL() const
{
    return deployment::serviceBaseUrl(false);
}

std::string AbstractAPI::getUserAgent() const
{
    return "";
}

std::optional<std::string> AbstractAPI::getAuthToken() const
{
    return std::nullopt;
}

void AbstractAPI::setAuthToken(const JsonField&)
{
}

void AbstractAPI::processRequestBuilderBeforeDispatch(http::Request&) const
{
}

bool AbstractAPI::connected(const std::string& url) const
{
    const auto parsed = parseUrl(url);
    return platform::isHostReachable(parsed ? parsed.value().host : std::string());
}

std::string AbstractAPI::resolveMethod(int method)
{
    switch (method) {
    case kMethodPost:
        return "POST";
    case kMethodPut:
        return "PUT";
    case kMethodPatch:
        return "PATCH";
    case kMethodDelete:
        return "DELETE";
    default:
        return "GET";
    }
}

http::Request AbstractAPI::prepareCleanRESTRequestWithMessage(const GenericRESTMessage* message,
                                                              const std::optional<std::string>& explicitUrl,
                                                              const std::optional<std::string>& path, int method,
                                                              const std::optional<std::string>& customToken) const
{
    http::Request request;
    if (explicitUrl && !explicitUrl->empty()) {
        request.url = *explicitUrl;
    } else {
        request.url = getCallURL() + path.value_or("");
    }
    const std::optional<std::string> token = customToken ? customToken : getAuthToken();
    request.method = resolveMethod(method);
    request.headers = {{"User-Agent", getUserAgent()}, {"Accept", "application/json"}, {"Content-Type", "application/json"}};
    processRequestBuilderBeforeDispatch(request);
    if (token && !token->empty() && (message == nullptr || !message->skipAuth)) {
        request.headers.emplace_back("Authorization", "Token " + *token);
    }
    if (message != nullptr && message->toDictionary()) {
        request.body = toCompactJson(*message->toDictionary());
    }
    return request;
}

std::shared_ptr<CVHTTPRequestOperation> AbstractAPI::prepareRESTOperationWithMessage(
    const GenericRESTMessage* message, const std::optional<std::string>& explicitUrl,
    const std::optional<std::string>& path, int method, std::optional<int> errorCountLimit,
    const std::optional<std::string>& customToken, RESTCompletion completion) const
{
    http::Request request = prepareCleanRESTRequestWithMessage(message, explicitUrl, path, method, customToken);
    const std::string url = request.url;
    auto operation = std::make_shared<CVHTTPRequestOperation>(
        m_client, std::move(request),
        [this, url, errorCountLimit, completion = std::move(completion)](DecodedAnswer answer) {
            GenericRESTResponse<Json> response;
            response.httpStatus = answer.status;
            if (!answer.clientError) {
                response.result = std::move(answer.body);
                completion(std::move(response));
                return;
            }
            const Error& clientError = *answer.clientError;
            if (answer.status == 401) {
                NotificationCenter::defaultCenter().post(nSessionExpired, static_cast<const void*>(this));
                response.error = clientError;
            }
            if (connected(url)) {
                response.error = clientError.underlying ? *clientError.underlying : clientError;
                if (clientError.code == NetworkError::kNotConnectedToInternet) {
                    response.error = noConnectionError();
                } else if (answer.body && answer.body->is_object()) {
                    const std::string text = messageFromErrorBody(*answer.body, errorCountLimit);
                    response.errorCount = static_cast<std::int32_t>(answer.body->size());
                    response.error = Error{text, clientError.code, text, nullptr};
                }
            } else {
                response.error = noConnectionError();
            }
            completion(std::move(response));
        });
    operation->start();
    return operation;
}

std::shared_ptr<HTTPRequestOperation> AbstractAPI::getHttpDataAtUrl(const std::string& url,
                                                                    DataCompletion completion) const
{
    http::Request request;
    request.url = url;
    auto operation = std::make_shared<HTTPRequestOperation>(
        m_client, std::move(request), [completion = std::move(completion)](Result<http::Response> outcome) {
            if (!outcome) {
                completion(std::nullopt, outcome.error());
            } else if (!successStatus(outcome.value().status)) {
                completion(std::nullopt, networkError(NetworkError::kBadServerResponse,
                                                      "Request failed with status "
                                                          + std::to_string(outcome.value().status)));
            } else {
                completion(std::move(outcome).value().body, std::nullopt);
            }
        });
    operation->start();
    return operation;
}

std::shared_ptr<HTTPRequestOperation> AbstractAPI::getHttpStringAtUrl(const std::string& url,
                                                                      DataCompletion completion) const
{
    return getHttpDataAtUrl(url, std::move(completion));
}

void AbstractAPI::getVersionForApp(const std::string& applicationName,
                                   std::function<void(std::optional<iOSVersion>)> completion) const
{
    const std::string url = deployment::webBaseUrl() + "static/files/app_versions.json";
    getHttpDataAtUrl(url, [applicationName, completion = std::move(completion)](std::optional<std::string> bytes,
                                                                               std::optional<Error>) {
        const std::optional<Json> published = bytes ? parseJson(*bytes) : std::nullopt;
        if (!published || !published->is_object()) {
            completion(std::nullopt);
            return;
        }
        const Json apps = CRUDHelper::getValueForKey("ios", *published);
        const Json version = CRUDHelper::getValueForKey(applicationName, apps);
        if (!apps.is_object() || !version.is_object()) {
            completion(std::nullopt);
            return;
        }
        completion(iOSVersion::createFromDictionary(version));
    });
}

namespace {

std::filesystem::path imageFile(const std::string& name)
{
    std::string fileName = name;
    std::replace(fileName.begin(), fileName.end(), '/', '-');
    return platform::paths::documentsDirectory() / fileName;
}

} // namespace

void AbstractAPI::saveImage(const std::optional<std::string>& encodedImage, const std::string& name) const
{
    if (encodedImage) {
        std::error_code ignored;
        std::filesystem::create_directories(platform::paths::documentsDirectory(), ignored);
        ignored = platform::writeFileAtomically(imageFile(name), *encodedImage, 0644);
    }
}

std::optional<std::string> AbstractAPI::loadImageForName(const std::string& name) const
{
    std::string bytes;
    if (platform::readWholeFile(imageFile(name), bytes)) {
        return std::nullopt;
    }
    return bytes;
}

void AbstractAPI::downloadAndCacheImageAtUrl(const std::string& url, DataCompletion completion) const
{
    getHttpDataAtUrl(url, [this, url, completion = std::move(completion)](std::optional<std::string> bytes,
                                                                         std::optional<Error> error) {
        if (bytes) {
            saveImage(bytes, url);
        }
        completion(std::move(bytes), std::move(error));
    });
}

} // namespace vantrel
