#include "ShellCore/BencodeValue.h"

namespace vantrel {

BencodeValue::Entry BencodeValue::EntryIterator::operator*() const
{
    return Entry {std::string_view(m_node->bytes, static_cast<std::size_t>(m_node->number)), BencodeValue(m_node + 1)};
}

std::optional<std::int64_t> BencodeValue::integer() const
{
    if (!isInteger()) {
        return std::nullopt;
    }
    return m_node->number;
}

std::optional<std::string_view> BencodeValue::bytes() const
{
    if (!isBytes()) {
        return std::nullopt;
    }
    return std::string_view(m_node->bytes, static_cast<std::size_t>(m_node->number));
}

std::size_t BencodeValue::size() const
{
    if (isList() || isDictionary()) {
        return static_cast<std::size_t>(m_node->number);
    }
    return 0;
}

std::optional<BencodeValue> BencodeValue::element(std::size_t index) const
{
    if (!isList() || index >= size()) {
        return std::nullopt;
    }
    ElementIterator position = elements().begin();
    for (std::size_t skipped = 0; skipped < index; ++skipped) {
        ++position;
    }
    return *position;
}

std::optional<BencodeValue> BencodeValue::find(std::string_view key) const
{
    for (const Entry& entry : entries()) {
        if (entry.key == key) {
            return entry.value;
        }
        if (entry.key > key) {
            break; // keys are sorted: the key cannot come later
        }
    }
    return std::nullopt;
}

BencodeValue::Range<BencodeValue::ElementIterator> BencodeValue::elements() const
{
    if (!isList()) {
        return {ElementIterator(m_node), ElementIterator(m_node)};
    }
    return {ElementIterator(m_node + 1), ElementIterator(m_node + m_node->extent)};
}

BencodeValue::Range<BencodeValue::EntryIterator> BencodeValue::entries() const
{
    if (!isDictionary()) {
        return {EntryIterator(m_node), EntryIterator(m_node)};
    }
    return {EntryIterator(m_node + 1), EntryIterator(m_node + m_node->extent)};
}

} // namespace vantrel
