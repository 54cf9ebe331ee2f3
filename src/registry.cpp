#include "registry.hpp"

#include <unicode/uidna.h>
#include <unicode/unorm2.h>
#include <unicode/ustring.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <limits>
#include <stdexcept>
#include <vector>

#include "checker.hpp"
#include "generated.hpp"

namespace korvel::registry {

using types::Charset;
using types::CheckResult;
using types::CheckStatus;
using types::ClosedReason;
using types::LengthBasis;
using types::Registerable;
using types::TldRule;

namespace {

// --- small text helpers -----------------------------------------------------

constexpr char ascii_lower(char c) noexcept {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// Lowers 'A' to 'Z' in place; tells whether any byte is outside ASCII.
bool lower_ascii_in_place(std::string& text) noexcept {
    unsigned char seen = 0;
    for (char& c : text) {
        c = ascii_lower(c);
        seen |= static_cast<unsigned char>(c);
    }
    return (seen & 0x80) != 0;
}

bool has_non_ascii(std::string_view text) noexcept {
    for (char c : text)
        if (static_cast<unsigned char>(c) >= 0x80) return true;
    return false;
}

std::string concat(std::initializer_list<std::string_view> parts) {
    std::size_t size = 0;
    for (std::string_view part : parts) size += part.size();
    std::string out;
    out.reserve(size);
    for (std::string_view part : parts) out.append(part);
    return out;
}

CheckResult single(CheckStatus status, std::string reason) {
    CheckResult result{status, {}};
    result.reasons.push_back(std::move(reason));
    return result;
}

// Decodes the code point at text[i] and moves i past it. A malformed sequence
// yields U+FFFD and one byte, so every byte is consumed exactly once.
char32_t next_code_point(std::string_view text, std::size_t& i) noexcept {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char b0 = byte(i);
    if (b0 < 0x80) {
        ++i;
        return b0;
    }
    std::size_t length = 0;
    char32_t cp = 0;
    char32_t min = 0;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        length = 2, cp = b0 & 0x1F, min = 0x80;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        length = 3, cp = b0 & 0x0F, min = 0x800;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        length = 4, cp = b0 & 0x07, min = 0x10000;
    }
    if (length == 0 || text.size() - i < length) {
        ++i;
        return U'\uFFFD';
    }
    for (std::size_t k = 1; k < length; ++k) {
        const unsigned char b = byte(i + k);
        if ((b & 0xC0) != 0x80) {
            ++i;
            return U'\uFFFD';
        }
        cp = (cp << 6) | (b & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        ++i;
        return U'\uFFFD';
    }
    i += length;
    return cp;
}

std::size_t code_point_count(std::string_view text) noexcept {
    std::size_t count = 0;
    for (std::size_t i = 0; i < text.size(); ++count) next_code_point(text, i);
    return count;
}

void append_utf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

// Upper-case hexadecimal, at least four digits.
std::string code_point_hex(char32_t cp) {
    constexpr char digits[] = "0123456789ABCDEF";
    char buffer[8];
    std::size_t n = 0;
    do {
        buffer[n++] = digits[cp & 0xF];
        cp >>= 4;
    } while (cp != 0);
    while (n < 4) buffer[n++] = '0';
    std::string out;
    out.reserve(n);
    while (n > 0) out.push_back(buffer[--n]);
    return out;
}

bool contains_code_point(std::string_view text, char32_t wanted) noexcept {
    for (std::size_t i = 0; i < text.size();)
        if (next_code_point(text, i) == wanted) return true;
    return false;
}

constexpr bool is_ldh(char32_t c) noexcept {
    return c == U'-' || (c >= U'0' && c <= U'9') || (c >= U'a' && c <= U'z') || (c >= U'A' && c <= U'Z');
}

// --- White_Space ----------------------------------------------------------------

// Length of the White_Space character that the bytes [p, p + n) begin with, or 0.
std::size_t white_space_at_start(const unsigned char* p, std::size_t n) noexcept {
    if (n == 0) return 0;
    if ((p[0] >= 0x09 && p[0] <= 0x0D) || p[0] == 0x20) return 1;
    if (p[0] < 0xC2 || p[0] > 0xE3) return 0;  // the common case: no multi-byte white space
    if (p[0] == 0xC2) return n >= 2 && (p[1] == 0x85 || p[1] == 0xA0) ? 2 : 0;  // U+0085, U+00A0
    if (n < 3) return 0;
    bool match = false;
    if (p[0] == 0xE1) match = p[1] == 0x9A && p[2] == 0x80;  // U+1680
    if (p[0] == 0xE2 && p[1] == 0x80)                        // U+2000-200A, 2028, 2029, 202F
        match = (p[2] >= 0x80 && p[2] <= 0x8A) || p[2] == 0xA8 || p[2] == 0xA9 || p[2] == 0xAF;
    if (p[0] == 0xE2 && p[1] == 0x81) match = p[2] == 0x9F;  // U+205F
    if (p[0] == 0xE3) match = p[1] == 0x80 && p[2] == 0x80;  // U+3000
    return match ? 3 : 0;
}

// Length of the White_Space character that the bytes [p, p + n) end with, or 0.
std::size_t white_space_at_end(const unsigned char* p, std::size_t n) noexcept {
    if (n == 0) return 0;
    if (p[n - 1] < 0x80) return white_space_at_start(p + n - 1, 1);
    // A UTF-8 sequence starts at the byte that is not a continuation byte.
    for (std::size_t length = 2; length <= 3 && length <= n; ++length)
        if (white_space_at_start(p + n - length, length) == length) return length;
    return 0;
}

// --- IDNA -----------------------------------------------------------------------

// Nontransitional both ways: the ToUnicode pass below must find what ToASCII finds.
constexpr std::uint32_t idna_options = UIDNA_NONTRANSITIONAL_TO_ASCII | UIDNA_NONTRANSITIONAL_TO_UNICODE |
                                       UIDNA_CHECK_BIDI | UIDNA_CHECK_CONTEXTJ;

// Hyphen and length findings: the syntax stage judges those itself.
constexpr std::uint32_t tolerated_idna_errors =
    UIDNA_ERROR_EMPTY_LABEL | UIDNA_ERROR_LABEL_TOO_LONG | UIDNA_ERROR_DOMAIN_NAME_TOO_LONG |
    UIDNA_ERROR_LEADING_HYPHEN | UIDNA_ERROR_TRAILING_HYPHEN | UIDNA_ERROR_HYPHEN_3_4;

constexpr std::size_t icu_max_length = static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max());

// One converter for the process, made on first use. A UTS #46 instance is
// immutable and safe to share between threads; it is never closed.
const UIDNA* converter() {
    static const UIDNA* const instance = [] {
        UErrorCode status = U_ZERO_ERROR;
        UIDNA* idna = uidna_openUTS46(idna_options, &status);
        if (U_FAILURE(status) || idna == nullptr)
            throw std::runtime_error(std::string("cannot create the IDNA converter: ") + u_errorName(status));
        return idna;
    }();
    return instance;
}

using IcuConvert = int32_t (*)(const UIDNA*, const char*, int32_t, char*, int32_t, UIDNAInfo*, UErrorCode*);

// What the conversion of one text found.
struct Findings {
    std::uint32_t errors = 0;  // UIDNA_ERROR_* bits
    bool refused = false;      // ICU refused the call
    bool too_long = false;     // a label too long for ICU's Punycode encoder
};

// Runs one ICU conversion of `input` into `out`, growing `out` by ICU's
// overflow protocol; `out` is resized to the result.
UErrorCode run_icu(IcuConvert convert, std::string_view input, std::string& out, std::uint32_t& errors) {
    if (input.size() > icu_max_length) return U_INPUT_TOO_LONG_ERROR;
    const UIDNA* idna = converter();
    for (int attempt = 0; attempt < 2; ++attempt) {
        UIDNAInfo info = UIDNA_INFO_INITIALIZER;
        UErrorCode status = U_ZERO_ERROR;
        const std::size_t capacity = std::min(out.size(), icu_max_length);
        const int32_t length = convert(idna, input.data(), static_cast<int32_t>(input.size()), out.data(),
                                       static_cast<int32_t>(capacity), &info, &status);
        if (status == U_BUFFER_OVERFLOW_ERROR) {
            // A length ICU cannot represent either: treat as a failed conversion.
            if (length <= 0 || static_cast<std::size_t>(length) >= icu_max_length) return U_BUFFER_OVERFLOW_ERROR;
            out.resize(static_cast<std::size_t>(length));
            continue;
        }
        if (U_FAILURE(status)) return status;
        if (length < 0 || static_cast<std::size_t>(length) > capacity) return U_INTERNAL_PROGRAM_ERROR;
        out.resize(static_cast<std::size_t>(length));
        errors = info.errors;
        return status;
    }
    return U_BUFFER_OVERFLOW_ERROR;
}

// ICU's Punycode decoder takes at most 2000 characters and reports a longer
// "xn--" label as malformed.
constexpr std::size_t icu_max_punycode = 2000;

// The text as the conversion maps it before it splits labels: UTS #46 mapping
// and NFC, ill-formed UTF-8 as U+FFFD.
std::optional<std::string> uts46_mapped(std::string_view text) {
    UErrorCode status = U_ZERO_ERROR;
    const UNormalizer2* mapping = unorm2_getInstance(nullptr, "uts46", UNORM2_COMPOSE, &status);
    if (U_FAILURE(status) || text.size() > icu_max_length / 2) return std::nullopt;
    std::u16string utf16(text.size(), u'\0');
    int32_t length = 0;
    u_strFromUTF8WithSub(utf16.data(), static_cast<int32_t>(utf16.size()), &length, text.data(),
                         static_cast<int32_t>(text.size()), 0xFFFD, nullptr, &status);
    if (U_FAILURE(status)) return std::nullopt;
    utf16.resize(static_cast<std::size_t>(length));
    std::u16string mapped(utf16.size() + 16, u'\0');
    for (int attempt = 0; attempt < 2; ++attempt) {
        status = U_ZERO_ERROR;
        length = unorm2_normalize(mapping, utf16.data(), static_cast<int32_t>(utf16.size()), mapped.data(),
                                  static_cast<int32_t>(mapped.size()), &status);
        if (status != U_BUFFER_OVERFLOW_ERROR) break;
        mapped.resize(static_cast<std::size_t>(length));
    }
    if (U_FAILURE(status)) return std::nullopt;
    std::string out(static_cast<std::size_t>(length) * 3, '\0');
    u_strToUTF8(out.data(), static_cast<int32_t>(out.size()), &length, mapped.data(), length, &status);
    if (U_FAILURE(status)) return std::nullopt;
    out.resize(static_cast<std::size_t>(length));
    return out;
}

// A well-formed "xn--" label of more than icu_max_punycode characters stays
// as it is in the ASCII name, and can only make that name too long. When
// ICU has refused one, it is decoded here and put back in Unicode, and
// ToUnicode judges the text again, this label included. Nothing when some
// such label is invalid in itself, so the conversion's refusal stands.
std::optional<Findings> judge_long_ace_labels(std::string_view piece, std::string& out) {
    const std::optional<std::string> mapped = uts46_mapped(piece);
    if (!mapped) return std::nullopt;
    std::string text;
    text.reserve(mapped->size());
    bool replaced = false;
    std::string scratch;
    for (std::size_t start = 0; start <= mapped->size();) {
        std::size_t end = mapped->find('.', start);
        if (end == std::string::npos) end = mapped->size();
        const std::string_view label = std::string_view(*mapped).substr(start, end - start);
        if (start != 0) text.push_back('.');
        if (label.starts_with("xn--") && label.size() - 4 > icu_max_punycode) {
            const std::optional<std::u32string> decoded = punycode_decode(label.substr(4));
            // All-ASCII results are alternative spellings of ASCII labels.
            if (!decoded || std::all_of(decoded->begin(), decoded->end(), [](char32_t c) { return c < 0x80; }))
                return std::nullopt;
            std::string unicode;
            for (char32_t c : *decoded) append_utf8(unicode, c);
            // It must be valid as it stands: mapped to itself, in NFC, and not itself an "xn--" label.
            std::uint32_t errors = 0;
            scratch.resize(unicode.size() + 16);
            if (unicode.starts_with("xn--") || U_FAILURE(run_icu(uidna_labelToUnicodeUTF8, unicode, scratch, errors)) ||
                (errors & ~tolerated_idna_errors) != 0 || scratch != unicode)
                return std::nullopt;
            text.append(unicode);
            replaced = true;
        } else {
            text.append(label);
        }
        start = end + 1;
    }
    if (!replaced) return std::nullopt;
    Findings found;
    found.too_long = true;
    out.resize(text.size() + 16);
    found.refused = U_FAILURE(run_icu(uidna_nameToUnicodeUTF8, text, out, found.errors));
    return found;
}

Findings convert_piece(std::string_view piece, std::string& out) {
    out.resize(piece.size() * 2 + 16);
    out.resize(out.capacity());  // the whole buffer is usable
    Findings found;
    UErrorCode status = run_icu(uidna_nameToASCII_UTF8, piece, out, found.errors);
    if (status == U_INPUT_TOO_LONG_ERROR && piece.size() <= icu_max_length) {
        // ICU's Punycode encodes at most 1000 UTF-16 units a label and then
        // abandons the whole conversion. Such a label could only make the name
        // longer than 253 bytes, which the conversion must not judge. ToUnicode
        // makes every other finding of ToASCII and encodes nothing.
        found.too_long = true;
        status = run_icu(uidna_nameToUnicodeUTF8, piece, out, found.errors);
    }
    found.refused = U_FAILURE(status);
    // No character maps to more than twice its UTF-8 length in ASCII, so only a
    // piece of more than half the decoder's limit can hold such a label.
    if (!found.refused && (found.errors & UIDNA_ERROR_PUNYCODE) != 0 && piece.size() * 2 > icu_max_punycode + 4)
        if (const std::optional<Findings> judged = judge_long_ace_labels(piece, out)) return *judged;
    return found;
}

// ICU's conversion time grows with the product of a text's length and its
// number of rewritten labels, so a long text is converted in pieces of whole
// labels, cut at full stops (each of the four that the conversion maps to
// '.'). Every finding but one is a label's own; the bidi rule spans the name:
// it fails when some label is right-to-left and some label breaks the rule.
// Two more conversions of each piece, each behind a label that settles one
// half of that, put it back together: "1a" breaks the rule without being
// right-to-left, "\u05d0" is right-to-left without breaking it.
constexpr std::size_t piece_bytes = 4096;

std::size_t full_stop_at(std::string_view text, std::size_t i) noexcept {
    const auto lead = static_cast<unsigned char>(text[i]);
    if (lead == '.') return 1;
    if (lead != 0xE3 && lead != 0xEF) return 0;
    const std::string_view rest = text.substr(i);
    for (std::string_view stop : {"\u3002", "\uFF0E", "\uFF61"})
        if (rest.starts_with(stop)) return stop.size();
    return 0;
}

// Pieces of at most piece_bytes, or of one longer label.
std::vector<std::string_view> split_into_pieces(std::string_view text) {
    std::vector<std::string_view> pieces;
    std::size_t start = 0;                                     // of the current piece
    std::size_t last_stop = std::string_view::npos, last_size = 0;  // in the current piece
    const auto cut_at_last_stop = [&] {
        pieces.push_back(text.substr(start, last_stop - start));
        start = last_stop + last_size;
    };
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t stop = full_stop_at(text, i);
        if (stop == 0) {
            ++i;
            continue;
        }
        if (i - start > piece_bytes && last_stop != std::string_view::npos) cut_at_last_stop();
        last_stop = i, last_size = stop;
        i += stop;
    }
    if (text.size() - start > piece_bytes && last_stop != std::string_view::npos && last_stop >= start)
        cut_at_last_stop();
    pieces.push_back(text.substr(start));
    return pieces;
}

bool settled_invalid(const Findings& found) noexcept {
    return found.refused || (found.errors & ~tolerated_idna_errors) != 0;
}

// Whether the conversion of `prefix` + `piece` reports a broken bidi rule.
bool bidi_fails_behind(std::string_view prefix, std::string_view piece, std::string& scratch) {
    std::string text;
    text.reserve(prefix.size() + piece.size());
    text.append(prefix).append(piece);
    const Findings found = convert_piece(text, scratch);
    return found.refused || (found.errors & UIDNA_ERROR_BIDI) != 0;
}

Findings convert_in_pieces(std::string_view text, std::string& ascii) {
    const std::vector<std::string_view> pieces = split_into_pieces(text);
    Findings all;
    std::string converted;
    ascii.clear();
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        const Findings found = convert_piece(pieces[i], converted);
        all.errors |= found.errors;
        all.refused |= found.refused;
        all.too_long |= found.too_long;
        if (settled_invalid(all)) return all;
        if (i != 0) ascii.push_back('.');
        ascii.append(converted);
    }
    if (pieces.size() == 1) return all;
    bool right_to_left = false;
    for (std::string_view piece : pieces)
        if ((right_to_left = bidi_fails_behind("1a.", piece, converted))) break;
    if (right_to_left)
        for (std::string_view piece : pieces)
            if (bidi_fails_behind("\u05d0.", piece, converted)) {
                all.errors |= UIDNA_ERROR_BIDI;
                break;
            }
    return all;
}

