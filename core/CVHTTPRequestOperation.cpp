#include "core/CVHTTPRequestOperation.h"

#include "core/NotificationCenter.h"

namespace vantrel {

CVHTTPRequestOperation::~CVHTTPRequestOperation()
{
    notifyOfStart(false);
}

void CVHTTPRequestOperation::start()
{
    notifyOfStart(true);
    HTTPRequestOperation::start();
}

void CVHTTPRequestOperation::cancel()
{
    HTTPRequestOperation::cancel();
    notifyOfStart(false);
}

void CVHTTPRequestOperation::notifyOfStart(bool started)
{
    NotificationCenter::defaultCenter().post(started ? nShowProgress : nHideProgress);
}

} // namespace vantrel
