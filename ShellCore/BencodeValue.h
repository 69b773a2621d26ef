#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <optional>
#include <string_view>

namespace vantrel {

/** The four kinds of bencode values. */
enum class BencodeKind : std::uint8_t { Integer, Bytes, List, Dictionary };

/**
 * A read-only view of one decoded bencode value: an integer, a byte string, a list or a dictionary.
 *
 * A decoded document keeps its values in one flat array in document order: a list is followed by its elements,
 * a dictionary by its keys and values alternating, so the value after a whole subtree is `extent` nodes further
 * on. A view is one pointer; byte strings point into the decoded input, nothing is copied.
 *
 * The accessors never fail on a value of another kind: they answer nothing (or an empty range), so code that
 * reads hostile packets checks shapes with the accessors themselves.
 *
 * Lifetime: valid while the BencodeDocument it came from stays in place and the decoded input lives.
 * Thread-safety: immutable; any thread may read it within that lifetime.
 */
class BencodeValue {
public:
    /** Storage of one value inside a BencodeDocument. */
    struct Node {
        const char* bytes = nullptr; ///< byte strings: the first byte, inside the decoded input
        std::int64_t number = 0; ///< integer: the value; byte string: its length; list/dictionary: elements/entries
        std::uint32_t extent = 1; ///< nodes of this value's subtree, itself included
        BencodeKind kind = BencodeKind::Integer;
    };

    struct Entry;

    /** A pair of iterators for range-for loops. */
    template <class Iterator> struct Range {
        Iterator first;
        Iterator last;

        Iterator begin() const { return first; }
        Iterator end() const { return last; }
        bool empty() const { return first == last; }
    };

    /** Walks the elements of a list. */
    class ElementIterator {
    public:
        using iterator_concept = std::forward_iterator_tag;
        using value_type = BencodeValue;
        using difference_type = std::ptrdiff_t;

        ElementIterator() = default;
        BencodeValue operator*() const { return BencodeValue(m_node); }
        ElementIterator& operator++()
        {
            m_node += m_node->extent;
            return *this;
        }
        ElementIterator operator++(int)
        {
            ElementIterator before = *this;
            ++*this;
            return before;
        }
        bool operator==(const ElementIterator&) const = default;

    private:
        friend class BencodeValue;
        explicit ElementIterator(const Node* node)
            : m_node(node)
        {
        }

        const Node* m_node = nullptr; // not owned: a node of the document
    };

    /** Walks the entries of a dictionary, in key order. */
    class EntryIterator {
    public:
        using iterator_concept = std::forward_iterator_tag;
        using value_type = Entry;
        using difference_type = std::ptrdiff_t;

        EntryIterator() = default;
        Entry operator*() const;
        EntryIterator& operator++()
        {
            const Node* value = m_node + 1; // a key is always a single byte-string node
            m_node = value + value->extent;
            return *this;
        }
        EntryIterator operator++(int)
        {
            EntryIterator before = *this;
            ++*this;
            return before;
        }
        bool operator==(const EntryIterator&) const = default;

    private:
        friend class BencodeValue;
        explicit EntryIterator(const Node* node)
            : m_node(node)
        {
        }

        const Node* m_node = nullptr; // not owned: the key node of the current entry
    };

    BencodeKind kind() const { return m_node->kind; }
    bool isInteger() const { return kind() == BencodeKind::Integer; }
    bool isBytes() const { return kind() == BencodeKind::Bytes; }
    bool isList() const { return kind() == BencodeKind::List; }
    bool isDictionary() const { return kind() == BencodeKind::Dictionary; }

    /** The integer, or nothing for another kind. */
    std::optional<std::int64_t> integer() const;

    /** The bytes of a byte string (a view into the decoded input), or nothing for another kind. */
    std::optional<std::string_view> bytes() const;

    /** Elements of a list, entries of a dictionary, 0 for a scalar. */
    std::size_t size() const;

    /** The list element at index, or nothing when this is not a list or the index is past its end. */
    std::optional<BencodeValue> element(std::size_t index) const;

    /** The dictionary value under key, or nothing when this is not a dictionary or the key is missing. */
    std::optional<BencodeValue> find(std::string_view key) const;

    /** The elements of a list, in order; empty for any other kind. */
    Range<ElementIterator> elements() const;

    /** The entries of a dictionary, in key order; empty for any other kind. */
    Range<EntryIterator> entries() const;

private:
    friend class BencodeDocument;
    friend class BencodeWriter;

    explicit BencodeValue(const Node* node)
        : m_node(node)
    {
    }

    const Node* m_node; // not owned: a node of the document
};

/** One dictionary entry: the key's bytes and the value. */
struct BencodeValue::Entry {
    std::string_view key;
    BencodeValue value;
};

} // namespace vantrel
