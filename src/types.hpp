// The rule record, its enumerations, the owned rule summary and the check result.
// Rules are static, constant-initialised data: every text and list is a view into
// read-only storage, so a TldRule can be built in a constant expression.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace korvel::types {

enum class Registerable : std::uint8_t { Yes = 0, No = 1, Restricted = 2 };
enum class ClosedReason : std::uint8_t { BrandTld = 0, Infrastructure = 1, Government = 2, Retired = 3 };
enum class LengthBasis : std::uint8_t { Ascii = 0, Unicode = 1 };
enum class Charset : std::uint8_t { Ascii = 0, Idn = 1 };

std::string_view text(Registerable value) noexcept;
std::string_view text(ClosedReason value) noexcept;
std::string_view text(LengthBasis value) noexcept;
std::string_view text(Charset value) noexcept;

// (field name, URL of the public document that states the field's value)
struct SourcePair {
    std::string_view field;
    std::string_view url;
};

struct TldRule {
    std::string_view tld;
    Registerable registerable;
    std::optional<ClosedReason> reason;
    std::optional<std::string_view> note;  // absent differs from empty
    std::span<const std::string_view> restrictions;
    std::uint8_t min_length;
    std::uint8_t max_length;
    LengthBasis length_basis;
    std::span<const std::string_view> banned;
    Charset charset;
    std::string_view idn_chars;
    std::span<const SourcePair> sources;  // ascending by field name
};

// An owned copy of a rule with every enumeration as its text, for callers that
// must not hold references into the table.
struct TldRuleSummary {
    std::string tld;
    std::string registerable;
    std::optional<std::string> reason;
    std::optional<std::string> note;
    std::vector<std::string> restrictions;
    std::uint8_t min_length;
    std::uint8_t max_length;
    std::string length_basis;
    std::vector<std::string> banned;
    std::string charset;
    std::string idn_chars;
    std::vector<std::pair<std::string, std::string>> sources;

    static TldRuleSummary from(const TldRule& rule);
};

enum class CheckStatus : std::uint8_t { Yes = 0, No = 1, Restricted = 2, Unknown = 3 };

struct CheckResult {
    CheckStatus status;
    std::vector<std::string> reasons;  // never empty; exactly one unless status is Yes
};

// --- Sources as an ordered map ----------------------------------------------
// Used by the Python layer for TldInfo.sources; here so that it is testable
// without an interpreter.

// std::string orders by unsigned bytes, so keys ascend by code point.
using SourceMap = std::map<std::string, std::string>;

// The (field, reference) pairs as a map ascending by key. Of pairs with equal
// keys the later one wins. The texts are moved, not copied.
inline SourceMap sources_map(std::vector<std::pair<std::string, std::string>> pairs) {
    SourceMap map;
    for (auto& [field, reference] : pairs) map.insert_or_assign(std::move(field), std::move(reference));
    return map;
}

}  // namespace korvel::types