// Whether some label of a text begins with "xn--".
bool has_ace_label(std::string_view text) noexcept {
    for (std::size_t start = 0;;) {
        if (text.substr(start).starts_with("xn--")) return true;
        const std::size_t dot = text.find('.', start);
        if (dot == std::string_view::npos) return false;
        start = dot + 1;
    }
}

enum class Idna { Converted, Invalid, TooLong };

// The IDNA conversion of the lowered input into `ascii`.
Idna convert_to_ascii(std::string_view lowered, bool non_ascii, std::string& ascii) {
    if (lowered.size() > icu_max_length) return Idna::Invalid;
    // ASCII converts to itself under these options (no STD3 rules; neither the
    // bidi nor the joiner rule applies to ASCII), but for "xn--" labels, which
    // are decoded and checked.
    if (!non_ascii && !has_ace_label(lowered)) {
        ascii.assign(lowered);
        return Idna::Converted;
    }
    const Findings found =
        lowered.size() > piece_bytes ? convert_in_pieces(lowered, ascii) : convert_piece(lowered, ascii);
    if (settled_invalid(found)) return Idna::Invalid;
    if (found.too_long) return Idna::TooLong;
    lower_ascii_in_place(ascii);
    return Idna::Converted;
}

// --- messages -------------------------------------------------------------------

