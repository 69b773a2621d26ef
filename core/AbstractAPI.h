#pragma once

#include "core/CVHTTPRequestOperation.h"
#include "core/GenericMessage.h"
#include "core/GenericRESTMessage.h"
#include "core/GenericResponse.h"
#include "core/iOSVersion.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace vantrel {

/** HTTP method codes of the REST calls; any other value means "GET". */
enum HTTPMethodCode : int { kMethodGet = 0, kMethodPost = 1, kMethodPut = 2, kMethodPatch = 3, kMethodDelete = 4 };

/** The JSON-RPC error code that asks the client to renew its session (left to the keep-alive policy). */
inline constexpr std::int64_t kRPCSessionKeepAliveCode = 1;
/** The JSON-RPC error code of a missing or invalid token (the stored token is then cleared). */
inline constexpr std::int64_t kRPCInvalidTokenCode = 9;
/** The error code of a call answered "cached": the caller's cached answer is still valid. */
inline constexpr std::int64_t kRPCNotModifiedCode = 304;

/**
 * The base of the service's clients. Turns a call (parameters, path or absolute address, method, token) into an
 * HTTPS request with a JSON body and the service's headers, runs it, and hands the caller one response in which a
 * failure is already an error whose description can be shown to the user. It is also the one place that notices
 * an expired session: every answer with status 401 posts "nSessionExpired". Calls are made on the main queue and
 * complete there, exactly once. Holds no per-call state; an instance must outlive the calls it runs (the clients
 * are process-wide instances).
 *
 * It also carries the JSON-RPC path (defined in RPCOperation.cpp): a call is a POST of a GenericMessage to
 * getCallURL, with the token in the "auth" query member; the answer's "error" member, the "cached" protocol and
 * two error codes with special handling (kRPCSessionKeepAliveCode, kRPCInvalidTokenCode) are resolved here.
 */
class AbstractAPI {
public:
    using RESTCompletion = std::function<void(GenericRESTResponse<Json>)>;
    using DataCompletion = std::function<void(std::optional<std::string> bytes, std::optional<Error> error)>;
    using RPCCompletion = std::function<void(GenericResponse)>;

    explicit AbstractAPI(http::Client& client);
    virtual ~AbstractAPI() = default;
    AbstractAPI(const AbstractAPI&) = delete;
    AbstractAPI& operator=(const AbstractAPI&) = delete;

    /** The process-wide instance of the base class (over the shared HTTP client). */
    static AbstractAPI& coreAPI();

    /** Base address (with a trailing "/") of calls that give a path. */
    virtual std::string getCallURL() const;
    virtual std::string getUserAgent() const;
    /** The stored sign-in token, if any. */
    virtual std::optional<std::string> getAuthToken() const;
    /** Stores a token the client learned, or removes the stored one (absent); nothing by default. */
    virtual void setAuthToken(const JsonField& token);
    /** A last chance to add to a request before it is sent; nothing by default. */
    virtual void processRequestBuilderBeforeDispatch(http::Request& request) const;

    /** Whether the host of the address can be reached at all (the no-connection test of failed calls). */
    virtual bool connected(const std::string& url) const;
    static std::string resolveMethod(int method);

    /** The request of a REST call, not yet sent. */
    http::Request prepareCleanRESTRequestWithMessage(const GenericRESTMessage* message,
                                                     const std::optional<std::string>& explicitUrl,
                                                     const std::optional<std::string>& path, int method,
                                                     const std::optional<std::string>& customToken) const;

    /**
     * Runs a REST call. The completion runs once on the main queue: with the decoded body as result, or with a
     * user-facing error built from the answer (at most errorCountLimit members of a JSON error body are read).
     */
    std::shared_ptr<CVHTTPRequestOperation> prepareRESTOperationWithMessage(
        const GenericRESTMessage* message, const std::optional<std::string>& explicitUrl,
        const std::optional<std::string>& path, int method, std::optional<int> errorCountLimit,
        const std::optional<std::string>& customToken, RESTCompletion completion) const;

    /** A plain GET of an absolute address; the body's bytes for a 2xx answer, else the error. */
    std::shared_ptr<HTTPRequestOperation> getHttpDataAtUrl(const std::string& url, DataCompletion completion) const;
    /** The same; the caller decodes the text. */
    std::shared_ptr<HTTPRequestOperation> getHttpStringAtUrl(const std::string& url, DataCompletion completion) const;

    /** The published version of an application, from the service's public web host; nothing on any failure. */
    void getVersionForApp(const std::string& applicationName,
                          std::function<void(std::optional<iOSVersion>)> completion) const;

    /** A small on-disk cache of encoded images in the documents folder ("/" in names becomes "-"). */
    void saveImage(const std::optional<std::string>& encodedImage, const std::string& name) const;
    std::optional<std::string> loadImageForName(const std::string& name) const;
    void downloadAndCacheImageAtUrl(const std::string& url, DataCompletion completion) const;

    /** "auth.login": the one method whose keep-alive error goes to its caller rather than to the policy. */
    static std::string getLoginMethodName();

    /**
     * The request of a JSON-RPC call, not yet sent: a POST to getCallURL (plus "?auth=" and the token when a
     * token is stored) with the only header "User-Agent: iOS Corvane client" and the message's compact JSON
     * without "cached" as the body.
     */
    http::Request prepareCleanRequestWithMessage(const GenericMessage& message) const;

    /**
     * Runs a JSON-RPC call with a 30-second deadline. The completion runs once, on the main queue, with:
     * the result and envelope of the answer; or the answer's error (code and message as sent); or, for an answer
     * marked "cached", no result, notModified and the error kRPCNotModifiedCode; or, for an HTTP 304,
     * notModified without error; or the client's error (the no-connection error when offline).
     * Error kRPCInvalidTokenCode also clears the stored token (except for "auth.connect_device"). Error
     * kRPCSessionKeepAliveCode (except for getLoginMethodName) goes to the keep-alive policy first, which may take
     * the call over; when it declines, the caller gets the error like any other.
     */
    std::shared_ptr<CVHTTPRequestOperation> prepareRPCOperationWithMessage(GenericMessage message,
                                                                           RPCCompletion completion);

    /** The error of a decoded JSON-RPC answer: its "error" member as an error value; nothing without one. */
    static std::optional<Error> resolveErrorforResponse(const Json& response);

    /**
     * The session keep-alive policy, offered a call answered with kRPCSessionKeepAliveCode. A policy that takes
     * the call over returns true and must then call completion exactly once itself (for instance after renewing
     * the session and repeating the call). The default declines (false), so the call completes with the error:
     * a call that never completes would leave its caller waiting for good.
     */
    virtual bool performSessionKeepAlivePolicyActionWithMessage(const GenericMessage& message,
                                                                const RPCCompletion& completion);

protected:
    http::Client& m_client;
};

/** The user-facing no-connection error (code 0). */
Error noConnectionError();

} // namespace vantrel
