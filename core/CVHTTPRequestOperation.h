#pragma once

#include "core/HTTPRequestOperation.h"

namespace vantrel {

/**
 * The request operation of the service clients: announces itself with the progress notices, "nShowProgress"
 * when it starts and "nHideProgress" when it is cancelled and again when it is released.
 */
class CVHTTPRequestOperation final : public HTTPRequestOperation {
public:
    using HTTPRequestOperation::HTTPRequestOperation;
    ~CVHTTPRequestOperation() override;

    void start() override;
    void cancel() override;

    /** Posts "nShowProgress" for true, "nHideProgress" for false. */
    static void notifyOfStart(bool started);
};

} // namespace vantrel
