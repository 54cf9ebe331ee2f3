// DNS syntax of a domain name in its ASCII form.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace korvel::checker {

// The longest name, in bytes of its ASCII form.
inline constexpr std::size_t max_domain_length = 253;

// Also the check's answer when the IDNA conversion finds a name too long to encode.
inline constexpr std::string_view domain_too_long = "DNS syntax: domain exceeds 253 characters";

// Nothing when `name` obeys the syntax; otherwise the message of the first rule
// it breaks. One pass over the bytes; the message is the only allocation.
std::optional<std::string> validate_ascii_domain(std::string_view name);

}  // namespace korvel::checker
