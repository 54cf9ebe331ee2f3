#include "idna.hpp"

#include <unicode/uchar.h>
#include <unicode/uidna.h>
#include <unicode/unorm2.h>
#include <unicode/utf16.h>

#include <algorithm>
#include <optional>
#include <stdexcept>
#include <vector>

#include "checker.hpp"

namespace korvel::idna {

// --- UTF-8 ------------------------------------------------------------------------

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

namespace {

// --- ICU ----------------------------------------------------------------------------

// Nontransitional both ways: the ToUnicode pass below must find what ToASCII finds.
constexpr std::uint32_t idna_options = UIDNA_NONTRANSITIONAL_TO_ASCII | UIDNA_NONTRANSITIONAL_TO_UNICODE |
                                       UIDNA_CHECK_BIDI | UIDNA_CHECK_CONTEXTJ;

// Hyphen and length findings: the syntax stage judges those itself.
constexpr std::uint32_t tolerated_idna_errors =
    UIDNA_ERROR_EMPTY_LABEL | UIDNA_ERROR_LABEL_TOO_LONG | UIDNA_ERROR_DOMAIN_NAME_TOO_LONG |
    UIDNA_ERROR_LEADING_HYPHEN | UIDNA_ERROR_TRAILING_HYPHEN | UIDNA_ERROR_HYPHEN_3_4;

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

// The converter's mapping and normalisation, for the data of single code points.
const UNormalizer2* uts46_data() {
    static const UNormalizer2* const instance = [] {
        UErrorCode status = U_ZERO_ERROR;
        const UNormalizer2* data = unorm2_getInstance(nullptr, "uts46", UNORM2_COMPOSE, &status);
        if (U_FAILURE(status) || data == nullptr)
            throw std::runtime_error(std::string("cannot load the UTS #46 mapping: ") + u_errorName(status));
        return data;
    }();
    return instance;
}

// --- label limits ---------------------------------------------------------------------

// The reference conversion refuses a label that, after mapping and
// normalisation, is not ASCII and holds more than this many code points
// (so does its Punycode encoder, and the decoded form of an "xn--" label)...
constexpr std::size_t max_label_code_points = 1000;
// ...and an "xn--" label with more than this many characters after the prefix.
constexpr std::size_t max_punycode = 2000;
// The longest mapping of one character, in UTF-16 units, with room to spare.
constexpr int32_t max_mapping_units = 64;

// Bootstring parameters of Punycode.
constexpr std::uint32_t punycode_base = 36, t_min = 1, t_max = 26, skew = 38, damp = 700;

std::uint32_t adapt(std::uint32_t delta, std::uint32_t points, bool first) noexcept {
    delta /= first ? damp : 2;
    delta += delta / points;
    std::uint32_t k = 0;
    for (; delta > ((punycode_base - t_min) * t_max) / 2; k += punycode_base) delta /= punycode_base - t_min;
    return k + (punycode_base - t_min + 1) * delta / (delta + skew);
}

std::optional<std::uint32_t> digit_value(char32_t c) noexcept {
    if (c >= U'a' && c <= U'z') return c - U'a';
    if (c >= U'A' && c <= U'Z') return c - U'A';
    if (c >= U'0' && c <= U'9') return c - U'0' + 26;
    return std::nullopt;
}

// Right-to-left in the bidi rule's sense: a label with one of these makes the
// name a bidi domain name.
bool is_right_to_left(char32_t c) noexcept {
    const UCharDirection direction = u_charDirection(static_cast<UChar32>(c));
    return direction == U_RIGHT_TO_LEFT || direction == U_RIGHT_TO_LEFT_ARABIC || direction == U_ARABIC_NUMBER;
}

struct Decoded {
    std::size_t length;  // in code points
    bool right_to_left;
};

// What the Punycode after an "xn--" prefix decodes to: its basic code points
// and one code point per variable-length integer, found by the decoder's
// arithmetic without the insertions that make decoding quadratic. Nothing
// when the decoder would refuse it (bad digit, early end, overflow, no
// Unicode scalar value).
std::optional<Decoded> decode_punycode_length(std::u32string_view input) noexcept {
    constexpr std::uint32_t max = std::numeric_limits<std::uint32_t>::max();
    const std::size_t delimiter = input.rfind(U'-');
    const std::size_t basic = delimiter == std::u32string_view::npos ? 0 : delimiter;  // at most max_punycode
    std::uint32_t length = static_cast<std::uint32_t>(basic);
    std::uint32_t n = 0x80, i = 0, bias = 72;
    bool rtl = false;  // the basic code points are ASCII
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
        rtl = rtl || is_right_to_left(n);
        ++length, ++i;
    }
    return Decoded{length, rtl};
}

struct ClassedCodePoint {
    char32_t value;
    std::uint8_t combining_class;
};

// The length of a mapped, fully decomposed label once in NFC: canonical order
// (a stable sort of each run of non-starters by class), then canonical
// composition in place, each code point moved at most once.
std::size_t composed_length(const std::vector<char32_t>& decomposed) {
    const UNormalizer2* data = uts46_data();
    std::vector<ClassedCodePoint> text;
    text.reserve(decomposed.size());
    for (char32_t c : decomposed) text.push_back({c, unorm2_getCombiningClass(data, static_cast<UChar32>(c))});
    const auto starter = [](const ClassedCodePoint& c) { return c.combining_class == 0; };
    for (auto run = text.begin(); run != text.end();) {
        run = std::find_if_not(run, text.end(), starter);
        const auto end = std::find_if(run, text.end(), starter);
        std::stable_sort(run, end, [](const ClassedCodePoint& a, const ClassedCodePoint& b) {
            return a.combining_class < b.combining_class;
        });
        run = end;
    }
    constexpr std::size_t none = std::numeric_limits<std::size_t>::max();
    std::size_t kept = 0;           // the composed text is text[0, kept)
    std::size_t last_starter = none;  // in the composed text
    std::uint8_t last_class = 0;      // of the last code point kept
    for (const ClassedCodePoint& c : text) {
        // Blocked from the last starter by a code point between them of class 0
        // or of no lower class; the kept ones after it are in ascending order.
        if (last_starter != none &&
            (kept == last_starter + 1 || (c.combining_class != 0 && last_class < c.combining_class))) {
            const UChar32 composite = unorm2_composePair(data, static_cast<UChar32>(text[last_starter].value),
                                                         static_cast<UChar32>(c.value));
            if (composite >= 0) {
                text[last_starter].value = static_cast<char32_t>(composite);
                continue;
            }
        }
        if (starter(c)) last_starter = kept;
        last_class = c.combining_class;
        text[kept++] = c;
    }
    return kept;
}

// Follows the mapped text one code point at a time and judges each label as it ends.
class LabelScanner {
public:
    // False once the text breaks a limit.
    bool add(char32_t c) {
        if (c == U'.') {
            ++min_ascii_bytes_;
            return end_label();
        }
        ++length_;
        if (c >= 0x80) {
            non_ascii_ = true;
            label_rtl_ = label_rtl_ || is_right_to_left(c);
        }
        if (length_ <= buffer_cap) {
            label_.push_back(c);
            return true;
        }
        // Composition cannot bring such a label back within the limit.
        return !non_ascii_;
    }

