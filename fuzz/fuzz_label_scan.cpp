// The label scan of the IDNA stage against ICU's own normaliser. The input is
// a small program: pairs of bytes pick a fragment and how often to repeat it,
// so that a few bytes make labels around the 1000 code point limit out of
// characters that reorder, compose, decompose, map to several code points or
// to nothing, and are right-to-left.
#include <unicode/uchar.h>
#include <unicode/unorm2.h>
#include <unicode/ustring.h>
#include <unicode/utf16.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_text.hpp"
#include "idna.hpp"

namespace {

constexpr const char* fragments[] = {
    "a", "b", "1", "-", ".", "\u3002", "\u00e4", "\u0301", "\u0316", "\u0345", "\u05b0", "\u0308", "\u0323",
    "\u0f73", "\u0344", "\U00016D67", "\U00016D68", "\U00011392", "\U000113C5", "\U00016104", "\U00016121",
    "\u1100", "\u1161", "\u11a8", "\uac00", "\u00ad", "\ufdfa", "\u1e9e", "\u212b", "\u4e00", "\u1f02", "\u1f82",
    "\uff41", "\U00010400", "\xff", "\u05d0", "\u0627", "\u0660", "\ufb50", "\u0653", "\u0654", "\u093c",
    "\u094d", "\u0b3e", "\u0b47", "\u0cc2", "\u0cbf", "\u0dcf", "\u0dd9", "\u1025", "\u102e", "\u3099", "\u304b",
    "\u309a", "\u0e48", "\u0f71", "\u0f72", "\u0f80", "\u0fb2", "\u0f81", "\u2488", "\u00c5", "\u200c", "\u200d",
    "\u034f", "\U0001D15E", "\U0001D165", "\U0001D16E",
};
constexpr std::size_t fragment_count = sizeof fragments / sizeof *fragments;
constexpr std::size_t max_text = 16000;

bool right_to_left(UChar32 c) {
    const UCharDirection direction = u_charDirection(c);
    return direction == U_RIGHT_TO_LEFT || direction == U_RIGHT_TO_LEFT_ARABIC || direction == U_ARABIC_NUMBER;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string text;
    for (std::size_t i = 0; i + 1 < size && text.size() < max_text; i += 2) {
        const std::string_view fragment = fragments[data[i] % fragment_count];
        const std::size_t count = data[i + 1] < 200 ? 1 + data[i + 1] % 4 : (data[i + 1] - 199) * 40;
        for (std::size_t k = 0; k < count && text.size() < max_text; ++k) text += fragment;
    }
    const korvel::idna::LabelScan scan = korvel::idna::scan_labels(text);

    UErrorCode error = U_ZERO_ERROR;
    const UNormalizer2* uts46 = unorm2_getInstance(nullptr, "uts46", UNORM2_COMPOSE, &error);
    std::u16string source(text.size() + 1, u'\0');
    int32_t length = 0;
    u_strFromUTF8WithSub(reinterpret_cast<UChar*>(source.data()), static_cast<int32_t>(source.size()), &length,
                         text.data(), static_cast<int32_t>(text.size()), 0xFFFD, nullptr, &error);
    std::u16string normal(static_cast<std::size_t>(length) * 18 + 16, u'\0');
    const int32_t n = unorm2_normalize(uts46, reinterpret_cast<const UChar*>(source.data()), length,
                                       reinterpret_cast<UChar*>(normal.data()), static_cast<int32_t>(normal.size()),
                                       &error);
    if (U_FAILURE(error)) korvel::fuzz::fail("ICU could not normalise", text);

    // Per label of ICU's result: the limit, right-to-left characters; and the
    // number of code points, no more than the ASCII form's bytes.
    bool within = true, rtl = false, non_ascii = false;
    std::size_t label = 0, code_points = 0;
    for (int32_t i = 0; i <= n;) {
        UChar32 c = U'.';
        if (i < n) {
            U16_NEXT(normal.data(), i, n, c);
        } else {
            ++i;
        }
        if (c == U'.') {
            within = within && !(non_ascii && label > 1000);
            code_points += label + (i <= n ? 1 : 0);
            label = 0, non_ascii = false;
            continue;
        }
        ++label;
        non_ascii = non_ascii || c >= 0x80;
        rtl = rtl || right_to_left(c);
    }
    if (scan.within_limits != within) korvel::fuzz::fail("the scan and ICU disagree on the label limit", text);
    if (within && scan.right_to_left != rtl) korvel::fuzz::fail("the scan and ICU disagree on right-to-left", text);
    if (within && scan.min_ascii_bytes > code_points) korvel::fuzz::fail("the scan's lower bound is too high", text);
    return 0;
}
