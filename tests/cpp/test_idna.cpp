#include <gtest/gtest.h>
#include <unicode/uchar.h>
#include <unicode/uidna.h>
#include <unicode/unorm2.h>
#include <unicode/ustring.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "idna.hpp"

namespace {

using korvel::idna::Outcome;

bool within_label_limits(const std::string& text) { return korvel::idna::scan_labels(text).within_limits; }

// Findings of hyphens and lengths, which the syntax stage judges instead.
constexpr std::uint32_t tolerated = UIDNA_ERROR_EMPTY_LABEL | UIDNA_ERROR_LABEL_TOO_LONG |
                                    UIDNA_ERROR_DOMAIN_NAME_TOO_LONG | UIDNA_ERROR_LEADING_HYPHEN |
                                    UIDNA_ERROR_TRAILING_HYPHEN | UIDNA_ERROR_HYPHEN_3_4;

const UIDNA* icu_converter() {
    static const UIDNA* const idna = [] {
        UErrorCode status = U_ZERO_ERROR;
        UIDNA* converter = uidna_openUTS46(
            UIDNA_NONTRANSITIONAL_TO_ASCII | UIDNA_NONTRANSITIONAL_TO_UNICODE | UIDNA_CHECK_BIDI | UIDNA_CHECK_CONTEXTJ,
            &status);
        EXPECT_TRUE(U_SUCCESS(status));
        return converter;
    }();
    return idna;
}

bool right_to_left(UChar32 c) {
    const UCharDirection direction = u_charDirection(c);
    return direction == U_RIGHT_TO_LEFT || direction == U_RIGHT_TO_LEFT_ARABIC || direction == U_ARABIC_NUMBER;
}

const UNormalizer2* uts46() {
    UErrorCode status = U_ZERO_ERROR;
    const UNormalizer2* data = unorm2_getInstance(nullptr, "uts46", UNORM2_COMPOSE, &status);
    EXPECT_TRUE(U_SUCCESS(status));
    return data;
}

// ICU's ToASCII of the whole text at once, without the stage's limits and pieces.
std::optional<std::string> icu_to_ascii(const std::string& text) {
    std::string out(text.size() * 4 + 64, '\0');
    UIDNAInfo info = UIDNA_INFO_INITIALIZER;
    UErrorCode error = U_ZERO_ERROR;
    const int32_t n = uidna_nameToASCII_UTF8(icu_converter(), text.data(), static_cast<int32_t>(text.size()),
                                             out.data(), static_cast<int32_t>(out.size()), &info, &error);
    if (U_FAILURE(error) || (info.errors & ~tolerated) != 0) return std::nullopt;
    out.resize(static_cast<std::size_t>(n));
    return out;
}

std::optional<std::string> to_ascii(const std::string& text) {
    std::string ascii;
    if (korvel::idna::to_ascii(text, ascii) != Outcome::Converted) return std::nullopt;
    return ascii;
}

Outcome outcome(const std::string& text) {
    std::string ascii;
    return korvel::idna::to_ascii(text, ascii);
}

std::string repeat(std::string_view unit, std::size_t count) {
    std::string out;
    out.reserve(unit.size() * count);
    for (std::size_t i = 0; i < count; ++i) out.append(unit);
    return out;
}

std::string utf8(char32_t c) {
    std::string out;
    korvel::idna::append_utf8(out, c);
    return out;
}

std::u16string utf16(const std::string& text) {
    std::u16string out(text.size(), u'\0');
    int32_t length = 0;
    UErrorCode error = U_ZERO_ERROR;
    u_strFromUTF8WithSub(out.data(), static_cast<int32_t>(out.size()), &length, text.data(),
                         static_cast<int32_t>(text.size()), 0xFFFD, nullptr, &error);
    EXPECT_TRUE(U_SUCCESS(error));
    out.resize(static_cast<std::size_t>(length));
    return out;
}

// ASCII names without "xn--" labels skip the converter; it must give them back
// unchanged, whatever they hold.
TEST(ToAscii, AsciiAnswersAsTheConverterDoes) {
    std::vector<std::string> inputs = {
        "", ".", "..", "a..b", ".a", "a.", "-", "-a.b", "a-.b", "ab--c.d", "xn-a.b", "xnn--a.b", "a.xn-", "a.b",
        "1.2.3", std::string(64, 'a') + ".com", std::string(300, 'a'), "xn--.com", "a.xn--exmple-cua",
        "xn--exmple-cua.com", "xn--exmple-cub.com", "xn--xn---ooa.com", "xn--4db.1a", "axn--4ca.com",
    };
    for (int c = 0; c < 0x80; ++c) {
        if (c >= 'A' && c <= 'Z') continue;  // the stage takes lowered text
        const std::string byte(1, static_cast<char>(c));
        inputs.push_back("a" + byte + "b.com");
        inputs.push_back(byte + ".com");
        inputs.push_back("com." + byte);
    }
    for (const std::string& input : inputs) {
        SCOPED_TRACE(testing::PrintToString(input));
        EXPECT_EQ(to_ascii(input), icu_to_ascii(input));
    }
}

// Long texts are converted piece by piece; the result must be that of the
// whole text, the bidi rule (which spans every label) included.
TEST(ToAscii, LongTextsConvertAsAWhole) {
    const std::string middle = repeat("a.", 3000);
    std::string umlauts;
    for (int i = 0; i < 3000; ++i) umlauts += i % 2 ? "\u00e4." : "\u00e4\u3002";
    EXPECT_EQ(outcome(umlauts + "com"), Outcome::TooLong);
    EXPECT_EQ(outcome(umlauts + "\u0301com"), Outcome::Invalid);
    // Each label grows from 2 bytes to 7, beyond the first guess of the output size.
    EXPECT_EQ(to_ascii(repeat("\u00e4.", 59) + "\u00e4"), repeat("xn--4ca.", 59) + "xn--4ca");

    struct Case {
        std::string name;
        std::string input;
        Outcome outcome;
    };
    const std::vector<Case> cases = {
        {"left-to-right only, digit first", "\u00e4." + middle + "1com", Outcome::TooLong},
        {"right-to-left first, digit-first label last", "\u05d0." + middle + "1com", Outcome::Invalid},
        {"digit-first label first, right-to-left last", "1com." + middle + "\u05d0", Outcome::Invalid},
        {"right-to-left as an A-label", "xn--4db." + middle + "\u00e4.1com", Outcome::Invalid},
        {"right-to-left by a mapped form", "\ufb50." + middle + "\u00e4.1com", Outcome::Invalid},
        {"right-to-left, every label fine", "\u05d0." + middle + "\u05d1", Outcome::TooLong},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(outcome(c.input), c.outcome);
    }
    EXPECT_EQ(to_ascii("\u05d0.1com"), std::nullopt);  // the same rule on a short name
}

// Random long texts, converted in pieces and not encoded (their ASCII form
// cannot fit in 253 bytes), of labels that are left-to-right, right-to-left
// (in Unicode, as an A-label, by an Arabic digit or a mapped form), break the
// bidi rule or are invalid in themselves, a few of each or none: the answer
// must be ICU's ToASCII of the whole text at once.
TEST(ToAscii, PiecesAgreeWithTheWholeText) {
    const std::vector<std::string> left_to_right = {"a", "ab", "a1", "\u00e4", "xn--4ca", "\uff41b", "a-b", "\u00df"};
    const std::vector<std::string> right_to_left = {
        "\u05d0", "\u05d0\u05d1", "\u0627", "\u0660", "xn--4db", "\ufb50", "\u05d01", "\u0627\u0661"};
    const std::vector<std::string> breakers = {"1a", "\u05d0a", "\u0661a", "\u0627\u06611"};
    const std::vector<std::string> invalid = {"\u0301a", "a\u200db", "a\u200cb", "\u2488", "xn--a", "xn--xn---epa"};
    std::mt19937 random(5893);
    int converted = 0, refused = 0;
    for (int round = 0; round < 240; ++round) {
        const bool with_rtl = round % 2 == 0, with_breakers = round % 4 < 2, with_invalid = round % 3 == 0;
        std::string text;
        while (text.size() < 6000) {
            const std::uint32_t draw = random() % 2000;
            const auto& labels = with_rtl && draw < 6           ? right_to_left
                                 : with_breakers && draw == 1999 ? breakers
                                 : with_invalid && draw == 1998  ? invalid
                                                                 : left_to_right;
            text += labels[random() % labels.size()];
            text += random() % 4 ? "." : "\u3002";
        }
        text += "com";
        SCOPED_TRACE(round);
        const std::optional<std::string> whole = icu_to_ascii(text);
        ASSERT_TRUE(!whole || whole->size() > 253);
        EXPECT_EQ(outcome(text), whole ? Outcome::TooLong : Outcome::Invalid);
        ++(whole ? converted : refused);
    }
    EXPECT_GT(converted, 40);
    EXPECT_GT(refused, 40);
}

// Both sides of every limit of the reference conversion, alone, in a long
// text that is converted in pieces, and in a name with other labels.
TEST(LabelLimits, BothSidesOfEveryLimit) {
    const std::string a999(999, 'a'), a1000(1000, 'a');
    // "a" * n + "\u00e4" in Punycode: its n basic code points, then one integer.
    const std::string ace_1000 = "xn--" + a999 + "-yp6f", ace_1001 = "xn--" + a1000 + "-us6f";
    struct Case {
        std::string name;
        std::string label;
        Outcome outcome;  // alone in front of ".com"
    };
    const std::vector<Case> cases = {
        {"1000 code points", a999 + "\u00e4", Outcome::TooLong},
        {"1001 code points", a1000 + "\u00e4", Outcome::Invalid},
        {"1000 umlauts", repeat("\u00e4", 1000), Outcome::TooLong},
        {"1001 umlauts", repeat("\u00e4", 1001), Outcome::Invalid},
        {"501 beyond the BMP: too long for ICU's encoder", repeat("\U00010428", 501), Outcome::TooLong},
        {"1000 beyond the BMP", repeat("\U00010428", 1000), Outcome::TooLong},
        {"1001 beyond the BMP, mapped from capitals", repeat("\U00010400", 1001), Outcome::Invalid},
        {"ASCII has no limit", std::string(5000, 'a'), Outcome::Converted},
        {"full-width ASCII neither", repeat("\uff41", 5000), Outcome::TooLong},
        {"what the mapping removes does not count", repeat("\u00ad", 5000) + "\u00e4", Outcome::Converted},
        {"composed: 999 marks behind a letter", "a" + repeat("\u0301\u0316", 499) + "\u0316", Outcome::TooLong},
        {"composed: 1000 marks behind a letter", "a" + repeat("\u0301\u0316", 500), Outcome::TooLong},
        {"composed: 1001 marks behind a letter", "a" + repeat("\u0301\u0316", 500) + "\u0316", Outcome::Invalid},
        {"2000 vowel signs compose into 1000", repeat("\U00016D67", 2000), Outcome::TooLong},
        {"2002 vowel signs compose into 1001", repeat("\U00016D67", 2002), Outcome::Invalid},
        {"1000 characters of three code points each", repeat("\u1f02", 1000), Outcome::TooLong},
        {"1001 characters of three code points each", repeat("\u1f02", 1001), Outcome::Invalid},
        {"decomposes into marks", repeat("\u0f73", 500), Outcome::Invalid},  // 500 marks each 0F71 0F72: 1000
        {"mapped beyond", repeat("\ufdfa", 56), Outcome::Invalid},            // 18 each, in Arabic
        {"mapped within", repeat("\ufdfa", 55), Outcome::Invalid},            // the spaces make it invalid
        {"Punycode beyond 2000 characters", "xn--" + std::string(2001, 'a'), Outcome::Invalid},
        {"decodes to 1000", ace_1000, Outcome::TooLong},
        {"decodes to 1001", ace_1001, Outcome::Invalid},
    };
    const std::string many_labels = "\u00e4." + repeat("b.", 3000);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(outcome(c.label + ".com"), c.outcome);
        // Among labels that make the name too long whatever it holds.
        EXPECT_EQ(outcome(many_labels + c.label + "." + many_labels + "com"),
                  c.outcome == Outcome::Invalid ? Outcome::Invalid : Outcome::TooLong);
        // An invalid label elsewhere settles the answer either way.
        EXPECT_EQ(outcome("\u0301x." + c.label), Outcome::Invalid);
    }
}

