// The rule stage of a check, driven through apply_rule with rules the shipped
// table never holds, and the label predicates and reason builders it uses.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "idna.hpp"
#include "registry.hpp"
#include "default_rule.hpp"

namespace {

using korvel::registry::apply_rule;
using korvel::registry::closed_reason;
using korvel::registry::first_disallowed_idn_character;
using korvel::registry::idn_characters_allowed;
using korvel::registry::label_is_banned;
using korvel::registry::registrable_label;
using korvel::registry::restricted_reason;
using korvel::types::Charset;
using korvel::types::CheckResult;
using korvel::types::CheckStatus;
using korvel::types::ClosedReason;
using korvel::types::LengthBasis;
using korvel::types::Registerable;
using korvel::types::TldRule;

using Reasons = std::vector<std::string>;

constexpr std::string_view one_restriction[] = {"resident"};
constexpr std::string_view two_restrictions[] = {"resident", "local presence"};
constexpr std::string_view banned_shop[] = {"other", "SHOP"};

struct Rule {
    TldRule rule = default_rule("example");
    Rule& idn(std::string_view chars) { return rule.charset = Charset::Idn, rule.idn_chars = chars, *this; }
    Rule& unicode() { return rule.length_basis = LengthBasis::Unicode, *this; }
    Rule& lengths(std::uint8_t min, std::uint8_t max) { return rule.min_length = min, rule.max_length = max, *this; }
    Rule& banned() { return rule.banned = banned_shop, *this; }
    Rule& closed(std::optional<ClosedReason> reason = std::nullopt) {
        return rule.registerable = Registerable::No, rule.reason = reason, *this;
    }
    Rule& restricted(std::span<const std::string_view> restrictions = {}) {
        return rule.registerable = Registerable::Restricted, rule.restrictions = restrictions, *this;
    }
    Rule& note(std::string_view text) { return rule.note = text, *this; }
    Rule& tld(std::string_view text) { return rule.tld = text, *this; }
};

const std::string ok = "DNS syntax: ok";
const std::string idn_ok = "TLD rule: IDN characters ok";
const std::string not_banned = "TLD rule: label not in banned list";
std::string length_ok(int min, int max) {
    return "TLD rule: label length ok (" + std::to_string(min) + "-" + std::to_string(max) + ")";
}

struct StageCase {
    std::string name;
    TldRule rule;
    std::string input;  // as the check hands it over: trimmed, ASCII-lowered, before IDNA
    CheckStatus status;
    Reasons reasons;
};

// Runs the stage the way the check does, on the converted form of `input`.
CheckResult run_stage(const StageCase& c) {
    std::string ascii;
    if (korvel::idna::to_ascii(c.input, ascii) != korvel::idna::Outcome::Converted) {
        ADD_FAILURE() << "cannot convert " << c.input;
        return {};
    }
    return apply_rule(ascii, c.rule.tld, c.input, c.rule);
}

TEST(RuleStage, Table) {
    const std::string e_acute_not_allowed =
        "TLD rule: character '\u00e8' (U+00E8) is not allowed under .example (allowed IDN characters: \u00e9)";
    const StageCase cases[] = {
        {"ASCII rule, open", Rule{}.rule, "example.example", CheckStatus::Yes,
         {ok, length_ok(1, 63), not_banned}},
        {"the note never shows in a yes", Rule{}.note("a note").rule, "example.example", CheckStatus::Yes,
         {ok, length_ok(1, 63), not_banned}},
        {"ASCII rule refuses an A-label", Rule{}.rule, "xn--exmple-cua.example", CheckStatus::No,
         {"TLD rule: .example does not support IDN (charset is ASCII only)"}},
        {"ASCII rule refuses a non-ASCII input label", Rule{}.rule, "\uff45x.example", CheckStatus::No,
         {"TLD rule: .example does not support IDN (charset is ASCII only)"}},

        {"IDN without a character list takes ASCII", Rule{}.idn("").rule, "example.example", CheckStatus::Yes,
         {ok, idn_ok, length_ok(1, 63), not_banned}},
        {"IDN without a character list takes anything", Rule{}.idn("").rule, "ex\u00e4mple.example",
         CheckStatus::Yes, {ok, idn_ok, length_ok(1, 63), not_banned}},
        {"listed character", Rule{}.idn("\u00e9").rule, "ex\u00e9mple.example", CheckStatus::Yes,
         {ok, idn_ok, length_ok(1, 63), not_banned}},
        {"unlisted character", Rule{}.idn("\u00e9").rule, "ex\u00e8mple.example", CheckStatus::No,
         {e_acute_not_allowed}},
        {"non-ASCII capitals keep their case", Rule{}.idn("\u00e9").rule, "\u00c9clair.example", CheckStatus::No,
         {"TLD rule: character '\u00c9' (U+00C9) is not allowed under .example (allowed IDN characters: \u00e9)"}},
        {"five hex digits", Rule{}.idn("\u00e9").rule, "a\U0001F600.example", CheckStatus::No,
         {"TLD rule: character '\U0001F600' (U+1F600) is not allowed under .example (allowed IDN characters: "
          "\u00e9)"}},
        {"an unlisted ASCII character names no character", Rule{}.idn("\u00e9").rule, "a_b.example",
         CheckStatus::Yes, {ok, idn_ok, length_ok(1, 63), not_banned}},

        {"ASCII basis counts the A-label's bytes", Rule{}.idn("").lengths(1, 13).rule, "ex\u00e4mple.example",
         CheckStatus::No, {"TLD rule: label too long (max 13, got 14) under .example"}},
        {"A-label at its maximum", Rule{}.idn("").lengths(14, 14).rule, "ex\u00e4mple.example", CheckStatus::Yes,
         {ok, idn_ok, length_ok(14, 14), not_banned}},
        {"Unicode basis counts characters", Rule{}.idn("").unicode().lengths(1, 6).rule, "ex\u00e4mple.example",
         CheckStatus::No, {"TLD rule: label too long (max 6, got 7) under .example"}},
        {"a combining mark counts", Rule{}.idn("").unicode().lengths(3, 63).rule, "e\u0301.example",
         CheckStatus::No, {"TLD rule: label too short (min 3, got 2) under .example"}},
        {"the input label runs over U+3002", Rule{}.idn("").unicode().lengths(1, 7).rule, "ex\u3002ample.example",
         CheckStatus::No, {"TLD rule: label too long (max 7, got 8) under .example"}},
        {"length equal to both bounds", Rule{}.lengths(7, 7).rule, "example.example", CheckStatus::Yes,
         {ok, length_ok(7, 7), not_banned}},
        {"one below the minimum", Rule{}.lengths(8, 63).rule, "example.example", CheckStatus::No,
         {"TLD rule: label too short (min 8, got 7) under .example"}},
        {"one above the maximum", Rule{}.lengths(1, 6).rule, "example.example", CheckStatus::No,
         {"TLD rule: label too long (max 6, got 7) under .example"}},

        {"banned ignoring ASCII case", Rule{}.banned().rule, "shop.example", CheckStatus::No,
         {"TLD rule: label 'shop' is banned under .example"}},
        {"not banned", Rule{}.banned().rule, "shops.example", CheckStatus::Yes, {ok, length_ok(1, 63), not_banned}},

        {"closed: label test first", Rule{}.closed().lengths(3, 63).rule, "ab.example", CheckStatus::No,
         {"TLD rule: label too short (min 3, got 2) under .example"}},
        {"closed: banned test first", Rule{}.closed().banned().rule, "shop.example", CheckStatus::No,
         {"TLD rule: label 'shop' is banned under .example"}},
        {"restricted: IDN test first", Rule{}.restricted(one_restriction).rule, "ex\u00e4mple.example",
         CheckStatus::No, {"TLD rule: .example does not support IDN (charset is ASCII only)"}},
        {"closed, retired", Rule{}.closed(ClosedReason::Retired).rule, "example.example", CheckStatus::No,
         {"TLD rule: .example is a retired TLD, not open for registration"}},
        {"closed without note or reason", Rule{}.closed().rule, "example.example", CheckStatus::No,
         {"TLD rule: .example is not open for registration"}},
        {"closed with a note", Rule{}.closed(ClosedReason::Government).note("Closed.").rule, "example.example",
         CheckStatus::No, {"TLD rule: Closed."}},
        {"restricted without restrictions", Rule{}.restricted().rule, "example.example", CheckStatus::Restricted,
         {"TLD rule: .example requires eligibility"}},
        {"restricted with one", Rule{}.restricted(one_restriction).rule, "example.example", CheckStatus::Restricted,
         {"TLD rule: .example requires eligibility (resident)"}},
        {"restricted with two", Rule{}.restricted(two_restrictions).rule, "example.example",
         CheckStatus::Restricted, {"TLD rule: .example requires eligibility (resident, local presence)"}},
        {"restricted, IDN rule", Rule{}.idn("").restricted().rule, "ex\u00e4mple.example", CheckStatus::Restricted,
         {"TLD rule: .example requires eligibility"}},
    };
    for (const StageCase& c : cases) {
        SCOPED_TRACE(c.name);
        const CheckResult result = run_stage(c);
        EXPECT_EQ(result.status, c.status);
        EXPECT_EQ(result.reasons, c.reasons);
    }
}

// The messages name the rule's suffix, written whole after the dot.
TEST(RuleStage, SeveralLabelSuffix) {
    const TldRule rule = Rule{}.tld("co.example").lengths(3, 63).rule;
    const CheckResult result = apply_rule("ab.co.example", "co.example", "ab.co.example", rule);
    EXPECT_EQ(result.status, CheckStatus::No);
    EXPECT_EQ(result.reasons, Reasons{"TLD rule: label too short (min 3, got 2) under .co.example"});
}

TEST(ClosedReasonMessage, Templates) {
    struct Case {
        std::optional<ClosedReason> reason;
        std::string expected;
    };
    const Case cases[] = {
        {ClosedReason::BrandTld, "TLD rule: .co.example is a brand TLD (ICANN Spec 13), not open for registration"},
        {ClosedReason::Infrastructure, "TLD rule: .co.example is an infrastructure TLD, not open for registration"},
        {ClosedReason::Government, "TLD rule: .co.example is a government TLD, not open for public registration"},
        {ClosedReason::Retired, "TLD rule: .co.example is a retired TLD, not open for registration"},
        {std::nullopt, "TLD rule: .co.example is not open for registration"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expected);
        // Restrictions play no part in a closed message.
        TldRule rule = Rule{}.tld("co.example").closed(c.reason).rule;
        rule.restrictions = two_restrictions;
        EXPECT_EQ(closed_reason(rule), c.expected);
        EXPECT_EQ(closed_reason(Rule{}.tld("co.example").closed(c.reason).note("Brand {} 100%").rule),
                  "TLD rule: Brand {} 100%");
    }
}

TEST(RestrictedReasonMessage, Forms) {
    EXPECT_EQ(restricted_reason(Rule{}.restricted().rule), "TLD rule: .example requires eligibility");
    EXPECT_EQ(restricted_reason(Rule{}.restricted(one_restriction).rule),
              "TLD rule: .example requires eligibility (resident)");
    EXPECT_EQ(restricted_reason(Rule{}.restricted(two_restrictions).rule),
              "TLD rule: .example requires eligibility (resident, local presence)");
    EXPECT_EQ(restricted_reason(Rule{}.restricted(two_restrictions).note(".example needs papers").rule),
              "TLD rule: .example needs papers");
    // A reason plays no part in a restricted message.
    TldRule with_reason = Rule{}.restricted(one_restriction).rule;
    with_reason.reason = ClosedReason::BrandTld;
    EXPECT_EQ(restricted_reason(with_reason), "TLD rule: .example requires eligibility (resident)");
}

// A present but empty note is a note; only an absent one falls back.
TEST(ClosedAndRestrictedReason, EmptyNoteIsNotAbsent) {
    EXPECT_EQ(closed_reason(Rule{}.closed(ClosedReason::Retired).note("").rule), "TLD rule: ");
    EXPECT_EQ(restricted_reason(Rule{}.restricted(one_restriction).note("").rule), "TLD rule: ");
}

TEST(RegistrableLabel, Table) {
    struct Case {
        std::string_view domain, suffix, expected;
    };
    const Case cases[] = {
        {"example.co.uk", "co.uk", "example"},
        {"a.b.example.com", "com", "a.b.example"},
        {"co.uk", "co.uk", "co.uk"},
        {"examplecom", "com", "examplecom"},
        {"example.net", "com", "example.net"},
        {"example.COM", "com", "example.COM"},
        {".com", "com", ""},
        {"om", "com", "om"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.domain) + " / " + std::string(c.suffix));
        const std::string_view result = registrable_label(c.domain, c.suffix);
        EXPECT_EQ(result, c.expected);
        // A view into the domain, never a copy.
        EXPECT_EQ(result.data(), c.domain.data());
    }
}

