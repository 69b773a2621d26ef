// The JSON-RPC path of AbstractAPI: building a call, running it, and reading its answer.

#include "core/AbstractAPI.h"

#include "core/CRUDHelper.h"
#include "core/DecodedAnswer.h"
#include "core/LocalizedText.h"
#include "core/NetworkError.h"

#include "platform/Log.h"

#include <chrono>
#include <utility>

namespace vantrel {
namespace {

constexpr std::chrono::seconds kRPCTimeout {30};
constexpr const char* kRPCUserAgent = "iOS Corvane client";
/** The one method whose invalid-token error leaves the stored token in place. */
constexpr const char* kConnectDeviceMethod = "auth.connect_device";
constexpr const char* kErrorMember = "error";
constexpr const char* kErrorMessageMember = "message";
constexpr const char* kErrorCodeMember = "code";
/** Said when an answer's error member carries no message text. */
constexpr const char* kUndescribedError = "The service reported an error without a description.";

/** The text as a query value: every byte but the unreserved characters percent-encoded. */
std::string percentEncoded(std::string_view text)
{
    constexpr const char* kHex = "0123456789ABCDEF";
    std::string encoded;
    encoded.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        const bool unreserved = (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z')
            || (byte >= '0' && byte <= '9') || byte == '-' || byte == '.' || byte == '_' || byte == '~';
        if (unreserved) {
            encoded += c;
        } else {
            encoded += '%';
            encoded += kHex[byte >> 4];
            encoded += kHex[byte & 0x0F];
        }
    }
    return encoded;
}

Error notModifiedError()
{
    const std::string text = localizedText("crv_core_not_modified");
    return Error {text, kRPCNotModifiedCode, text, nullptr};
}

/** The outcome of a call answered with something other than a JSON object. */
GenericResponse notAnAnswer()
{
    GenericResponse response;
    response.error = networkError(NetworkError::kCannotDecodeContent, "The service's answer is not a JSON-RPC answer.");
    return response;
}

/** The outcome of a call that failed in transport or with a status outside 200-299. */
GenericResponse failedCall(const DecodedAnswer& answer, bool connected)
{
    GenericResponse response;
    if (answer.status == 304) {
        logFormat("GOT NOT MODIFIED RESPONSE");
        response.notModified = true;
    } else if (connected && answer.clientError->code != NetworkError::kNotConnectedToInternet) {
        response.error = answer.clientError;
    } else {
        response.error = noConnectionError();
    }
    return response;
}

} // namespace

std::string AbstractAPI::getLoginMethodName()
{
    return "auth.login";
}

http::Request AbstractAPI::prepareCleanRequestWithMessage(const GenericMessage& message) const
{
    http::Request request;
    request.url = getCallURL();
    if (const auto token = getAuthToken(); token && !token->empty()) {
        request.url += "?auth=" + percentEncoded(*token);
    }
    request.method = "POST";
    request.headers = {{"User-Agent", kRPCUserAgent}};
    Json body = message.toDictionary();
    body.erase(FIELD_CACHED);
    request.body = toCompactJson(body);
    return request;
}

std::shared_ptr<CVHTTPRequestOperation> AbstractAPI::prepareRPCOperationWithMessage(GenericMessage message,
                                                                                    RPCCompletion completion)
{
    http::Request request = prepareCleanRequestWithMessage(message);
    request.timeout = kRPCTimeout;
    const std::string url = request.url;
    auto operation = std::make_shared<CVHTTPRequestOperation>(
        m_client, std::move(request),
        [this, url, message = std::move(message), completion = std::move(completion)](DecodedAnswer answer) {
            if (answer.clientError) {
                completion(failedCall(answer, connected(url)));
                return;
            }
            const Json body = answer.body.value_or(Json());
            if (!body.is_object()) {
                completion(notAnAnswer());
                return;
            }
            GenericResponse response = GenericResponse::createFromDictionary(body);
            response.error = resolveErrorforResponse(body);
            const std::int64_t code = response.error ? response.error->code : 0;
            if (response.error && code == kRPCSessionKeepAliveCode && message.method != getLoginMethodName()) {
                if (performSessionKeepAlivePolicyActionWithMessage(message, completion)) {
                    return;
                }
            } else if (response.error && code == kRPCInvalidTokenCode && message.method != kConnectDeviceMethod) {
                setAuthToken(JsonField());
            } else if (response.cached) {
                response.result = JsonField();
                response.error = notModifiedError();
                response.notModified = true;
            }
            completion(std::move(response));
        });
    operation->start();
    return operation;
}

std::optional<Error> AbstractAPI::resolveErrorforResponse(const Json& response)
{
    const JsonField error = CRUDHelper::getValueForKey(kErrorMember, response);
    if (!isPresent(error)) {
        return std::nullopt;
    }
    // An error member that is a bare text (not the usual object) is still reported, with that text.
    std::string message =
        textOf(error.is_object() ? CRUDHelper::getValueForKey(kErrorMessageMember, error) : error).value_or("");
    if (message.empty()) {
        message = kUndescribedError;
    }
    const std::int64_t code = integerValueOf(CRUDHelper::getValueForKey(kErrorCodeMember, error));
    return Error {message, code, message, nullptr};
}

bool AbstractAPI::performSessionKeepAlivePolicyActionWithMessage(const GenericMessage&, const RPCCompletion&)
{
    return false;
}

} // namespace vantrel
