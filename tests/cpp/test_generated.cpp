// The generated tables: the rule table's keys, records and figures, and the
// public suffix matcher held against libpsl over the same list file.
#include <gtest/gtest.h>
#include <libpsl.h>
#include <unicode/uidna.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <map>
#include <optional>
#include <ostream>
#include <random>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "generated.hpp"

namespace {

using korvel::generated::public_suffix;
using korvel::generated::Section;
using korvel::generated::TLD_RULES;
using korvel::types::Charset;
using korvel::types::ClosedReason;
using korvel::types::LengthBasis;
using korvel::types::Registerable;
using korvel::types::TldRule;

constexpr std::string_view brand_note = "ICANN Spec 13 brand TLD; not open for public registration";

// --- the list, read independently of the generator -----------------------------

struct ListRule {
    std::string text;   // as written, with "!" or "*." where the list has them
    std::string ascii;  // every label in its ASCII form, "!" dropped, "*." kept
    Section section;
};

bool is_ascii(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// UTS #46 by ICU, a converter independent of the generator's Punycode.
std::string icu_convert(std::string_view text, bool to_ascii) {
    UErrorCode error = U_ZERO_ERROR;
    static UIDNA* const idna =
        uidna_openUTS46(UIDNA_NONTRANSITIONAL_TO_ASCII | UIDNA_NONTRANSITIONAL_TO_UNICODE, &error);
    EXPECT_TRUE(U_SUCCESS(error));
    char out[1024];
    UIDNAInfo info = UIDNA_INFO_INITIALIZER;
    error = U_ZERO_ERROR;
    const auto size = static_cast<int32_t>(text.size());
    const auto length = to_ascii ? uidna_nameToASCII_UTF8(idna, text.data(), size, out, sizeof out, &info, &error)
                                 : uidna_nameToUnicodeUTF8(idna, text.data(), size, out, sizeof out, &info, &error);
    EXPECT_TRUE(U_SUCCESS(error) && info.errors == 0) << text;
    return std::string(out, static_cast<std::size_t>(std::max(length, 0)));
}

std::string rule_ascii(std::string_view text) {
    if (text.starts_with('!')) text.remove_prefix(1);
    if (text.starts_with("*.")) return "*." + rule_ascii(text.substr(2));
    return is_ascii(text) ? std::string(text) : icu_convert(text, true);
}

const std::vector<ListRule>& list_rules() {
    static const std::vector<ListRule> rules = [] {
        std::vector<ListRule> out;
        std::ifstream in(KORVEL_PSL_FILE);
        EXPECT_TRUE(in) << KORVEL_PSL_FILE;
        Section section = Section::None;
        for (std::string line; std::getline(in, line);) {
            if (line.starts_with("// ===BEGIN ICANN DOMAINS===")) section = Section::Icann;
            else if (line.starts_with("// ===BEGIN PRIVATE DOMAINS===")) section = Section::Private;
            else if (line.starts_with("// ===END")) section = Section::None;
            const auto end = line.find_first_of(" \t\r");
            const std::string text = line.substr(0, end);
            if (text.empty() || text.starts_with("//") || section == Section::None) continue;
            out.push_back({text, rule_ascii(text), section});
        }
        return out;
    }();
    return rules;
}

std::set<std::string> icann_keys() {
    std::set<std::string> keys;
    for (const auto& r : list_rules())
        if (r.section == Section::Icann) keys.insert(r.text.starts_with('!') ? r.text.substr(1) : r.text);
    return keys;
}

// --- the rule table ---------------------------------------------------------------

bool is_default_record(const TldRule& r) {
    return r.registerable == Registerable::Yes && !r.reason && !r.note && r.restrictions.empty() &&
           r.min_length == 1 && r.max_length == 63 && r.length_basis == LengthBasis::Ascii && r.banned.empty() &&
           r.charset == Charset::Ascii && r.idn_chars.empty() && r.sources.size() == 1 &&
           r.sources[0].field == "registerable";
}

enum class Expect { Miss, Default, Row };

struct LookupCase {
    std::string_view key;
    Expect expect;
    Registerable registerable = Registerable::Yes;
    std::optional<ClosedReason> reason{};
    std::optional<std::string_view> note{};
    std::vector<std::string_view> restrictions{};
    std::uint8_t min_length = 1;
    std::vector<std::string_view> banned{};
    std::vector<std::string_view> source_fields{};
};

void PrintTo(const LookupCase& c, std::ostream* os) { *os << '"' << c.key << '"'; }

const LookupCase lookup_cases[] = {
    {.key = "de", .expect = Expect::Row, .registerable = Registerable::Restricted,
     .note = ".de requires eligibility (resident)", .restrictions = {"resident"},
     .source_fields = {"note", "registerable", "restrictions"}},
    {.key = "DE", .expect = Expect::Miss},
    {.key = ".de", .expect = Expect::Miss},
    {.key = "de.", .expect = Expect::Miss},
    {.key = " de", .expect = Expect::Miss},
    {.key = "co.uk", .expect = Expect::Row, .min_length = 3, .source_fields = {"min_length", "registerable"}},
    {.key = "sk", .expect = Expect::Row, .banned = {"za"}, .source_fields = {"banned", "registerable"}},
    {.key = "*.kawasaki.jp", .expect = Expect::Default},
    {.key = "example.kawasaki.jp", .expect = Expect::Miss},
    {.key = "city.kawasaki.jp", .expect = Expect::Default},
    {.key = "!city.kawasaki.jp", .expect = Expect::Miss},
    {.key = "kawasaki.jp", .expect = Expect::Miss},
    {.key = "香格里拉", .expect = Expect::Default},
    {.key = "xn--5su34j936bgsg", .expect = Expect::Row, .registerable = Registerable::No,
     .reason = ClosedReason::BrandTld, .note = brand_note, .source_fields = {"note", "reason", "registerable"}},
    {.key = "goo", .expect = Expect::Row, .registerable = Registerable::No, .reason = ClosedReason::BrandTld,
     .note = brand_note, .source_fields = {"note", "reason", "registerable"}},
    {.key = "рф", .expect = Expect::Default},
    {.key = "xn--p1ai", .expect = Expect::Miss},
    {.key = "test", .expect = Expect::Row, .registerable = Registerable::No, .reason = ClosedReason::Infrastructure,
     .note = ".test is reserved for testing and not open for public registration",
     .source_fields = {"note", "reason", "registerable"}},
    {.key = "mo.us", .expect = Expect::Row, .registerable = Registerable::No, .reason = ClosedReason::Government,
     .note = ".mo.us is reserved for Missouri government use", .source_fields = {"note", "reason", "registerable"}},
    {.key = "", .expect = Expect::Miss},
};

class RuleTableLookup : public testing::TestWithParam<LookupCase> {};

TEST_P(RuleTableLookup, FindsExactlyTheKey) {
    const LookupCase& c = GetParam();
    const TldRule* rule = TLD_RULES.get_entry(c.key);
    if (c.expect == Expect::Miss) {
        EXPECT_EQ(rule, nullptr);
        return;
    }
    ASSERT_NE(rule, nullptr);
    EXPECT_EQ(rule->tld, c.key);
    if (c.expect == Expect::Default) {
        EXPECT_TRUE(is_default_record(*rule));
        return;
    }
    EXPECT_EQ(rule->registerable, c.registerable);
    EXPECT_EQ(rule->reason, c.reason);
    EXPECT_EQ(rule->note, c.note);
    EXPECT_EQ(std::vector<std::string_view>(rule->restrictions.begin(), rule->restrictions.end()), c.restrictions);
    EXPECT_EQ(rule->min_length, c.min_length);
    EXPECT_EQ(rule->max_length, 63);
    EXPECT_EQ(rule->length_basis, LengthBasis::Ascii);
    EXPECT_EQ(std::vector<std::string_view>(rule->banned.begin(), rule->banned.end()), c.banned);
    EXPECT_EQ(rule->charset, Charset::Ascii);
    EXPECT_EQ(rule->idn_chars, "");
    std::vector<std::string_view> fields;
    for (const auto& s : rule->sources) fields.push_back(s.field);
    EXPECT_EQ(fields, c.source_fields);
}

INSTANTIATE_TEST_SUITE_P(EdgeCases, RuleTableLookup, testing::ValuesIn(lookup_cases));

TEST(RuleTable, Figures) {
    std::map<Registerable, int> registerable;
    std::map<std::size_t, int> labels, source_pairs;
    std::set<std::string_view> brand_urls;
    int wildcard = 0, non_ascii = 0, non_ascii_one_label = 0, a_label = 0, a_label_brand = 0, brands = 0;
    for (const TldRule& r : TLD_RULES.entries()) {
        ++registerable[r.registerable];
        ++labels[static_cast<std::size_t>(std::count(r.tld.begin(), r.tld.end(), '.')) + 1];
        ++source_pairs[r.sources.size()];
        wildcard += r.tld.starts_with("*.");
        const bool ascii = is_ascii(r.tld);
        non_ascii += !ascii;
        non_ascii_one_label += !ascii && r.tld.find('.') == std::string_view::npos;
        const bool brand = r.reason == ClosedReason::BrandTld;
        brands += brand;
        if (brand)
            for (const auto& s : r.sources) brand_urls.insert(s.url);
        if (r.tld.starts_with("xn--") || r.tld.find(".xn--") != std::string_view::npos) {
            ++a_label;
            a_label_brand += brand;
        }
    }
    EXPECT_EQ(TLD_RULES.len(), 6946u);
    EXPECT_EQ(TLD_RULES.entries().size(), 6946u);
    EXPECT_EQ(registerable, (std::map<Registerable, int>{
                                {Registerable::Yes, 6574}, {Registerable::No, 371}, {Registerable::Restricted, 1}}));
    EXPECT_EQ(labels, (std::map<std::size_t, int>{{1, 1454}, {2, 3498}, {3, 1991}, {4, 3}}));
    EXPECT_EQ(source_pairs, (std::map<std::size_t, int>{{1, 6572}, {2, 2}, {3, 372}}));
    EXPECT_EQ(wildcard, 16);
    EXPECT_EQ(non_ascii, 444);
    EXPECT_EQ(non_ascii_one_label, 160);
    EXPECT_EQ(a_label, 11);
    EXPECT_EQ(a_label_brand, 11);
    EXPECT_EQ(brands, 369);
    EXPECT_EQ(brand_urls,
              (std::set<std::string_view>{"https://www.icann.org/resources/registries/gtlds/v2/gtlds.json"}));
}

// get_entry hashes each key in C++ and lands on the slot that the generator's
// Python hash gave it: finding every key proves the two hashes agree on all.
TEST(RuleTable, EveryRecordIsFoundUnderItsOwnTld) {
    for (const TldRule& r : TLD_RULES.entries()) {
        EXPECT_EQ(TLD_RULES.get_entry(r.tld), &r) << r.tld;
        EXPECT_FALSE(r.tld.empty() || r.tld.starts_with('.') || r.tld.ends_with('.')) << r.tld;
        EXPECT_FALSE(std::any_of(r.tld.begin(), r.tld.end(), [](char c) { return c >= 'A' && c <= 'Z'; })) << r.tld;
        bool registerable = false;
        for (std::size_t i = 0; i < r.sources.size(); ++i) {
            if (i > 0) {
                EXPECT_LT(r.sources[i - 1].field, r.sources[i].field) << r.tld;
            }
            registerable |= r.sources[i].field == "registerable";
            EXPECT_TRUE(r.sources[i].url.starts_with("https://") || r.sources[i].url.starts_with("http://"))
                << r.tld << ": " << r.sources[i].url;
        }
        EXPECT_TRUE(registerable) << r.tld;
    }
}

TEST(RuleTable, KeysAreTheIcannRulesPlusTestAndTheBrands) {
    const std::set<std::string> icann = icann_keys();
    ASSERT_EQ(icann.size(), 6932u);
    for (const auto& key : icann) EXPECT_NE(TLD_RULES.get_entry(key), nullptr) << key;

    std::set<std::string> outside;
    for (const TldRule& r : TLD_RULES.entries())
        if (!icann.contains(std::string(r.tld))) outside.insert(std::string(r.tld));
    std::set<std::string> expected = {"test", "goo", "redstone"};
    for (const auto& key : outside) {
        if (!key.starts_with("xn--")) continue;
        expected.insert(key);
        // The A-label key of a brand the list writes in Unicode: that Unicode key is a rule too.
        EXPECT_TRUE(icann.contains(icu_convert(key, false))) << key;
    }
    EXPECT_EQ(outside, expected);
    EXPECT_EQ(expected.size(), 14u);

    for (const auto& r : list_rules())
        if (r.section == Section::Private && !icann.contains(r.text)) {
            EXPECT_EQ(TLD_RULES.get_entry(r.text), nullptr) << r.text;
        }
}

// --- the public suffix matcher -----------------------------------------------------

struct SuffixCase {
    std::string_view name;
    std::string_view suffix;
    Section section;
};

const SuffixCase suffix_cases[] = {
    {"", "", Section::None},
    {"com", "com", Section::Icann},
    {"example.com", "com", Section::Icann},
    {"www.example.co.uk", "co.uk", Section::Icann},
    {"example.unlistedtld", "unlistedtld", Section::None},
    {"x.example.kawasaki.jp", "example.kawasaki.jp", Section::Icann},  // "*" matches one label
    {"city.kawasaki.jp", "kawasaki.jp", Section::Icann},                // the exception prevails
    {"a.city.kawasaki.jp", "kawasaki.jp", Section::Icann},
    {"kawasaki.jp", "jp", Section::Icann},  // "*" needs a label to stand for
    {"www.ck", "ck", Section::Icann},       // an exception under an unlisted top-level label
    {"x.ck", "x.ck", Section::Icann},
    {"ck", "ck", Section::None},
    {"example.xn--p1ai", "xn--p1ai", Section::Icann},
    {"example.github.io", "github.io", Section::Private},
    {"a.b.compute.amazonaws.com", "b.compute.amazonaws.com", Section::Private},
    {"EXAMPLE.COM", "COM", Section::None},  // bytes compare exactly
};

TEST(PublicSuffix, Cases) {
    for (const auto& c : suffix_cases) {
        const auto match = public_suffix(c.name);
        EXPECT_EQ(c.name.substr(c.name.size() - std::min(match.length, c.name.size())), c.suffix) << c.name;
        EXPECT_EQ(match.length, c.suffix.size()) << c.name;
        EXPECT_EQ(match.section, c.section) << c.name;
    }
}

class PublicSuffixOracle : public testing::Test {
protected:
    static void SetUpTestSuite() {
        psl_ = psl_load_file(KORVEL_PSL_FILE);
        for (const auto& r : list_rules()) {
            if (r.ascii.starts_with("*.")) wildcard_parents_.insert(r.ascii.substr(2));
            else if (!r.text.starts_with('!')) normal_rules_.insert(r.ascii);
        }
    }
    static void TearDownTestSuite() { psl_free(psl_); }

    // libpsl's answer, except where it departs from the list's algorithm: it
    // counts the parent of a wildcard rule ("kawasaki.jp" of "*.kawasaki.jp")
    // as a suffix by itself, while "*" needs a label to stand for; such a
    // name, unless another rule covers it, takes the suffix of its parent.
    static std::size_t expected(const std::string& name) {
        const auto dot = name.find('.');
        if (dot != std::string::npos && wildcard_parents_.contains(name) && !normal_rules_.contains(name) &&
            !wildcard_parents_.contains(name.substr(dot + 1)))
            return expected(name.substr(dot + 1));
        const char* suffix = psl_unregistrable_domain(psl_, name.c_str());
        return suffix ? std::strlen(suffix) : 0;
    }

    static void compare(const std::vector<std::string>& names) {
        std::vector<std::string> wrong;
        for (const auto& name : names) {
            const auto ours = public_suffix(name).length;
            const auto theirs = expected(name);
            if (ours != theirs)
                wrong.push_back(name + ": " + std::to_string(ours) + " instead of " + std::to_string(theirs));
        }
        EXPECT_TRUE(wrong.empty()) << wrong.size() << " of " << names.size() << " differ, first: " << wrong.front();
    }

    static inline psl_ctx_t* psl_ = nullptr;
    static inline std::set<std::string> wildcard_parents_, normal_rules_;
};

std::string fill_wildcard(const std::string& rule, std::string_view label) {
    return rule.starts_with("*.") ? std::string(label) + rule.substr(1) : rule;
}

TEST_F(PublicSuffixOracle, EveryRuleAndNamesUnderIt) {
    ASSERT_NE(psl_, nullptr);
    ASSERT_GT(list_rules().size(), 10000u);
    std::vector<std::string> names;
    for (const auto& r : list_rules()) {
        const std::string name = fill_wildcard(r.ascii, "w");
        names.push_back(name);
        names.push_back("x." + name);
        names.push_back("a.b." + name);
        // The rule decides its own name, so the section is the rule's.
        EXPECT_EQ(public_suffix(name).section, r.section) << r.text;
    }
    compare(names);
}

TEST_F(PublicSuffixOracle, RandomNamesFromTheListsLabels) {
    std::vector<std::string> labels = {"x", "www", "example", "city", "w"};
    for (const auto& r : list_rules()) {
        std::string_view rest = r.ascii;
        for (std::size_t dot; (dot = rest.find('.')) != std::string_view::npos; rest.remove_prefix(dot + 1))
            if (rest.substr(0, dot) != "*") labels.emplace_back(rest.substr(0, dot));
        labels.emplace_back(rest);
    }
    std::sort(labels.begin(), labels.end());
    labels.erase(std::unique(labels.begin(), labels.end()), labels.end());

    std::mt19937_64 rng(20260527);
    const auto pick = [&](std::size_t n) { return static_cast<std::size_t>(rng() % n); };
    const auto& rules = list_rules();
    std::vector<std::string> names;
    for (int i = 0; i < 20000; ++i) {
        std::string name;
        if (i % 2 == 0) {
            // A rule with some of its leftmost labels dropped, under up to three random labels.
            name = fill_wildcard(rules[pick(rules.size())].ascii, labels[pick(labels.size())]);
            for (std::size_t drop = pick(3), dot; drop > 0 && (dot = name.find('.')) != std::string::npos; --drop)
                name.erase(0, dot + 1);
            for (std::size_t n = pick(4); n > 0; --n) name = labels[pick(labels.size())] + "." + name;
        } else {
            for (std::size_t n = 1 + pick(5); n > 0; --n)
                name = name.empty() ? labels[pick(labels.size())] : labels[pick(labels.size())] + "." + name;
        }
        names.push_back(std::move(name));
    }
    compare(names);
}

}  // namespace
