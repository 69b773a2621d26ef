#pragma once

#include <filesystem>

namespace vantrel::testing {

/** A fresh folder under the system's temporary folder, removed with everything in it when this goes away. */
class TempDirectory {
public:
    TempDirectory();
    ~TempDirectory();
    TempDirectory(const TempDirectory&) = delete;
    TempDirectory& operator=(const TempDirectory&) = delete;

    const std::filesystem::path& path() const { return m_path; }
    std::filesystem::path operator/(const std::filesystem::path& child) const { return m_path / child; }

private:
    std::filesystem::path m_path;
};

} // namespace vantrel::testing
