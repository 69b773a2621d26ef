#pragma once

#include "core/JsonValue.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vantrel {

/**
 * A command between the programs: a code and, as its argument, a whole file's contents as text. It travels as
 * pretty-printed JSON with the members "code", "data_type" and "data", absent fields left out.
 */
struct IPCCommand {
    static constexpr std::int64_t kProvideSettings = 99;
    static constexpr std::int64_t kProvideData = 100;
    static constexpr std::int64_t kSetData = 101;
    static constexpr std::int64_t kSetSettings = 199;

    JsonField code;     ///< what the command asks for (an integer number)
    JsonField dataType; ///< reserved: no sender sets it, no receiver reads it
    JsonField data;     ///< the argument text

    /** The present fields under their JSON keys. */
    Json toDictionary() const;
    /** The text form; nothing when it cannot be written (after a log line). */
    std::optional<std::string> serialize() const;

    static IPCCommand createFromDict(const Json& dictionary);
    void inflateFromDictionary(const Json& dictionary);
    /** Reads the text form; text that is not a JSON object gives a command with every field absent. */
    static IPCCommand fromString(std::string_view text);
};

} // namespace vantrel
