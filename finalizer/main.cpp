// Tessmark: run once after installation. Marks the installation for the daemon to report, then ends.
// Takes no arguments (any given are ignored) and always exits with 0.

#include "finalizer/FinalizationHandler.h"

#include "platform/Log.h"
#include "platform/ProgramInfo.h"

#include <exception>

int main()
{
    try {
        vantrel::platform::setCurrentProgram({"com.corvane.Tessmark", "1.6", "1.16"});
        vantrel::FinalizationHandler::finalize();
    } catch (const std::exception& error) {
        vantrel::logFormat("Tessmark: {}", error.what());
    }
    return 0;
}
