#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "checker.hpp"

namespace {

using korvel::checker::validate_ascii_domain;
using namespace std::string_literals;

const std::string empty_domain = "DNS syntax: empty domain";
const std::string too_long = "DNS syntax: domain exceeds 253 characters";
const std::string empty_label = "DNS syntax: empty label";
const std::string label_too_long = "DNS syntax: label exceeds 63 characters";
const std::string hyphen = "DNS syntax: label cannot start or end with a hyphen";
const std::string invalid = "DNS syntax: label contains invalid characters";

std::string label(std::size_t n, char c = 'a') { return std::string(n, c); }

struct Case {
    std::string name;
    std::string input;
    std::optional<std::string> expected;  // nothing: the name passes
};

TEST(ValidateAsciiDomain, Table) {
    const Case cases[] = {
        {"empty text", "", empty_domain},
        {"single dot", ".", empty_label},
        {"leading dot", ".example.com", empty_label},
        {"two dots in a row", "example..com", empty_label},
        {"trailing dot", "example.com.", empty_label},
        {"253 bytes", label(63) + "." + label(63) + "." + label(63) + "." + label(61), std::nullopt},
        {"254 bytes", label(63) + "." + label(63) + "." + label(63) + "." + label(62), too_long},
        {"one label of 253 bytes", label(253), label_too_long},
        {"254 dots", label(254, '.'), too_long},
        {"over-long text of refused bytes", label(300, '_'), too_long},
        {"63-byte label then a short one", label(63) + ".com", std::nullopt},
        {"64-byte label then a short one", label(64) + ".com", label_too_long},
        {"64-byte label in last place", "com." + label(64), label_too_long},
        {"leading hyphen", "-example.com", hyphen},
        {"trailing hyphen", "example-.com", hyphen},
        {"lone hyphen", "-.com", hyphen},
        {"hyphen at end of last label", "example.co-", hyphen},
        {"inner hyphens, also at 3 and 4", "ab--cd.e-x-a---mple.com", std::nullopt},
        {"underscore", "exa_mple.com", invalid},
        {"upper-case letter", "Example.com", invalid},
        {"space", "exa mple.com", invalid},
        {"NUL byte", "exa\0mple.com"s, invalid},
        {"byte 0x80", "exa\x80mple.com", invalid},
        {"byte 0xFF", "example.co\xff", invalid},
        {"two-byte character", "ex\xc3\xa4mple.com", invalid},
        {"'*' label", "*.example.com", invalid},
        {"first label reported before the second", "a_b.-c.com", invalid},
        {"hyphen reported before the byte scan", "-_.com", hyphen},
        {"length reported before the byte scan", label(63) + "_.com", label_too_long},
        {"empty label reported before a later fault", "a..b_c", empty_label},
        {"single label", "localhost", std::nullopt},
        {"all-digit labels", "123.456", std::nullopt},
        {"xn-- label", "xn--exmple-cua.com", std::nullopt},
        {"62 letters and a two-byte character", label(62) + "\xc3\xa4" + ".com", label_too_long},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(validate_ascii_domain(c.input), c.expected);
    }
}

}  // namespace
