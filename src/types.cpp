#include "types.hpp"

namespace korvel::types {

// Every stored value is one of the enumerators; the empty text is unreachable
// and only keeps the functions total.
std::string_view text(Registerable value) noexcept {
    switch (value) {
        case Registerable::Yes: return "yes";
        case Registerable::No: return "no";
        case Registerable::Restricted: return "restricted";
    }
    return {};
}

std::string_view text(ClosedReason value) noexcept {
    switch (value) {
        case ClosedReason::BrandTld: return "brand_tld";
        case ClosedReason::Infrastructure: return "infrastructure";
        case ClosedReason::Government: return "government";
        case ClosedReason::Retired: return "retired";
    }
    return {};
}

std::string_view text(LengthBasis value) noexcept {
    switch (value) {
        case LengthBasis::Ascii: return "ascii";
        case LengthBasis::Unicode: return "unicode";
    }
    return {};
}

std::string_view text(Charset value) noexcept {
    switch (value) {
        case Charset::Ascii: return "ascii";
        case Charset::Idn: return "idn";
    }
    return {};
}

namespace {

std::vector<std::string> copy_all(std::span<const std::string_view> items) {
    return {items.begin(), items.end()};
}

}  // namespace

TldRuleSummary TldRuleSummary::from(const TldRule& rule) {
    TldRuleSummary summary{
        .tld = std::string(rule.tld),
        .registerable = std::string(text(rule.registerable)),
        .reason = std::nullopt,
        .note = std::nullopt,
        .restrictions = copy_all(rule.restrictions),
        .min_length = rule.min_length,
        .max_length = rule.max_length,
        .length_basis = std::string(text(rule.length_basis)),
        .banned = copy_all(rule.banned),
        .charset = std::string(text(rule.charset)),
        .idn_chars = std::string(rule.idn_chars),
        .sources = {},
    };
    if (rule.reason) summary.reason.emplace(text(*rule.reason));
    if (rule.note) summary.note.emplace(*rule.note);  // an empty note stays present
    summary.sources.reserve(rule.sources.size());
    for (const SourcePair& pair : rule.sources) summary.sources.emplace_back(pair.field, pair.url);
    return summary;
}

}  // namespace korvel::types
