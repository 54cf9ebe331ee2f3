#include "registry.hpp"

#include <cstddef>
#include <initializer_list>

#include "checker.hpp"
#include "generated.hpp"
#include "idna.hpp"

namespace korvel::registry {

using types::Charset;
using types::CheckResult;
using types::CheckStatus;
using types::ClosedReason;
using types::LengthBasis;
using types::Registerable;
using types::TldRule;
using idna::next_code_point;

namespace {

// --- small text helpers -----------------------------------------------------

constexpr char ascii_lower(char c) noexcept {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

void lower_ascii_in_place(std::string& text) noexcept {
    for (char& c : text) c = ascii_lower(c);
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

std::size_t code_point_count(std::string_view text) noexcept {
    std::size_t count = 0;
    for (std::size_t i = 0; i < text.size(); ++count) next_code_point(text, i);
    return count;
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

// --- messages -------------------------------------------------------------------

constexpr std::string_view em_dash = "\u2014";

std::string_view last_label(std::string_view name) noexcept {
    const std::size_t dot = name.rfind('.');
    return dot == std::string_view::npos ? name : name.substr(dot + 1);
}

}  // namespace

// --- the check ------------------------------------------------------------------

std::string_view trim_white_space(std::string_view text) noexcept {
    const auto bytes = [&] { return reinterpret_cast<const unsigned char*>(text.data()); };
    while (const std::size_t length = white_space_at_start(bytes(), text.size())) text.remove_prefix(length);
    while (const std::size_t length = white_space_at_end(bytes(), text.size())) text.remove_suffix(length);
    return text;
}

CheckResult Registry::check(std::string_view domain) const {
    std::string_view text = trim_white_space(domain);
    while (!text.empty() && text.back() == '.') text.remove_suffix(1);
    if (text.empty()) return single(CheckStatus::No, "DNS syntax: empty domain");
    // Decided before the copy: the conversion refuses such a text anyway.
    if (text.size() > idna::max_text_bytes) return single(CheckStatus::No, "DNS syntax: invalid IDNA input");

    std::string lowered(text);
    lower_ascii_in_place(lowered);

    std::string ascii;
    switch (idna::to_ascii(lowered, ascii)) {
        case idna::Outcome::Invalid: return single(CheckStatus::No, "DNS syntax: invalid IDNA input");
        case idna::Outcome::TooLong: return single(CheckStatus::No, std::string(checker::domain_too_long));
        case idna::Outcome::Converted: break;
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
                idna::append_utf8(character, *c);
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
