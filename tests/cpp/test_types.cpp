#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "generated.hpp"
#include "types.hpp"
#include "default_rule.hpp"

namespace {

using namespace korvel::types;
using korvel::generated::TLD_RULES;

using Pairs = std::vector<std::pair<std::string, std::string>>;

std::vector<std::string> fields_of(const Pairs& sources) {
    std::vector<std::string> fields;
    for (const auto& [field, url] : sources) fields.push_back(field);
    return fields;
}

TEST(EnumerationText, EveryValueHasItsText) {
    EXPECT_EQ(text(Registerable::Yes), "yes");
    EXPECT_EQ(text(Registerable::No), "no");
    EXPECT_EQ(text(Registerable::Restricted), "restricted");
    EXPECT_EQ(text(ClosedReason::BrandTld), "brand_tld");
    EXPECT_EQ(text(ClosedReason::Infrastructure), "infrastructure");
    EXPECT_EQ(text(ClosedReason::Government), "government");
    EXPECT_EQ(text(ClosedReason::Retired), "retired");
    EXPECT_EQ(text(LengthBasis::Ascii), "ascii");
    EXPECT_EQ(text(LengthBasis::Unicode), "unicode");
    EXPECT_EQ(text(Charset::Ascii), "ascii");
    EXPECT_EQ(text(Charset::Idn), "idn");
}

TEST(RuleSummary, AbsentReasonAndNoteStayAbsentAndEmptyListsStayEmpty) {
    const TldRuleSummary summary = TldRuleSummary::from(default_rule("example"));
    EXPECT_FALSE(summary.reason.has_value());
    EXPECT_FALSE(summary.note.has_value());
    EXPECT_TRUE(summary.restrictions.empty());
    EXPECT_TRUE(summary.banned.empty());
    EXPECT_TRUE(summary.sources.empty());
    EXPECT_EQ(summary.idn_chars, "");
    EXPECT_EQ(summary.tld, "example");
    EXPECT_EQ(summary.registerable, "yes");
    EXPECT_EQ(summary.length_basis, "ascii");
    EXPECT_EQ(summary.charset, "ascii");
}

TEST(RuleSummary, AnEmptyNoteIsPresent) {
    TldRule rule = default_rule("example");
    rule.note = "";
    const TldRuleSummary summary = TldRuleSummary::from(rule);
    ASSERT_TRUE(summary.note.has_value());
    EXPECT_EQ(*summary.note, "");
}

TEST(RuleSummary, CopiesEveryFieldExactlyAndInOrder) {
    static constexpr std::string_view restrictions[] = {"Local Presence", "  trademark "};
    static constexpr std::string_view banned[] = {"Shop", "ZA"};
    static constexpr SourcePair sources[] = {{"banned", "https://a.example/B"}, {"charset", "https://c.example/"},
                                             {"registerable", "https://r.example/"}};
    TldRule rule = default_rule("Ünïcode.example");
    rule.registerable = Registerable::Restricted;
    rule.reason = ClosedReason::Retired;
    rule.note = " A note, kept as written. ";
    rule.restrictions = restrictions;
    rule.banned = banned;
    rule.min_length = 2;
    rule.max_length = 40;
    rule.length_basis = LengthBasis::Unicode;
    rule.charset = Charset::Idn;
    rule.idn_chars = "éÉß";
    rule.sources = sources;

    const TldRuleSummary summary = TldRuleSummary::from(rule);
    EXPECT_EQ(summary.tld, "Ünïcode.example");
    EXPECT_EQ(summary.registerable, "restricted");
    EXPECT_EQ(summary.reason, "retired");
    EXPECT_EQ(summary.note, " A note, kept as written. ");
    EXPECT_EQ(summary.restrictions, (std::vector<std::string>{"Local Presence", "  trademark "}));
    EXPECT_EQ(summary.min_length, 2);
    EXPECT_EQ(summary.max_length, 40);
    EXPECT_EQ(summary.length_basis, "unicode");
    EXPECT_EQ(summary.banned, (std::vector<std::string>{"Shop", "ZA"}));
    EXPECT_EQ(summary.charset, "idn");
    EXPECT_EQ(summary.idn_chars, "éÉß");
    EXPECT_EQ(summary.sources, (Pairs{{"banned", "https://a.example/B"},
                                      {"charset", "https://c.example/"},
                                      {"registerable", "https://r.example/"}}));
}

TEST(RuleSummary, EachClosedReasonHasItsText) {
    const std::pair<ClosedReason, std::string> cases[] = {{ClosedReason::BrandTld, "brand_tld"},
                                                          {ClosedReason::Infrastructure, "infrastructure"},
                                                          {ClosedReason::Government, "government"},
                                                          {ClosedReason::Retired, "retired"}};
    for (const auto& [reason, expected] : cases) {
        TldRule rule = default_rule("example");
        rule.registerable = Registerable::No;
        rule.reason = reason;
        EXPECT_EQ(TldRuleSummary::from(rule).reason, expected);
        EXPECT_EQ(TldRuleSummary::from(rule).registerable, "no");
    }
}

// The summary owns its texts: it outlives the rule it was made from.
TEST(RuleSummary, OutlivesItsRule) {
    TldRuleSummary summary;
    {
        std::string tld = "temporary.example";
        std::string note = "gone soon";
        TldRule rule = default_rule(tld);
        rule.note = note;
        summary = TldRuleSummary::from(rule);
        tld.assign(tld.size(), 'x');
        note.assign(note.size(), 'x');
    }
    EXPECT_EQ(summary.tld, "temporary.example");
    EXPECT_EQ(summary.note, "gone soon");
}

TEST(RuleSummary, BrandRecordOfTheTable) {
    const TldRule* rule = TLD_RULES.get_entry("xn--5su34j936bgsg");
    ASSERT_NE(rule, nullptr);
    const TldRuleSummary summary = TldRuleSummary::from(*rule);
    EXPECT_EQ(summary.tld, "xn--5su34j936bgsg");
    EXPECT_EQ(summary.registerable, "no");
    EXPECT_EQ(summary.reason, "brand_tld");
    EXPECT_EQ(summary.note, "ICANN Spec 13 brand TLD; not open for public registration");
    EXPECT_EQ(summary.min_length, 1);
    EXPECT_EQ(summary.max_length, 63);
    EXPECT_EQ(summary.length_basis, "ascii");
    EXPECT_EQ(summary.charset, "ascii");
    EXPECT_EQ(fields_of(summary.sources), (std::vector<std::string>{"note", "reason", "registerable"}));
}

TEST(RuleSummary, RestrictedRecordOfTheTable) {
    const TldRule* rule = TLD_RULES.get_entry("de");
    ASSERT_NE(rule, nullptr);
    const TldRuleSummary summary = TldRuleSummary::from(*rule);
    EXPECT_EQ(summary.registerable, "restricted");
    EXPECT_FALSE(summary.reason.has_value());
    EXPECT_EQ(summary.restrictions, std::vector<std::string>{"resident"});
    EXPECT_EQ(fields_of(summary.sources), (std::vector<std::string>{"note", "registerable", "restrictions"}));
}

}  // namespace