constexpr std::string_view em_dash = "\u2014";

std::string_view last_label(std::string_view name) noexcept {
    const std::size_t dot = name.rfind('.');
    return dot == std::string_view::npos ? name : name.substr(dot + 1);
}

}  // namespace

// --- Punycode -------------------------------------------------------------------

namespace {

constexpr std::uint32_t punycode_base = 36, t_min = 1, t_max = 26, skew = 38, damp = 700;

std::uint32_t adapt(std::uint32_t delta, std::uint32_t points, bool first) noexcept {
    delta /= first ? damp : 2;
    delta += delta / points;
    std::uint32_t k = 0;
    for (; delta > ((punycode_base - t_min) * t_max) / 2; k += punycode_base) delta /= punycode_base - t_min;
    return k + (punycode_base - t_min + 1) * delta / (delta + skew);
}

std::optional<std::uint32_t> digit_value(char c) noexcept {
    if (c >= 'a' && c <= 'z') return c - 'a';
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= '0' && c <= '9') return c - '0' + 26;
    return std::nullopt;
}

}  // namespace

std::optional<std::u32string> punycode_decode(std::string_view input) {
    const std::size_t delimiter = input.rfind('-');
    const std::size_t basic = delimiter == std::string_view::npos ? 0 : delimiter;
    for (std::size_t k = 0; k < basic; ++k)
        if (static_cast<unsigned char>(input[k]) >= 0x80) return std::nullopt;

    // Each insertion's position at the time it is made; the final order is
    // settled afterwards, so that no insertion moves the ones before it.
    std::vector<std::pair<std::uint32_t, char32_t>> insertions;
    constexpr std::uint32_t max = std::numeric_limits<std::uint32_t>::max();
    std::uint32_t n = 0x80, i = 0, bias = 72;
    if (basic > max / 2) return std::nullopt;
    std::uint32_t length = static_cast<std::uint32_t>(basic);
    for (std::size_t in = basic > 0 ? basic + 1 : 0; in < input.size();) {
        const std::uint32_t old_i = i;
        std::uint32_t w = 1;
        for (std::uint32_t k = punycode_base;; k += punycode_base) {
            if (in >= input.size()) return std::nullopt;
            const std::optional<std::uint32_t> digit = digit_value(input[in++]);
            if (!digit || *digit > (max - i) / w) return std::nullopt;
            i += *digit * w;
            const std::uint32_t t = k <= bias ? t_min : k >= bias + t_max ? t_max : k - bias;
            if (*digit < t) break;
            if (w > max / (punycode_base - t)) return std::nullopt;
            w *= punycode_base - t;
        }
        bias = adapt(i - old_i, length + 1, old_i == 0);
        if (i / (length + 1) > max - n) return std::nullopt;
        n += i / (length + 1);
        i %= length + 1;
        if (n > 0x10FFFF || (n >= 0xD800 && n <= 0xDFFF)) return std::nullopt;
        insertions.emplace_back(i, static_cast<char32_t>(n));
        ++length, ++i;
    }

    // The last insertion takes the slot its position names among all; each
    // earlier one the slot its position names among those still free. A
    // Fenwick tree over the free slots finds it in logarithmic time.
    const std::size_t size = length;
    std::vector<std::uint32_t> tree(size + 1, 0);
    for (std::size_t k = 1; k <= size; ++k) {
        tree[k] += 1;
        if (const std::size_t parent = k + (k & (~k + 1)); parent <= size) tree[parent] += tree[k];
    }
    std::size_t top = 1;
    while (top * 2 <= size) top *= 2;
    std::u32string out(size, U'\0');
    std::vector<bool> taken(size, false);
    for (auto it = insertions.rbegin(); it != insertions.rend(); ++it) {
        std::size_t slot = 0;  // the (position + 1)-th free slot, 1-based
        std::uint32_t rank = it->first + 1;
        for (std::size_t step = top; step > 0; step /= 2)
            if (slot + step <= size && tree[slot + step] < rank) slot += step, rank -= tree[slot];
        ++slot;
        out[slot - 1] = it->second;
        taken[slot - 1] = true;
        for (std::size_t k = slot; k <= size; k += k & (~k + 1)) --tree[k];
    }
    std::size_t next = 0;
    for (std::size_t k = 0; k < size; ++k)
        if (!taken[k]) out[k] = static_cast<unsigned char>(input[next++]);
    return out;
}