    bool end_label() {
        const bool within = label_within();
        label_.clear();
        length_ = 0;
        non_ascii_ = label_rtl_ = false;
        return within;
    }

    // Whether some label so far holds a right-to-left character.
    bool right_to_left() const noexcept { return right_to_left_; }

    // A lower bound of the ASCII form's length so far: every code point of the
    // normalised text takes at least one byte of it, ASCII or Punycode.
    std::size_t min_ascii_bytes() const noexcept { return min_ascii_bytes_; }

private:
    static constexpr std::size_t buffer_cap = max_label_code_points * max_canonical_decomposition;

    bool label_within() {
        right_to_left_ = right_to_left_ || label_rtl_;
        if (non_ascii_) {
            // A label that cannot make the name too long by itself needs no exact length.
            if (length_ <= checker::max_domain_length) {
                min_ascii_bytes_ += (length_ + max_canonical_decomposition - 1) / max_canonical_decomposition;
                return true;
            }
            const std::size_t composed = composed_length(label_);
            min_ascii_bytes_ += composed;
            return composed <= max_label_code_points;
        }
        // ASCII is its own mapping and normal form.
        min_ascii_bytes_ += length_;
        const std::u32string_view label(label_.data(), label_.size());
        if (!label.starts_with(U"xn--")) return true;
        if (length_ - 4 > max_punycode) return false;
        const std::optional<Decoded> decoded = decode_punycode_length(label.substr(4));
        if (!decoded) return false;
        right_to_left_ = right_to_left_ || decoded->right_to_left;
        return decoded->length <= max_label_code_points;
    }

