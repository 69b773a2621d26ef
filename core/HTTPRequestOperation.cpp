#include "core/HTTPRequestOperation.h"

#include "core/MainQueue.h"

namespace vantrel {

HTTPRequestOperation::HTTPRequestOperation(http::Client& client, http::Request request, Completion completion)
    : m_client(client)
    , m_request(std::move(request))
    , m_delivery([completion = std::move(completion)](Result<http::Response> outcome) -> std::function<void()> {
        return [completion, outcome = std::move(outcome)]() mutable { completion(std::move(outcome)); };
    })
{
}

HTTPRequestOperation::HTTPRequestOperation(http::Client& client, http::Request request, AnswerCompletion completion)
    : m_client(client)
    , m_request(std::move(request))
    , m_delivery([completion = std::move(completion)](Result<http::Response> outcome) -> std::function<void()> {
        return [completion, answer = DecodedAnswer::decode(outcome)]() mutable { completion(std::move(answer)); };
    })
{
}

void HTTPRequestOperation::start()
{
    // The exchange keeps this operation alive until its outcome has been handed to the main queue and used.
    m_exchange = m_client.send(m_request, [self = shared_from_this(), deliver = std::move(m_delivery)](
                                              Result<http::Response> outcome) {
        // An answer that arrives after the program's loop has gone has nobody to go to.
        if (MainQueue* queue = MainQueue::installed()) {
            queue->post([self, task = deliver(std::move(outcome))]() { task(); });
        }
    });
}

void HTTPRequestOperation::cancel()
{
    if (m_exchange) {
        m_client.cancel(m_exchange);
    }
}

} // namespace vantrel
