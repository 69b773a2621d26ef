#pragma once

#include <string_view>

namespace vantrel::sandbox {

/** The JSON text of the fixture shipped as sandbox/fixture.json (compiled in). */
std::string_view defaultFixtureText();

} // namespace vantrel::sandbox
