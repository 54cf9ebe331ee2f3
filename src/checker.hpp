// DNS syntax of a domain name in its ASCII form.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace korvel::checker {

// Nothing when `name` obeys the syntax; otherwise the message of the first rule
// it breaks. One pass over the bytes; the message is the only allocation.
std::optional<std::string> validate_ascii_domain(std::string_view name);

}  // namespace korvel::checker
