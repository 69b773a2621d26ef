#pragma once

namespace vantrel {

/** The work of the installation finalizer: mark this installation so that the daemon reports it once. */
class FinalizationHandler {
public:
    FinalizationHandler() = delete;

    /** Sends the daemon the stored settings with the machine's serial as the installation to report. */
    static void finalize();
};

} // namespace vantrel
