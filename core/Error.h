#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace vantrel {

/**
 * A failure as a value. Each kind is identified by its domain and code (stable, used by logs and tests);
 * the description is a text that can be shown to the user as it stands.
 */
struct Error {
    std::string domain;
    std::int64_t code = 0;
    std::string description;
    std::shared_ptr<const Error> underlying; ///< the lower-level failure this one stands for, if any

    /** "description (domain code)", for log lines. */
    std::string text() const;
};

} // namespace vantrel
