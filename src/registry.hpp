// The domain check and the rule lookup over the compiled-in tables.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "types.hpp"

namespace korvel::registry {

class Registry {
public:
    // The verdict for any text; never fails.
    types::CheckResult check(std::string_view domain) const;

    // The rule held for a suffix as a user types it, or nullptr.
    const types::TldRule* tld_info(std::string_view tld) const;
};

// Removes the 25 White_Space code points from both ends of a UTF-8 text.
std::string_view trim_white_space(std::string_view text) noexcept;

// The rule stage of a check, for the registrable domain `ascii_name` whose
// public suffix is `suffix` and whose rule is `rule`. Exposed so that rules the
// shipped table never holds can be tested.
types::CheckResult apply_rule(std::string_view ascii_name, std::string_view suffix,
                              std::string_view lowered_input, const types::TldRule& rule);

// Label predicates of the rule stage.
std::string_view registrable_label(std::string_view domain, std::string_view suffix) noexcept;
bool idn_characters_allowed(std::string_view label, std::string_view allowed) noexcept;
std::optional<char32_t> first_disallowed_idn_character(std::string_view label,
                                                       std::string_view allowed) noexcept;
bool label_is_banned(std::string_view label, std::span<const std::string_view> banned) noexcept;

// Why a suffix is closed, or what it requires.
std::string closed_reason(const types::TldRule& rule);
std::string restricted_reason(const types::TldRule& rule);

}  // namespace korvel::registry
