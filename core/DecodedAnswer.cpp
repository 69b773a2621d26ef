#include "core/DecodedAnswer.h"

#include "core/NetworkError.h"

#include <algorithm>
#include <array>
#include <memory>
#include <string>

namespace vantrel {
namespace {

constexpr std::array kAcceptedContentTypes {"application/javascript", "text/html", "text/xml", "application/json"};

bool acceptedContentType(const http::Response& response)
{
    if (response.contentType.empty() && response.body.empty()) {
        return true;
    }
    return std::find(kAcceptedContentTypes.begin(), kAcceptedContentTypes.end(), response.contentType)
        != kAcceptedContentTypes.end();
}

bool successStatus(unsigned status)
{
    return status >= 200 && status < 300;
}

Error contentTypeError(const http::Response& response)
{
    return networkError(NetworkError::kCannotDecodeContent,
                        "Request failed: unacceptable content-type: " + response.contentType);
}

} // namespace

DecodedAnswer DecodedAnswer::decode(const Result<http::Response>& outcome)
{
    DecodedAnswer answer;
    if (!outcome) {
        answer.clientError = outcome.error();
        return answer;
    }
    const http::Response& response = outcome.value();
    answer.status = response.status;
    const bool accepted = acceptedContentType(response);
    if (accepted && !response.body.empty()) {
        answer.body = parseJson(response.body);
        if (answer.body && answer.body->is_null()) {
            answer.body.reset();
        }
    }
    if (!successStatus(response.status)) {
        Error statusError = networkError(NetworkError::kBadServerResponse,
                                         "Request failed with status " + std::to_string(response.status));
        if (!accepted) {
            statusError.underlying = std::make_shared<const Error>(contentTypeError(response));
        }
        answer.clientError = std::move(statusError);
    } else if (!accepted) {
        answer.clientError = contentTypeError(response);
    } else if (!response.body.empty() && !answer.body) {
        answer.clientError = networkError(NetworkError::kCannotDecodeContent, "The server's answer is not valid JSON");
    }
    return answer;
}

} // namespace vantrel
