#include "sandbox/HttpMessages.h"

#include <boost/beast/http/field.hpp>

namespace vantrel::sandbox {

namespace {

int hexValue(char c)
{
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

/** Percent-decoding with "+" as a space; a malformed escape is kept as it stands. */
std::string decoded(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '+') {
            out += ' ';
        } else if (text[i] == '%' && i + 2 < text.size() && hexValue(text[i + 1]) >= 0 && hexValue(text[i + 2]) >= 0) {
            out += static_cast<char>(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2]));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

} // namespace

RequestTarget RequestTarget::parse(std::string_view target)
{
    RequestTarget parsed;
    const auto question = target.find('?');
    parsed.path = decoded(target.substr(0, question));
    if (question == std::string_view::npos) {
        return parsed;
    }
    std::string_view query = target.substr(question + 1);
    while (!query.empty()) {
        const auto amp = query.find('&');
        const std::string_view pair = query.substr(0, amp);
        const auto equals = pair.find('=');
        if (!pair.empty()) {
            parsed.query[decoded(pair.substr(0, equals))] =
                equals == std::string_view::npos ? std::string() : decoded(pair.substr(equals + 1));
        }
        query = amp == std::string_view::npos ? std::string_view() : query.substr(amp + 1);
    }
    return parsed;
}

HttpResponse jsonResponse(HttpStatus status, const Json& body)
{
    return bytesResponse(status, toCompactJson(body), "application/json");
}

HttpResponse bytesResponse(HttpStatus status, std::string body, std::string_view contentType)
{
    HttpResponse response(status, 11);
    response.set(boost::beast::http::field::content_type, contentType);
    response.body() = std::move(body);
    return response;
}

HttpResponse detailResponse(HttpStatus status, std::string_view detail)
{
    return jsonResponse(status, Json {{"detail", detail}});
}

} // namespace vantrel::sandbox
