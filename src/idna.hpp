// The IDNA stage of a check: UTS #46 ToASCII by ICU, with the label limits of
// the reference conversion, in time linear in the text. The only unit that
// knows ICU; also the core's UTF-8 decoder.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>

namespace korvel::idna {

enum class Outcome {
    Converted,  // the ASCII name is written
    Invalid,    // the conversion refuses the text
    TooLong,    // valid, but its ASCII form is longer than a name may be
                // (253 bytes), so that form is not made
};

// The longest text the conversion takes (ICU's lengths are 32-bit); a longer
// one is refused. Callers test it before they copy such a text.
inline constexpr std::size_t max_text_bytes = static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max());

// UTS #46 ToASCII of `lowered` (the check's text, 'A' to 'Z' already lowered):
// nontransitional, joiner and bidi rules on, no STD3, hyphen or DNS length
// rules. A label that is not ASCII after mapping and normalisation is refused
// beyond 1000 code points, an "xn--" label beyond 2000 characters after its
// prefix or when it decodes to more than 1000 code points. On Converted,
// `ascii` holds the name with 'A' to 'Z' lowered.
Outcome to_ascii(std::string_view lowered, std::string& ascii);

// What one linear pass over the mapped text tells before ICU converts it,
// from ICU's data for each code point, without ICU's normaliser.
struct LabelScan {
    bool within_limits;  // no label breaks the limits above; if one does, the rest means nothing
    bool right_to_left;  // some label holds a character of bidi class R, AL or AN:
                         // the name is a bidi domain name
    std::size_t min_ascii_bytes;  // the ASCII form of the text, if any, is no shorter
};
// Exposed so that tests can hold it against ICU's own conversion.
LabelScan scan_labels(std::string_view lowered);

// Facts of the Unicode data that the limits rest on (tests hold them against
// ICU's data): no character decomposes canonically into more than 4 code
// points, so composition leaves at least a quarter of a label's mapped code
// points; no character maps to more than 6 code points per byte of its UTF-8
// form, so a text of at most 1000 / 6 bytes breaks no limit.
inline constexpr std::size_t max_canonical_decomposition = 4;
inline constexpr std::size_t max_mapped_per_byte = 6;

// Decodes the code point at text[i] and moves i past it. A malformed sequence
// yields U+FFFD and one byte, so every byte is consumed exactly once.
char32_t next_code_point(std::string_view text, std::size_t& i) noexcept;

void append_utf8(std::string& out, char32_t cp);

}  // namespace korvel::idna
