#include <gtest/gtest.h>
#include <sys/mman.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "generated.hpp"
#include "idna.hpp"
#include "registry.hpp"

namespace {

using korvel::generated::public_suffix;
using korvel::generated::Section;
using korvel::generated::TLD_RULES;
using korvel::registry::apply_rule;
using korvel::registry::Registry;
using korvel::registry::trim_white_space;
using korvel::types::CheckResult;
using korvel::types::CheckStatus;
using korvel::types::ClosedReason;
using korvel::types::Registerable;
using korvel::types::TldRule;
using namespace std::string_literals;

using Reasons = std::vector<std::string>;

const std::string empty_domain = "DNS syntax: empty domain";
const std::string invalid_idna = "DNS syntax: invalid IDNA input";
const std::string empty_label = "DNS syntax: empty label";
const std::string invalid_characters = "DNS syntax: label contains invalid characters";
const std::string too_long = "DNS syntax: domain exceeds 253 characters";

std::string no_data(std::string_view tld) { return "No data available for TLD '" + std::string(tld) + "'"; }
std::string not_a_domain(std::string_view suffix) {
    return "no registrable label found \u2014 '" + std::string(suffix) + "' is a TLD, not a domain";
}
std::string subdomain(std::string_view name, std::string_view registrable) {
    const std::string r(registrable);
    return "'" + std::string(name) + "' is a subdomain of '" + r + "' \u2014 retry with '" + r + "'";
}
std::string no_idn(std::string_view tld) {
    return "TLD rule: ." + std::string(tld) + " does not support IDN (charset is ASCII only)";
}
Reasons open_reasons(int min) {
    return {"DNS syntax: ok", "TLD rule: label length ok (" + std::to_string(min) + "-63)",
            "TLD rule: label not in banned list"};
}

// The 25 White_Space code points, in UTF-8.
const std::vector<std::string> white_space = {
    "\t", "\n", "\v", "\f", "\r", " ", "\u0085", "\u00a0", "\u1680", "\u2000", "\u2001", "\u2002", "\u2003",
    "\u2004", "\u2005", "\u2006", "\u2007", "\u2008", "\u2009", "\u200a", "\u2028", "\u2029", "\u202f",
    "\u205f", "\u3000"};

struct CheckCase {
    std::string name;
    std::string input;
    CheckStatus status;
    Reasons reasons;
};

void expect_check(const std::vector<CheckCase>& cases) {
    const Registry registry;
    for (const CheckCase& c : cases) {
        SCOPED_TRACE(c.name);
        const CheckResult result = registry.check(c.input);
        EXPECT_EQ(result.status, c.status);
        EXPECT_EQ(result.reasons, c.reasons);
    }
}

TEST(Check, NormalisationAndSuffixAnalysis) {
    expect_check({
        {"empty text", "", CheckStatus::No, {empty_domain}},
        {"white space only", " \t\u3000\u00a0", CheckStatus::No, {empty_domain}},
        {"a dot alone", ".", CheckStatus::No, {empty_domain}},
        {"white space and dots only", " \t...\u2029", CheckStatus::No, {empty_domain}},
        {"plain name", "example.com", CheckStatus::Yes, open_reasons(1)},
        {"white space, capitals, trailing dots", " \tExample.COM..\u3000 ", CheckStatus::Yes, open_reasons(1)},
        {"subdomain", "shop.example.com", CheckStatus::No, {subdomain("shop.example.com", "example.com")}},
        {"a TLD", "com", CheckStatus::No, {not_a_domain("com")}},
        {"a two-label suffix", "co.uk", CheckStatus::No, {not_a_domain("co.uk")}},
        {"an unlisted last label alone", "example", CheckStatus::No, {not_a_domain("example")}},
        {"unlisted last label", "foo.example", CheckStatus::Unknown, {no_data("example")}},
        {"subdomain test before the lookup", "a.b.example", CheckStatus::No, {subdomain("a.b.example", "b.example")}},
        {"Unicode key not reached by the check", "example.рф", CheckStatus::Unknown, {no_data("xn--p1ai")}},
        {"wildcard suffix alone", "foo.ck", CheckStatus::No, {not_a_domain("foo.ck")}},
        {"under the wildcard", "example.foo.ck", CheckStatus::Unknown, {no_data("foo.ck")}},
        {"the exception name", "www.ck", CheckStatus::Unknown, {no_data("ck")}},
        {"private suffix alone", "github.io", CheckStatus::No, {not_a_domain("github.io")}},
        {"under a private suffix", "x.github.io", CheckStatus::Unknown, {no_data("github.io")}},
        {"placeholders take the ASCII name", " SHOP.Exämple.COM. ", CheckStatus::No,
         {subdomain("shop.xn--exmple-cua.com", "xn--exmple-cua.com")}},
        {"leading dot stays", ".example.com", CheckStatus::No, {empty_label}},
        {"U+3002 is not stripped but converts to a dot", "example.com\u3002", CheckStatus::No, {empty_label}},
        {"uncovered white space stays", "example.com. .", CheckStatus::No, {invalid_characters}},
        {"underscore passes the conversion", "exa_mple.com", CheckStatus::No, {invalid_characters}},
        {"inner space passes the conversion", "exa mple.com", CheckStatus::No, {invalid_characters}},
        {"NUL passes the conversion", "exa\0mple.com"s, CheckStatus::No, {invalid_characters}},
        {"U+001C is not white space", "\x1c" "example.com", CheckStatus::No, {invalid_characters}},
        {"syntax before suffix analysis", "-example.com", CheckStatus::No,
         {"DNS syntax: label cannot start or end with a hyphen"}},
        {"hyphens at 3 and 4 pass the conversion", "ab--cd.com", CheckStatus::Yes, open_reasons(1)},
    });
}

TEST(Check, IdnaConversion) {
    // A Punycode label that decodes to a text beginning with "xn--".
    const std::string nested_ace = "xn--xn---ooa.com";
    expect_check({
        {"combining mark at the start of a label", "\u0301a.com", CheckStatus::No, {invalid_idna}},
        {"zero width joiner between letters", "a\u200db.com", CheckStatus::No, {invalid_idna}},
        {"bidi rule", "1.\u0627", CheckStatus::No, {invalid_idna}},
        {"bad Punycode", "xn--exmple-cub.com", CheckStatus::No, {invalid_idna}},
        {"A-label decoding to xn--", nested_ace, CheckStatus::No, {invalid_idna}},
        {"malformed UTF-8", "exa\xffmple.com", CheckStatus::No, {invalid_idna}},
        {"maps to nothing", "\u00ad", CheckStatus::No, {empty_domain}},
        {"maps to an empty first label", "\u00ad.com", CheckStatus::No, {empty_label}},
        {"upper-case A-label is lowered", "XN--EXMPLE-CUA.com", CheckStatus::No, {no_idn("com")}},
    });
}

// The cases that end in the rule stage with the shipped rules.
TEST(Check, ShippedRules) {
    expect_check({
        {"open suffix", "example.com", CheckStatus::Yes, open_reasons(1)},
        {"co.uk takes 3 and more", "example.co.uk", CheckStatus::Yes, open_reasons(3)},
        {"co.uk at its minimum", "abc.co.uk", CheckStatus::Yes, open_reasons(3)},
        {"too short under co.uk", "ab.co.uk", CheckStatus::No, {"TLD rule: label too short (min 3, got 2) under .co.uk"}},
        {"banned, any case", "ZA.sk", CheckStatus::No, {"TLD rule: label 'za' is banned under .sk"}},
        {"restricted", "example.de", CheckStatus::Restricted, {"TLD rule: .de requires eligibility (resident)"}},
        {"closed", "example.test", CheckStatus::No,
         {"TLD rule: .test is reserved for testing and not open for public registration"}},
        {"IDN under an ASCII-only suffix", "exämple.com", CheckStatus::No, {no_idn("com")}},
        {"the same label as an A-label", "xn--exmple-cua.com", CheckStatus::No, {no_idn("com")}},
        {"full-width letters", "\uff45\uff58\uff41\uff4d\uff50\uff4c\uff45.com", CheckStatus::No, {no_idn("com")}},
        {"U+3002 between the labels", "example\u3002com", CheckStatus::No, {no_idn("com")}},
        {"U+200B is not trimmed", "\u200b" "example.com", CheckStatus::No, {no_idn("com")}},
        {"63-byte label", std::string(63, 'a') + ".com", CheckStatus::Yes, open_reasons(1)},
    });
}

TEST(Check, EveryWhiteSpaceCodePointIsTrimmed) {
    const Registry registry;
    for (const std::string& ws : white_space) {
        SCOPED_TRACE(testing::PrintToString(ws));
        const CheckResult result = registry.check(ws + ws + "example.com." + ws);
        EXPECT_EQ(result.status, CheckStatus::Yes);
        EXPECT_EQ(result.reasons, open_reasons(1));
    }
}

TEST(Check, LongTextsAreConvertedWhole) {
    const Registry registry;
    // Soft hyphens map to nothing: what is left is an ordinary name.
    std::string soft_hyphens;
    for (int i = 0; i < 100000; ++i) soft_hyphens += "\u00ad";
    EXPECT_EQ(registry.check("example.com" + soft_hyphens).reasons, open_reasons(1));

    std::string labels = "\u00e4";
    for (int i = 1; i < 200; ++i) labels += ".\u00e4";
    EXPECT_EQ(registry.check(labels).reasons, Reasons{too_long});

    EXPECT_EQ(registry.check(std::string(10000, 'a')).reasons, Reasons{too_long});
}

// A label that is not ASCII is refused beyond 1000 code points. ICU's encoder
// stops at 1000 UTF-16 units, so a label of 501 to 1000 characters beyond the
// BMP is valid but unencoded: it can only make the name too long.
TEST(Check, LabelLengthLimits) {
    const std::string a999(999, 'a'), a1000(1000, 'a');
    std::string many_labels;  // long enough to be converted in pieces
    for (int i = 0; i < 3000; ++i) many_labels += "b.";
    std::string deseret, alefs;
    for (int i = 0; i < 501; ++i) deseret += "\U00010428";
    for (int i = 0; i < 1000; ++i) alefs += "\u05d0";
    expect_check({
        {"1000 code points", a999 + "\u00e4.com", CheckStatus::No, {too_long}},
        {"1001 code points", a1000 + "\u00e4.com", CheckStatus::No, {invalid_idna}},
        {"capitals and white space", " " + a1000 + "\u00c4.COM. ", CheckStatus::No, {invalid_idna}},
        {"beyond ICU's encoder", deseret + ".com", CheckStatus::No, {too_long}},
        {"among many labels", many_labels + deseret + "." + many_labels + "com", CheckStatus::No, {too_long}},
        {"two of them", deseret + "." + deseret + ".com", CheckStatus::No, {too_long}},
        {"another label fails", deseret + ".\u0301x.com", CheckStatus::No, {invalid_idna}},
        {"another label fails first", "\u0301x." + deseret + ".com", CheckStatus::No, {invalid_idna}},
        {"the long label holds a disallowed character", deseret + "\ufffd.com", CheckStatus::No, {invalid_idna}},
        {"the long label breaks the bidi rule", "\u05d0.1" + deseret, CheckStatus::No, {invalid_idna}},
        {"the same in pieces", "\u05d0." + many_labels + "1" + deseret, CheckStatus::No, {invalid_idna}},
        {"right-to-left and long, rule kept", alefs + ".com", CheckStatus::No, {too_long}},
        {"right-to-left beyond the limit", alefs + "\u05d0.com", CheckStatus::No, {invalid_idna}},
    });
}

// A text longer than the converter's 32-bit lengths is refused, not truncated.
// The pages are mapped but never touched beyond both ends, so this costs no memory.
TEST(Check, TextBeyondThirtyTwoBitLengthsIsRefused) {
    const std::size_t size = static_cast<std::size_t>(INT32_MAX) + 2;
    void* pages = mmap(nullptr, size, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    ASSERT_NE(pages, MAP_FAILED);
    const std::string_view huge(static_cast<const char*>(pages), size);
    const CheckResult result = Registry{}.check(huge);
    EXPECT_EQ(result.status, CheckStatus::No);
    EXPECT_EQ(result.reasons, Reasons{invalid_idna});
    std::string ascii;
    EXPECT_EQ(korvel::idna::to_ascii(huge, ascii), korvel::idna::Outcome::Invalid);
    munmap(pages, size);
}

TEST(TrimWhiteSpace, RemovesOnlyTheWhiteSpaceSetAtBothEnds) {
    for (const std::string& ws : white_space) {
        SCOPED_TRACE(testing::PrintToString(ws));
        EXPECT_EQ(trim_white_space(ws + "a" + ws + "b" + ws + ws), "a" + ws + "b");
    }
    for (const std::string kept : {"\x1c", "\x1f", "\u180e", "\u200b", "\ufeff", "\u2060", "\u00ad"}) {
        SCOPED_TRACE(testing::PrintToString(kept));
        EXPECT_EQ(trim_white_space(" " + kept + "a" + kept + " "), kept + "a" + kept);
    }
    EXPECT_EQ(trim_white_space(""), "");
    EXPECT_EQ(trim_white_space("\u3000 \u2028"), "");
    // A truncated sequence at either end is not white space.
    EXPECT_EQ(trim_white_space("\xe3\x80" "a\xe3"), "\xe3\x80" "a\xe3");
}

// The table keeps internationalised suffixes in Unicode and the matcher in
// ASCII: both must rest on the A-label that the check's converter produces.
TEST(TableAgreement, UnicodeKeysConvertToTheMatchersALabels) {
    const Registry registry;
    std::size_t unicode_keys = 0;
    for (const TldRule& rule : TLD_RULES.entries()) {
        if (std::all_of(rule.tld.begin(), rule.tld.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; }))
            continue;
        ++unicode_keys;
        SCOPED_TRACE(std::string(rule.tld));
        std::string converted;
        ASSERT_EQ(korvel::idna::to_ascii(rule.tld, converted), korvel::idna::Outcome::Converted);
        const std::optional<std::string> ace = converted;
        const auto match = public_suffix(*ace);
        EXPECT_EQ(match.length, ace->size());
        EXPECT_EQ(match.section, Section::Icann);
        const std::string name = "x." + *ace;
        EXPECT_EQ(public_suffix(name).length, ace->size());

        const CheckResult result = registry.check("x." + std::string(rule.tld));
        if (const TldRule* ace_rule = TLD_RULES.get_entry(*ace)) {
            const CheckResult expected = apply_rule(name, *ace, "x." + std::string(rule.tld), *ace_rule);
            EXPECT_EQ(result.status, expected.status);
            EXPECT_EQ(result.reasons, expected.reasons);
        } else {
            EXPECT_EQ(result.status, CheckStatus::Unknown);
            EXPECT_EQ(result.reasons, Reasons{no_data(*ace)});
        }
    }
    EXPECT_GT(unicode_keys, 0u);
}

TEST(TldInfo, EveryKeyIsFoundByItsOwnText) {
    const Registry registry;
    for (const TldRule& rule : TLD_RULES.entries()) {
        SCOPED_TRACE(std::string(rule.tld));
        EXPECT_EQ(registry.tld_info(rule.tld), &rule);
    }
}

TEST(TldInfo, TypedSuffixes) {
    const Registry registry;
    const TldRule* test = TLD_RULES.get_entry("test");
    ASSERT_NE(test, nullptr);
    struct Case {
        std::string typed;
        const TldRule* expected;
    };
    const Case cases[] = {
        {"test", test},
        {"TEST", test},
        {"Test", test},
        {" \ttest\u00a0\u3000", test},
        {".test", test},
        {"...test", test},
        {"  ..test", test},
        {"test.", nullptr},
        {"test. ", nullptr},
        {". test", nullptr},
        {"\u200btest", nullptr},
        {"\ufefftest", nullptr},
        {"\u180etest", nullptr},
        {"example.test", nullptr},
        {"", nullptr},
        {" \u2003 ", nullptr},
        {"...", nullptr},
        {"CO.UK", TLD_RULES.get_entry("co.uk")},
        {"рф", TLD_RULES.get_entry("рф")},
        {"xn--p1ai", nullptr},
        {"РФ", nullptr},
        {"*.ck", TLD_RULES.get_entry("*.ck")},
        {"www.ck", TLD_RULES.get_entry("www.ck")},
        {"ck", nullptr},
        {"!www.ck", nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.typed));
        EXPECT_EQ(registry.tld_info(c.typed), c.expected);
    }
    for (const std::string& ws : white_space) {
        SCOPED_TRACE(testing::PrintToString(ws));
        EXPECT_EQ(registry.tld_info(ws + ".TEST" + ws), test);
    }
    EXPECT_EQ(registry.tld_info("Test")->tld, "test");
    EXPECT_NE(TLD_RULES.get_entry("рф"), nullptr);
    EXPECT_NE(TLD_RULES.get_entry("*.ck"), nullptr);
    EXPECT_NE(TLD_RULES.get_entry("www.ck"), nullptr);
}

// One suffix, two keys: the Unicode text and the brand record of its A-label.
TEST(TldInfo, UnicodeAndALabelKeysAreDifferentRecords) {
    const Registry registry;
    const TldRule* unicode = registry.tld_info("香格里拉");
    const TldRule* ace = registry.tld_info("XN--5SU34J936BGSG");
    ASSERT_NE(unicode, nullptr);
    ASSERT_NE(ace, nullptr);
    EXPECT_EQ(unicode->tld, "香格里拉");
    EXPECT_EQ(unicode->registerable, Registerable::Yes);
    EXPECT_EQ(ace->tld, "xn--5su34j936bgsg");
    EXPECT_EQ(ace->registerable, Registerable::No);
    EXPECT_EQ(ace->reason, ClosedReason::BrandTld);
}

}  // namespace
