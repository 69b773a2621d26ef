#pragma once

#include "core/JsonValue.h"

#include <cstdint>
#include <optional>

namespace vantrel {

/** A TCP port number from 1 to 65535, given as decimal text or as a number; nothing for anything else. */
std::optional<std::uint16_t> portNumberOf(const JsonField& value);

} // namespace vantrel
