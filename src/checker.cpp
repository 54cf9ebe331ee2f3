#include "checker.hpp"

#include <cstddef>

namespace korvel::checker {

namespace {

constexpr std::size_t max_label_length = 63;

constexpr bool is_label_byte(char c) noexcept {
    return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-';
}

}  // namespace

std::optional<std::string> validate_ascii_domain(std::string_view name) {
    if (name.empty()) return "DNS syntax: empty domain";
    // Before any label test, so an over-long text reports its length whatever it holds.
    if (name.size() > max_domain_length) return std::string(domain_too_long);

    const std::size_t n = name.size();
    std::size_t start = 0;
    while (true) {
        // Split off one label, noting a refused byte on the way; the tests below
        // then run in their fixed order on that label alone.
        std::size_t end = start;
        bool refused_byte = false;
        while (end < n && name[end] != '.') {
            refused_byte |= !is_label_byte(name[end]);
            ++end;
        }
        const std::size_t length = end - start;
        if (length == 0) return "DNS syntax: empty label";
        if (length > max_label_length) return "DNS syntax: label exceeds 63 characters";
        if (name[start] == '-' || name[end - 1] == '-')
            return "DNS syntax: label cannot start or end with a hyphen";
        if (refused_byte) return "DNS syntax: label contains invalid characters";
        if (end == n) return std::nullopt;
        start = end + 1;  // past the '.'; a trailing '.' yields an empty last label
    }
}

}  // namespace korvel::checker