// --- the check ------------------------------------------------------------------

std::string_view trim_white_space(std::string_view text) noexcept {
    const auto bytes = [&] { return reinterpret_cast<const unsigned char*>(text.data()); };
    while (const std::size_t length = white_space_at_start(bytes(), text.size())) text.remove_prefix(length);
    while (const std::size_t length = white_space_at_end(bytes(), text.size())) text.remove_suffix(length);
    return text;
}

std::optional<std::string> to_ascii(std::string_view text) {
    if (text.size() > icu_max_length) return std::nullopt;
    std::string lowered(text);
    const bool non_ascii = lower_ascii_in_place(lowered);
    std::string ascii;
    if (convert_to_ascii(lowered, non_ascii, ascii) != Idna::Converted) return std::nullopt;
    return ascii;
}

CheckResult Registry::check(std::string_view domain) const {
    std::string_view text = trim_white_space(domain);
    while (!text.empty() && text.back() == '.') text.remove_suffix(1);
    if (text.empty()) return single(CheckStatus::No, "DNS syntax: empty domain");
    // The converter takes 32-bit lengths; a longer text cannot be converted,
    // which is decided before it is copied.
    if (text.size() > icu_max_length) return single(CheckStatus::No, "DNS syntax: invalid IDNA input");

    std::string lowered(text);
    const bool non_ascii = lower_ascii_in_place(lowered);

    std::string ascii;
    switch (convert_to_ascii(lowered, non_ascii, ascii)) {
        case Idna::Invalid: return single(CheckStatus::No, "DNS syntax: invalid IDNA input");
        case Idna::TooLong: return single(CheckStatus::No, std::string(checker::domain_too_long));
        case Idna::Converted: break;
    }
    const std::string_view name = ascii;

    if (std::optional<std::string> message = checker::validate_ascii_domain(name))
        return single(CheckStatus::No, std::move(*message));

    // The matcher is a pure function of the name: one answer serves both the
    // suffix and the registrable domain.
    const std::size_t suffix_length = generated::public_suffix(name).length;
    if (suffix_length == 0 || suffix_length > name.size())
        return single(CheckStatus::Unknown, concat({"No data available for TLD '", last_label(name), "'"}));
    const std::string_view suffix = name.substr(name.size() - suffix_length);

    if (name.size() < suffix_length + 2)
        return single(CheckStatus::No, concat({"no registrable label found ", em_dash, " '", suffix,
                                               "' is a TLD, not a domain"}));
    const std::size_t dot = name.size() - suffix_length - 1;  // the '.' in front of the suffix
    const std::size_t before = name.rfind('.', dot - 1);
    const std::size_t label_start = before == std::string_view::npos ? 0 : before + 1;
    const std::string_view registrable = name.substr(label_start);

    if (label_start != 0)
        return single(CheckStatus::No, concat({"'", name, "' is a subdomain of '", registrable, "' ", em_dash,
                                               " retry with '", registrable, "'"}));

    const TldRule* rule = generated::TLD_RULES.get_entry(suffix);
    if (rule == nullptr)
        return single(CheckStatus::Unknown, concat({"No data available for TLD '", suffix, "'"}));
    return apply_rule(name, suffix, lowered, *rule);
}

