#pragma once

#include <string>
#include <string_view>

namespace vantrel {

/** A "major.minor" application version text, compared component by component as numbers. */
class AppVersion {
public:
    explicit AppVersion(std::string versionString);

    /**
     * True when this version is older than or equal to other. False when either text is empty or either does not
     * have exactly two components; a component that is not a number counts as 0.
     */
    bool compare(std::string_view other) const;

    const std::string& versionString() const { return m_versionString; }

private:
    std::string m_versionString;
};

} // namespace vantrel
