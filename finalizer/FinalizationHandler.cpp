#include "finalizer/FinalizationHandler.h"

#include "core/FinalizerTracker.h"

namespace vantrel {

void FinalizationHandler::finalize()
{
    FinalizerTracker::sharedTracker().markInstallationToTrack();
}

} // namespace vantrel