CheckResult apply_rule(std::string_view ascii_name, std::string_view suffix, std::string_view lowered_input,
                       const TldRule& rule) {
    const std::string_view label = registrable_label(ascii_name, suffix);
    const std::string_view input_label = lowered_input.substr(0, lowered_input.find('.'));

    CheckResult result{CheckStatus::Yes, {}};
    result.reasons.reserve(4);
    result.reasons.emplace_back("DNS syntax: ok");
    // Every refusal below replaces the gathered reasons with its own message.
    const auto refuse = [&result](CheckStatus status, std::string reason) {
        result.status = status;
        result.reasons.clear();
        result.reasons.push_back(std::move(reason));
        return std::move(result);
    };

    if (rule.charset == Charset::Idn) {
        if (!rule.idn_chars.empty() && !idn_characters_allowed(input_label, rule.idn_chars)) {
            if (const std::optional<char32_t> c = first_disallowed_idn_character(input_label, rule.idn_chars)) {
                std::string character;
                append_utf8(character, *c);
                return refuse(CheckStatus::No,
                              concat({"TLD rule: character '", character, "' (U+", code_point_hex(*c),
                                      ") is not allowed under .", rule.tld, " (allowed IDN characters: ",
                                      rule.idn_chars, ")"}));
            }
        }
        result.reasons.emplace_back("TLD rule: IDN characters ok");
    } else if (label.starts_with("xn--") || has_non_ascii(input_label)) {
        return refuse(CheckStatus::No,
                      concat({"TLD rule: .", rule.tld, " does not support IDN (charset is ASCII only)"}));
    }

    const std::size_t n = rule.length_basis == LengthBasis::Unicode ? code_point_count(input_label) : label.size();
    const std::string min = std::to_string(rule.min_length);
    const std::string max = std::to_string(rule.max_length);
    if (n < rule.min_length)
        return refuse(CheckStatus::No, concat({"TLD rule: label too short (min ", min, ", got ", std::to_string(n),
                                               ") under .", rule.tld}));
    if (n > rule.max_length)
        return refuse(CheckStatus::No, concat({"TLD rule: label too long (max ", max, ", got ", std::to_string(n),
                                               ") under .", rule.tld}));
    result.reasons.push_back(concat({"TLD rule: label length ok (", min, "-", max, ")"}));

    if (label_is_banned(label, rule.banned))
        return refuse(CheckStatus::No, concat({"TLD rule: label '", label, "' is banned under .", rule.tld}));
    result.reasons.emplace_back("TLD rule: label not in banned list");

    switch (rule.registerable) {
        case Registerable::Restricted: return refuse(CheckStatus::Restricted, restricted_reason(rule));
        case Registerable::No: return refuse(CheckStatus::No, closed_reason(rule));
        case Registerable::Yes: break;
    }
    return result;
}

