#include "tests/support/TempDirectory.h"

#include <cstdlib>
#include <stdexcept>
#include <string>

namespace vantrel::testing {

TempDirectory::TempDirectory()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "vantrel-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("cannot create a temporary folder");
    }
    m_path = pattern;
}

TempDirectory::~TempDirectory()
{
    std::error_code ignored;
    std::filesystem::remove_all(m_path, ignored);
}

} // namespace vantrel::testing
