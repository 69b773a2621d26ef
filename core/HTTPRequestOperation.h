#pragma once

#include "core/HttpClient.h"

#include <memory>

namespace vantrel {

/**
 * One HTTP request run by the HTTP client, with its outcome delivered on the main queue. The operation stays
 * alive until its completion has run, whether or not the caller keeps it. Start and cancel from the main queue.
 */
class HTTPRequestOperation : public std::enable_shared_from_this<HTTPRequestOperation> {
public:
    using Completion = std::function<void(Result<http::Response>)>;

    HTTPRequestOperation(http::Client& client, http::Request request, Completion completion);
    virtual ~HTTPRequestOperation() = default;
    HTTPRequestOperation(const HTTPRequestOperation&) = delete;
    HTTPRequestOperation& operator=(const HTTPRequestOperation&) = delete;

    /** Sends the request; the completion runs once, on the main queue. */
    virtual void start();
    /** Stops the request: the completion then runs with the cancelled error, unless it has run already. */
    virtual void cancel();

    const http::Request& request() const { return m_request; }

private:
    http::Client& m_client;
    http::Request m_request;
    Completion m_completion; // moved into the exchange by start
    std::shared_ptr<http::Exchange> m_exchange;
};

} // namespace vantrel
