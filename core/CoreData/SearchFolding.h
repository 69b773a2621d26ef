#pragma once

#include <string>
#include <string_view>

namespace vantrel {

/**
 * The form in which device texts are compared by a search: Unicode case folding (full: "ß" becomes "ss"), then
 * canonical decomposition with every non-spacing mark removed (so "Å" and "å" become "a"), recomposed. Two texts
 * that differ only in case or diacritics fold to the same text, so a case- and diacritic-insensitive substring
 * search is a plain substring search of folded texts. Invalid UTF-8 sequences become U+FFFD. Thread-safe.
 */
std::string foldForSearch(std::string_view text);

} // namespace vantrel
