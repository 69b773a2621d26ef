#include "core/CoreData/SearchFolding.h"

#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/utf16.h>

namespace vantrel {
namespace {

icu::UnicodeString withoutNonSpacingMarks(const icu::UnicodeString& decomposed)
{
    icu::UnicodeString kept;
    for (int32_t i = 0; i < decomposed.length();) {
        const UChar32 codePoint = decomposed.char32At(i);
        i += U16_LENGTH(codePoint);
        if (u_charType(codePoint) != U_NON_SPACING_MARK) {
            kept.append(codePoint);
        }
    }
    return kept;
}

} // namespace

std::string foldForSearch(std::string_view text)
{
    icu::UnicodeString folded =
        icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
    folded.foldCase();

    // The normalizers are process-wide ICU singletons; a failure to load them leaves the text case-folded only.
    UErrorCode status = U_ZERO_ERROR;
    const icu::Normalizer2* decomposition = icu::Normalizer2::getNFDInstance(status);
    const icu::Normalizer2* composition = icu::Normalizer2::getNFCInstance(status);
    if (U_SUCCESS(status)) {
        const icu::UnicodeString decomposed = decomposition->normalize(folded, status);
        const icu::UnicodeString composed = composition->normalize(withoutNonSpacingMarks(decomposed), status);
        if (U_SUCCESS(status)) {
            folded = composed;
        }
    }
    std::string result;
    folded.toUTF8String(result);
    return result;
}

} // namespace vantrel