// --- label predicates -----------------------------------------------------------

std::string_view registrable_label(std::string_view domain, std::string_view suffix) noexcept {
    if (domain.size() > suffix.size() && domain.ends_with(suffix) &&
        domain[domain.size() - suffix.size() - 1] == '.')
        return domain.substr(0, domain.size() - suffix.size() - 1);
    return domain;
}

bool idn_characters_allowed(std::string_view label, std::string_view allowed) noexcept {
    for (std::size_t i = 0; i < label.size();) {
        const char32_t c = next_code_point(label, i);
        if (!is_ldh(c) && !contains_code_point(allowed, c)) return false;
    }
    return true;
}

std::optional<char32_t> first_disallowed_idn_character(std::string_view label, std::string_view allowed) noexcept {
    for (std::size_t i = 0; i < label.size();) {
        const char32_t c = next_code_point(label, i);
        if (c >= 0x80 && !contains_code_point(allowed, c)) return c;
    }
    return std::nullopt;
}

bool label_is_banned(std::string_view label, std::span<const std::string_view> banned) noexcept {
    for (std::string_view entry : banned) {
        if (entry.size() != label.size()) continue;
        bool equal = true;
        for (std::size_t i = 0; i < label.size() && equal; ++i)
            equal = ascii_lower(label[i]) == ascii_lower(entry[i]);
        if (equal) return true;
    }
    return false;
}