// The code points of each label of the text once ICU has mapped and normalised
// it, for labels that are not ASCII; 0 for ASCII ones.
std::vector<std::size_t> normalised_label_lengths(const std::string& text) {
    const std::u16string source = utf16(text);
    std::u16string normal(source.size() * 18 + 16, u'\0');
    UErrorCode error = U_ZERO_ERROR;
    const int32_t n = unorm2_normalize(uts46(), reinterpret_cast<const UChar*>(source.data()),
                                       static_cast<int32_t>(source.size()), reinterpret_cast<UChar*>(normal.data()),
                                       static_cast<int32_t>(normal.size()), &error);
    EXPECT_TRUE(U_SUCCESS(error));
    normal.resize(static_cast<std::size_t>(n));
    std::vector<std::size_t> lengths;
    std::size_t length = 0;
    bool non_ascii = false;
    for (std::size_t i = 0; i <= normal.size(); ++i) {
        if (i == normal.size() || normal[i] == u'.') {
            lengths.push_back(non_ascii ? length : 0);
            length = 0, non_ascii = false;
        } else if (!U16_IS_TRAIL(normal[i])) {
            ++length;
            non_ascii |= normal[i] >= 0x80;
        }
    }
    return lengths;
}

bool icu_within_limits(const std::string& text) {
    const std::vector<std::size_t> lengths = normalised_label_lengths(text);
    return std::all_of(lengths.begin(), lengths.end(), [](std::size_t n) { return n <= 1000; });
}

