#include "core/CoreData/StoreError.h"

#include "platform/Log.h"

#include <memory>
#include <utility>

namespace vantrel {

Error storeError(StoreErrorCode code, std::string description, std::optional<Error> underlying)
{
    Error error {kStoreErrorDomain, static_cast<std::int64_t>(code), std::move(description), nullptr};
    if (underlying) {
        error.underlying = std::make_shared<const Error>(std::move(*underlying));
    }
    return error;
}

bool isStoreError(const Error& error, StoreErrorCode code)
{
    return error.domain == kStoreErrorDomain && error.code == static_cast<std::int64_t>(code);
}

void logUnresolved(const Error& error)
{
    logFormat("Unresolved error {}, {}", error.text(), error.underlying ? error.underlying->text() : "no details");
}

} // namespace vantrel
