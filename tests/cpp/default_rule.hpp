// A rule with every field at its default value, for tests that build their own rules.
#pragma once

#include <optional>
#include <string_view>

#include "types.hpp"

inline korvel::types::TldRule default_rule(std::string_view tld) {
    using namespace korvel::types;
    return TldRule{.tld = tld,
                   .registerable = Registerable::Yes,
                   .reason = std::nullopt,
                   .note = std::nullopt,
                   .restrictions = {},
                   .min_length = 1,
                   .max_length = 63,
                   .length_basis = LengthBasis::Ascii,
                   .banned = {},
                   .charset = Charset::Ascii,
                   .idn_chars = "",
                   .sources = {}};
}