// The limits are decided without ICU's normaliser; they must give its answer.
// Random texts of fragments that reorder, compose, decompose into marks, map
// to several code points or to nothing, with a few kinds dominating each text
// so that long runs form; then the same kinds cut just around the limit.
TEST(LabelLimits, AgreeWithIcusNormaliser) {
    const std::vector<std::string> fragments = {
        "a", "b", "1", "-", "\u00e4", "\u0301", "\u0316", "\u0345", "\u05b0", "\u0308", "\u0323", "\u0f73",
        "\u0344", "\U00016D67", "\U00016D68", "\U00011392", "\U000113C5", "\U00016104", "\U00016121", "\u1100",
        "\u1161", "\u11a8", "\uac00", "\u00ad", "\ufdfa", "\u1e9e", "\u212b", "\u4e00", "\u1f02", "\u1f82",
        "\uff41", "\U00010400", "\xff",
    };
    std::mt19937 random(46);
    const auto random_text = [&](std::size_t count, bool full_stops) {
        std::vector<std::size_t> kinds;
        for (int k = 0; k < 3; ++k) kinds.push_back(random() % fragments.size());
        std::vector<std::string> text;
        for (std::size_t i = 0; i < count; ++i) {
            if (full_stops && random() % 400 == 0) text.push_back(random() % 2 ? "." : "\u3002");
            text.push_back(random() % 8 ? fragments[kinds[random() % kinds.size()]]
                                        : fragments[random() % fragments.size()]);
        }
        return text;
    };
    const auto join = [](const std::vector<std::string>& parts, std::size_t count) {
        std::string out;
        for (std::size_t i = 0; i < count; ++i) out += parts[i];
        return out;
    };
    int refused = 0, passed = 0;
    for (int round = 0; round < 300; ++round) {
        const std::vector<std::string> parts = random_text(300 + random() % 2200, true);
        const std::string text = join(parts, parts.size());
        SCOPED_TRACE(testing::PrintToString(text.substr(0, 60)));
        const bool expected = icu_within_limits(text);
        EXPECT_EQ(within_label_limits(text), expected);
        ++(expected ? passed : refused);
    }
    EXPECT_GT(refused, 30);
    EXPECT_GT(passed, 30);

    // One label, cut where ICU's length crosses 1000 and on both sides of that.
    int crossings = 0;
    for (int round = 0; round < 200; ++round) {
        const std::vector<std::string> parts = random_text(4000, false);
        const auto length = [&](std::size_t count) { return normalised_label_lengths(join(parts, count)).front(); };
        if (length(parts.size()) <= 1000) continue;
        std::size_t low = 0, high = parts.size();  // length(low) <= 1000 < length(high)
        while (high - low > 1) {
            const std::size_t middle = (low + high) / 2;
            (length(middle) <= 1000 ? low : high) = middle;
        }
        ++crossings;
        for (std::size_t count = low > 2 ? low - 2 : 0; count <= std::min(high + 2, parts.size()); ++count) {
            const std::string text = join(parts, count);
            SCOPED_TRACE(testing::PrintToString(text.substr(0, 60)));
            EXPECT_EQ(within_label_limits(text), icu_within_limits(text));
        }
    }
    EXPECT_GT(crossings, 100);
}

