#pragma once

#include "ShellCore/BencodeValue.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace vantrel {

/**
 * Appends bencoded values to a caller's string, e.g. a pong:
 *
 *     std::string packet;
 *     BencodeWriter(packet).beginList().integer(8).bytes("42").end(); // "li8e2:42e"
 *
 * Dictionary keys must be written as byte strings in ascending byte order (the writer does not sort). Closing
 * more containers than were opened is a programming error (std::logic_error).
 * Thread-safety: one writer per thread, like the string it writes to.
 */
class BencodeWriter {
public:
    /** Writes to the end of out, which must outlive the writer. */
    explicit BencodeWriter(std::string& out)
        : m_out(out)
    {
    }

    BencodeWriter& integer(std::int64_t value);
    BencodeWriter& bytes(std::string_view value);
    BencodeWriter& beginList();
    BencodeWriter& beginDictionary();
    /** Closes the innermost open list or dictionary. */
    BencodeWriter& end();

    /** Writes a decoded value, subtree and all, in canonical form. */
    BencodeWriter& value(BencodeValue value);

    /** Lists and dictionaries begun and not yet ended. */
    std::size_t openContainers() const { return m_open; }

private:
    void appendDecimal(std::int64_t value);

    std::string& m_out; // not owned: the caller's buffer
    std::size_t m_open = 0;
};

} // namespace vantrel
