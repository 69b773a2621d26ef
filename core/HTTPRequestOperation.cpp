#include "core/HTTPRequestOperation.h"

#include "core/MainQueue.h"

namespace vantrel {

HTTPRequestOperation::HTTPRequestOperation(http::Client& client, http::Request request, Completion completion)
    : m_client(client)
    , m_request(std::move(request))
    , m_completion(std::move(completion))
{
}

void HTTPRequestOperation::start()
{
    // The exchange keeps this operation alive until its outcome has been handed to the main queue and used.
    m_exchange = m_client.send(m_request, [self = shared_from_this(), completion = std::move(m_completion)](
                                              Result<http::Response> outcome) mutable {
        // An answer that arrives after the program's loop has gone has nobody to go to.
        if (MainQueue* queue = MainQueue::installed()) {
            queue->post([self, completion, outcome = std::move(outcome)]() mutable { completion(std::move(outcome)); });
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