// The decoded length of an "xn--" label is counted, not decoded; every label
// that ICU's encoder writes (at most 1000 UTF-16 units) must count as it decodes.
TEST(LabelLimits, PunycodeCountsAsItDecodes) {
    const std::vector<std::pair<char32_t, char32_t>> ranges = {
        {U'a', U'z'}, {U'0', U'9'}, {0xE0, 0xF6}, {0x3B1, 0x3C9}, {0x430, 0x44F}, {0x4E00, 0x9FFF}, {0x20000, 0x2A6DF}};
    std::mt19937 random(3492);
    for (int round = 0; round < 200; ++round) {
        std::string label;
        std::size_t units = 0;
        const std::size_t size = 100 + random() % 900;
        while (units < size) {
            const auto& [low, high] = ranges[random() % (round % 2 ? ranges.size() : 3)];
            const char32_t c = low + static_cast<char32_t>(random() % (high - low + 1));
            label += utf8(c);
            units += c >= 0x10000 ? 2 : 1;
        }
        const std::optional<std::string> ace = icu_to_ascii(label);
        ASSERT_TRUE(ace.has_value());
        if (!ace->starts_with("xn--")) continue;  // all ASCII
        SCOPED_TRACE(*ace);
        EXPECT_TRUE(within_label_limits(*ace + ".com"));
        EXPECT_EQ(outcome(*ace + ".com"), ace->size() > 249 ? Outcome::TooLong : Outcome::Converted);
    }
    // Malformed Punycode is refused as the decoder would refuse it.
    for (const std::string& bad : {"-" + std::string(300, 'a'), std::string(300, 'a') + "-9",
                                  std::string(300, '9'), std::string(300, 'a') + "-a!b"}) {
        SCOPED_TRACE(bad);
        EXPECT_FALSE(within_label_limits("xn--" + bad + ".com"));
    }
}

