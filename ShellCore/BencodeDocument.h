#pragma once

#include "ShellCore/BencodeValue.h"

#include <boost/container/small_vector.hpp>

#include <memory>

namespace vantrel {

/**
 * The result of decoding one bencoded message: the flat array of its values, with the root first.
 *
 * Byte strings are not copied: they stay views into the decoded input, which must outlive the document unless the
 * document was decoded from a shared input, which it then keeps alive itself. The first few values are stored
 * inside the document, so decoding a relay packet (a list of two or three scalars) allocates nothing.
 *
 * Moving the document invalidates the BencodeValue views taken from it (not the byte-string views): take root()
 * once the document is where it stays. Thread-safety: immutable after decoding; any thread may read it.
 */
class BencodeDocument {
public:
    /** Values stored inside the document before the array moves to the heap: a [type, port, data] packet is 4. */
    static constexpr std::size_t kInlineValues = 8;

    using Nodes = boost::container::small_vector<BencodeValue::Node, kInlineValues>;

    /** The top value. */
    BencodeValue root() const { return BencodeValue(m_nodes.data()); }

private:
    friend class BencodeParser;

    BencodeDocument() = default;

    Nodes m_nodes; // owned; never empty once decoded
    std::shared_ptr<const void> m_input; // the decoded input when the document keeps it alive, else empty
};

} // namespace vantrel