// --- closed and restricted reasons -----------------------------------------------

std::string closed_reason(const TldRule& rule) {
    if (rule.note) return concat({"TLD rule: ", *rule.note});
    if (!rule.reason) return concat({"TLD rule: .", rule.tld, " is not open for registration"});
    switch (*rule.reason) {
        case ClosedReason::BrandTld:
            return concat({"TLD rule: .", rule.tld, " is a brand TLD (ICANN Spec 13), not open for registration"});
        case ClosedReason::Infrastructure:
            return concat({"TLD rule: .", rule.tld, " is an infrastructure TLD, not open for registration"});
        case ClosedReason::Government:
            return concat({"TLD rule: .", rule.tld, " is a government TLD, not open for public registration"});
        case ClosedReason::Retired:
            return concat({"TLD rule: .", rule.tld, " is a retired TLD, not open for registration"});
    }
    return concat({"TLD rule: .", rule.tld, " is not open for registration"});
}

std::string restricted_reason(const TldRule& rule) {
    if (rule.note) return concat({"TLD rule: ", *rule.note});
    if (rule.restrictions.empty()) return concat({"TLD rule: .", rule.tld, " requires eligibility"});
    std::string message = concat({"TLD rule: .", rule.tld, " requires eligibility ("});
    for (std::size_t i = 0; i < rule.restrictions.size(); ++i) {
        if (i != 0) message.append(", ");
        message.append(rule.restrictions[i]);
    }
    message.push_back(')');
    return message;
}

// --- the rule query -------------------------------------------------------------

const TldRule* Registry::tld_info(std::string_view tld) const {
    std::string_view text = trim_white_space(tld);
    while (!text.empty() && text.front() == '.') text.remove_prefix(1);
    bool upper = false;
    for (char c : text) upper |= (c >= 'A' && c <= 'Z');
    // Lowering a text without capitals changes nothing: no copy then.
    if (!upper) return generated::TLD_RULES.get_entry(text);
    std::string lowered(text);
    lower_ascii_in_place(lowered);
    return generated::TLD_RULES.get_entry(lowered);
}

}  // namespace korvel::registry