// What the limits rest on, held against ICU's data for every code point.
TEST(LabelLimits, UnicodeDataFacts) {
    UErrorCode error = U_ZERO_ERROR;
    const UNormalizer2* nfc = unorm2_getNFCInstance(&error);
    ASSERT_TRUE(U_SUCCESS(error));
    UChar mapping[64];
    std::size_t longest_canonical = 0, most_per_byte = 0;
    for (UChar32 c = 0; c <= 0x10FFFF; ++c) {
        if (U_IS_SURROGATE(c)) continue;
        error = U_ZERO_ERROR;
        const int32_t units = unorm2_getDecomposition(uts46(), c, mapping, 64, &error);
        ASSERT_TRUE(U_SUCCESS(error)) << c;
        if (units >= 0) {
            const auto points = static_cast<std::size_t>(u_countChar32(mapping, units));
            most_per_byte = std::max(most_per_byte, (points + U8_LENGTH(c) - 1) / U8_LENGTH(c));
            if (c < 0x80) {
                EXPECT_TRUE(c >= 'A' && c <= 'Z') << "ASCII mapped: " << c;
            }
        }
        error = U_ZERO_ERROR;
        const int32_t canonical = unorm2_getDecomposition(nfc, c, mapping, 64, &error);
        if (canonical >= 0)
            longest_canonical = std::max(longest_canonical, static_cast<std::size_t>(u_countChar32(mapping, canonical)));
        // The scan reads bidi classes before composition: a composite is
        // right-to-left exactly when one of its two parts is.
        error = U_ZERO_ERROR;
        const int32_t raw = unorm2_getRawDecomposition(nfc, c, mapping, 64, &error);
        if (raw > 0) {
            UChar32 first = 0, second = 0;
            int32_t k = 0;
            U16_NEXT(mapping, k, raw, first);
            if (k < raw) U16_NEXT(mapping, k, raw, second);
            if (k == raw && second != 0 && unorm2_composePair(nfc, first, second) == c) {
                EXPECT_EQ(right_to_left(c), right_to_left(first) || right_to_left(second)) << c;
            }
        }
    }
    EXPECT_EQ(longest_canonical, korvel::idna::max_canonical_decomposition);
    EXPECT_EQ(most_per_byte, korvel::idna::max_mapped_per_byte);
}

TEST(Utf8, EveryByteIsConsumedOnce) {
    struct Case {
        std::string text;
        std::u32string code_points;
    };
    const std::vector<Case> cases = {
        {"a\u00e4\u4e00\U00010400", U"a\u00e4\u4e00\U00010400"},
        {"\xff" "a", U"\uFFFDa"},
        {"\xe4\xb8", U"\uFFFD\uFFFD"},                    // truncated
        {"\xc0\xaf", U"\uFFFD\uFFFD"},                    // overlong
        {"\xed\xa0\x80", U"\uFFFD\uFFFD\uFFFD"},          // a surrogate
        {"\xf4\x90\x80\x80", U"\uFFFD\uFFFD\uFFFD\uFFFD"},  // beyond U+10FFFF
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.text));
        std::u32string decoded;
        for (std::size_t i = 0; i < c.text.size();) decoded.push_back(korvel::idna::next_code_point(c.text, i));
        EXPECT_EQ(decoded, c.code_points);
        std::string encoded;
        for (char32_t cp : c.code_points) korvel::idna::append_utf8(encoded, cp);
        if (c.code_points.find(U'\uFFFD') == std::u32string::npos) {
            EXPECT_EQ(encoded, c.text);
        }
    }
}

}  // namespace
