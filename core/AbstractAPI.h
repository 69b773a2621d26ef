#pragma once

#include "core/CVHTTPRequestOperation.h"
#include "core/GenericRESTMessage.h"
#include "core/iOSVersion.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace vantrel {

/** HTTP method codes of the REST calls; any other value means "GET". */
enum HTTPMethodCode : int { kMethodGet = 0, kMethodPost = 1, kMethodPut = 2, kMethodPatch = 3, kMethodDelete = 4 };

/**
 * The base of the service's clients. Turns a call (parameters, path or absolute address, method, token) into an
 * HTTPS request with a JSON body and the service's headers, runs it, and hands the caller one response in which a
 * failure is already an error whose description can be shown to the user. It is also the one place that notices
 * an expired session: every answer with status 401 posts "nSessionExpired". Calls are made on the main queue and
 * complete there, exactly once. Holds no per-call state.
 */
class AbstractAPI {
public:
    using RESTCompletion = std::function<void(GenericRESTResponse<Json>)>;
    using DataCompletion = std::function<void(std::optional<std::string> bytes, std::optional<Error> error)>;

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

protected:
    http::Client& m_client;
};

/** The user-facing no-connection error (code 0). */
Error noConnectionError();

} // namespace vantrel
