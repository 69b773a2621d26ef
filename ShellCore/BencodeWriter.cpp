#include "ShellCore/BencodeWriter.h"

#include <boost/container/small_vector.hpp>

#include <array>
#include <charconv>
#include <stdexcept>

namespace vantrel {

BencodeWriter& BencodeWriter::integer(std::int64_t value)
{
    m_out += 'i';
    appendDecimal(value);
    m_out += 'e';
    return *this;
}

BencodeWriter& BencodeWriter::bytes(std::string_view value)
{
    appendDecimal(static_cast<std::int64_t>(value.size()));
    m_out += ':';
    m_out += value;
    return *this;
}

BencodeWriter& BencodeWriter::beginList()
{
    m_out += 'l';
    ++m_open;
    return *this;
}

BencodeWriter& BencodeWriter::beginDictionary()
{
    m_out += 'd';
    ++m_open;
    return *this;
}

BencodeWriter& BencodeWriter::end()
{
    if (m_open == 0) {
        throw std::logic_error("BencodeWriter::end() without an open list or dictionary");
    }
    m_out += 'e';
    --m_open;
    return *this;
}

BencodeWriter& BencodeWriter::value(BencodeValue value)
{
    // The subtree is contiguous and in document order: write it front to back, closing each container once the
    // walk reaches the node after its last one. No recursion, so any depth the decoder accepted is fine.
    const BencodeValue::Node* const first = value.m_node;
    const BencodeValue::Node* const last = first + first->extent;
    boost::container::small_vector<const BencodeValue::Node*, 32> containerEnds;
    for (const BencodeValue::Node* node = first; node != last; ++node) {
        for (; !containerEnds.empty() && containerEnds.back() == node; containerEnds.pop_back()) {
            end();
        }
        switch (node->kind) {
        case BencodeKind::Integer:
            integer(node->number);
            break;
        case BencodeKind::Bytes:
            bytes({node->bytes, static_cast<std::size_t>(node->number)});
            break;
        case BencodeKind::List:
            beginList();
            containerEnds.push_back(node + node->extent);
            break;
        case BencodeKind::Dictionary:
            beginDictionary();
            containerEnds.push_back(node + node->extent);
            break;
        }
    }
    for (; !containerEnds.empty(); containerEnds.pop_back()) {
        end();
    }
    return *this;
}

void BencodeWriter::appendDecimal(std::int64_t value)
{
    std::array<char, 20> digits {}; // sign and 19 digits
    // Twenty characters hold every 64-bit integer, so the conversion cannot run out of room.
    char* const digitsEnd = std::to_chars(digits.data(), digits.data() + digits.size(), value).ptr;
    m_out.append(digits.data(), digitsEnd);
}

} // namespace vantrel