TEST(IdnCharacters, Table) {
    struct Case {
        std::string_view label, allowed;
        bool allowed_result;
        std::optional<char32_t> first_disallowed;
    };
    const Case cases[] = {
        {"", "\u00e9", true, std::nullopt},
        {"Abc-123", "", true, std::nullopt},
        {"a_b", "", false, std::nullopt},
        {"a_b", "_", true, std::nullopt},
        {"a b", "_", false, std::nullopt},
        {"\u00f1and\u00fa", "\u00f1", false, U'\u00fa'},
        {"\u00f1and\u00fa", "\u00fa\u00f1", true, std::nullopt},
        {"\u00f1and\u00fa", "\u00fa\u00f1\u00f1", true, std::nullopt},
        {"\u00d1", "\u00f1", false, U'\u00d1'},
        {"e\u0301", "\u00e9", false, U'\u0301'},
        {"\U0001F600", "", false, U'\U0001F600'},
        {"_\u00e8\u00e9", "\u00e9", false, U'\u00e8'},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::string(c.label)) + " / " +
                     testing::PrintToString(std::string(c.allowed)));
        EXPECT_EQ(idn_characters_allowed(c.label, c.allowed), c.allowed_result);
        EXPECT_EQ(first_disallowed_idn_character(c.label, c.allowed), c.first_disallowed);
    }
}

TEST(LabelIsBanned, Table) {
    constexpr std::string_view shop[] = {"shop"};
    constexpr std::string_view upper_shop[] = {"SHOP"};
    constexpr std::string_view capital_e_acute[] = {"\u00c9"};
    constexpr std::string_view several[] = {"a", "shops", "Za"};
    EXPECT_FALSE(label_is_banned("shop", {}));
    EXPECT_TRUE(label_is_banned("Shop", shop));
    EXPECT_TRUE(label_is_banned("shop", upper_shop));
    EXPECT_FALSE(label_is_banned("shops", shop));
    EXPECT_FALSE(label_is_banned("sho", shop));
    EXPECT_FALSE(label_is_banned("\u00e9", capital_e_acute));
    EXPECT_TRUE(label_is_banned("zA", several));
    EXPECT_FALSE(label_is_banned("", several));
}

}  // namespace
