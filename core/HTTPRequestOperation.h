#pragma once

#include "core/DecodedAnswer.h"
#include "core/HttpClient.h"

#include <functional>
#include <memory>

namespace vantrel {

/**
 * One HTTP request run by the HTTP client, with its outcome delivered on the main queue. The operation stays
 * alive until its completion has run, whether or not the caller keeps it. Start and cancel from the main queue.
 */
class HTTPRequestOperation : public std::enable_shared_from_this<HTTPRequestOperation> {
public:
    /** Receives the answer as it came. */
    using Completion = std::function<void(Result<http::Response>)>;
    /** Receives the answer with its JSON body decoded; the decoding happens before the main queue gets it, so a
     *  large body (a device list of thousands) never holds up the main queue. */
    using AnswerCompletion = std::function<void(DecodedAnswer)>;

    HTTPRequestOperation(http::Client& client, http::Request request, Completion completion);
    HTTPRequestOperation(http::Client& client, http::Request request, AnswerCompletion completion);
    virtual ~HTTPRequestOperation() = default;
    HTTPRequestOperation(const HTTPRequestOperation&) = delete;
    HTTPRequestOperation& operator=(const HTTPRequestOperation&) = delete;

    /** Sends the request; the completion runs once, on the main queue. */
    virtual void start();
    /** Stops the request: the completion then runs with the cancelled error, unless it has run already. */
    virtual void cancel();

    const http::Request& request() const { return m_request; }

private:
    /** Runs where the outcome arrives; returns the main-queue task that hands it to the completion. */
    using Delivery = std::function<std::function<void()>(Result<http::Response>)>;

    http::Client& m_client;
    http::Request m_request;
    Delivery m_delivery; // moved into the exchange by start
    std::shared_ptr<http::Exchange> m_exchange;
};

} // namespace vantrel