    std::vector<char32_t> label_;  // the first buffer_cap code points of the mapped label
    std::size_t length_ = 0;       // all its code points
    bool non_ascii_ = false;
    bool label_rtl_ = false;
    bool right_to_left_ = false;
    std::size_t min_ascii_bytes_ = 0;
};

// --- conversion by ICU ------------------------------------------------------------------

using IcuConvert = int32_t (*)(const UIDNA*, const char*, int32_t, char*, int32_t, UIDNAInfo*, UErrorCode*);

// What the conversion of one text found.
struct Findings {
    std::uint32_t errors = 0;  // UIDNA_ERROR_* bits
    bool refused = false;      // ICU refused the call
    bool unencoded = false;    // no ASCII form made: the name is too long for one
};

// Runs one ICU conversion of `input` into `out`, growing `out` by ICU's
// overflow protocol; `out` is resized to the result.
UErrorCode run_icu(IcuConvert convert, std::string_view input, std::string& out, std::uint32_t& errors) {
    if (input.size() > max_text_bytes) return U_INPUT_TOO_LONG_ERROR;
    const UIDNA* idna = converter();
    for (int attempt = 0; attempt < 2; ++attempt) {
        UIDNAInfo info = UIDNA_INFO_INITIALIZER;
        UErrorCode status = U_ZERO_ERROR;
        const std::size_t capacity = std::min(out.size(), max_text_bytes);
        const int32_t length = convert(idna, input.data(), static_cast<int32_t>(input.size()), out.data(),
                                       static_cast<int32_t>(capacity), &info, &status);
        if (status == U_BUFFER_OVERFLOW_ERROR) {
            // A length ICU cannot represent either: treat as a failed conversion.
            if (length <= 0 || static_cast<std::size_t>(length) >= max_text_bytes) return U_BUFFER_OVERFLOW_ERROR;
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

// ToUnicode makes every finding of ToASCII but encodes nothing: enough where
// the ASCII form is not wanted.
Findings convert_piece(std::string_view piece, std::string& out, bool encode) {
    out.resize(piece.size() * 2 + 16);
    out.resize(out.capacity());  // the whole buffer is usable
    Findings found;
    if (!encode) {
        found.unencoded = true;
        found.refused = U_FAILURE(run_icu(uidna_nameToUnicodeUTF8, piece, out, found.errors));
        return found;
    }
    found.refused = U_FAILURE(run_icu(uidna_nameToASCII_UTF8, piece, out, found.errors));
    return found;
}

// ICU's conversion time grows with the product of a text's length and its
// number of rewritten labels, so a long text is converted in pieces of whole
// labels, cut at full stops (each of the four that the conversion maps to
// '.'). Every finding but one is a label's own; the bidi rule spans the name:
// it fails when some label is right-to-left and some label breaks the rule.
// The scan of the labels tells the first half; when it holds, one more
// conversion of each piece behind "\u05d0", right-to-left without breaking
// the rule, tells the second.
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
    std::size_t start = 0;                                          // of the current piece
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
    const Findings found = convert_piece(text, scratch, false);
    return found.refused || (found.errors & UIDNA_ERROR_BIDI) != 0;
}

Findings convert_in_pieces(std::string_view text, bool right_to_left, bool encode, std::string& ascii) {
    const std::vector<std::string_view> pieces = split_into_pieces(text);
    Findings all;
    std::string converted;
    ascii.clear();
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        const Findings found = convert_piece(pieces[i], converted, encode);
        all.errors |= found.errors;
        all.refused |= found.refused;
        all.unencoded |= found.unencoded;
        if (settled_invalid(all)) return all;
        if (i != 0) ascii.push_back('.');
        ascii.append(converted);
    }
    if (pieces.size() == 1 || !right_to_left) return all;
    for (std::string_view piece : pieces)
        if (bidi_fails_behind("\u05d0.", piece, converted)) {
            all.errors |= UIDNA_ERROR_BIDI;
            break;
        }
    return all;
}

// ASCII converts to itself under these options (no STD3 rules; neither the
// bidi nor the joiner rule applies to ASCII), but for "xn--" labels, which are
// decoded and checked.
bool converts_to_itself(std::string_view text) noexcept {
    unsigned char seen = 0;
    for (char c : text) seen |= static_cast<unsigned char>(c);
    if ((seen & 0x80) != 0) return false;
    for (std::size_t start = 0;;) {
        if (text.substr(start).starts_with("xn--")) return false;
        const std::size_t dot = text.find('.', start);
        if (dot == std::string_view::npos) return true;
        start = dot + 1;
    }
}

}  // namespace

LabelScan scan_labels(std::string_view lowered) {
    constexpr LabelScan refused{false, false, 0};
    const UNormalizer2* data = uts46_data();
    LabelScanner scanner;
    UChar mapping[max_mapping_units];
    for (std::size_t i = 0; i < lowered.size();) {
        const char32_t c = next_code_point(lowered, i);
        if (c < 0x80) {  // lowered already: its own mapping
            if (!scanner.add(c)) return refused;
            continue;
        }
        UErrorCode status = U_ZERO_ERROR;
        const int32_t units = unorm2_getDecomposition(data, static_cast<UChar32>(c), mapping, max_mapping_units, &status);
        if (U_FAILURE(status)) throw std::runtime_error(std::string("UTS #46 mapping: ") + u_errorName(status));
        if (units < 0) {  // no mapping: the code point stands for itself
            if (!scanner.add(c)) return refused;
            continue;
        }
        for (int32_t k = 0; k < units;) {
            UChar32 m = 0;
            U16_NEXT(mapping, k, units, m);
            if (!scanner.add(static_cast<char32_t>(m))) return refused;
        }
    }
    if (!scanner.end_label()) return refused;
    return {true, scanner.right_to_left(), scanner.min_ascii_bytes()};
}

Outcome to_ascii(std::string_view lowered, std::string& ascii) {
    if (lowered.size() > max_text_bytes) return Outcome::Invalid;
    if (converts_to_itself(lowered)) {
        ascii.assign(lowered);
        return Outcome::Converted;
    }
    // Before ICU: its cost on a label beyond the limits grows with the square
    // of the label's length, and the limits settle such a text. A text too
    // short to hold such a label is converted whole.
    Findings found;
    if (lowered.size() * max_mapped_per_byte <= max_label_code_points) {
        found = convert_piece(lowered, ascii, true);
    } else {
        const LabelScan scan = scan_labels(lowered);
        if (!scan.within_limits) return Outcome::Invalid;
        // A name that cannot fit is not encoded: Punycode is where ICU spends
        // its time on long labels, and the syntax stage refuses the length
        // first. Nor could ICU encode every valid label: its encoder stops at
        // 1000 UTF-16 units, while a label of up to 1000 code points is valid;
        // such a label (over 253 code points) always makes the name too long.
        const bool encode = scan.min_ascii_bytes <= checker::max_domain_length;
        found = lowered.size() > piece_bytes ? convert_in_pieces(lowered, scan.right_to_left, encode, ascii)
                                             : convert_piece(lowered, ascii, encode);
    }
    if (settled_invalid(found)) return Outcome::Invalid;
    if (found.unencoded) return Outcome::TooLong;
    for (char& c : ascii)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return Outcome::Converted;
}

}  // namespace korvel::idna
