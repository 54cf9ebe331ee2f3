// Registry::check on arbitrary valid UTF-8: whatever the text, the verdict
// keeps the shape every caller relies on.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_text.hpp"
#include "registry.hpp"

namespace {

using korvel::fuzz::fail;
using korvel::types::CheckResult;
using korvel::types::CheckStatus;

bool starts_with(std::string_view s, std::string_view prefix) { return s.substr(0, prefix.size()) == prefix; }

// Every message belongs to one of the catalogue's families.
bool known_message(std::string_view r) {
    return starts_with(r, "DNS syntax: ") || starts_with(r, "TLD rule: ") ||
           starts_with(r, "No data available for TLD '") ||
           starts_with(r, "no registrable label found \xE2\x80\x94 '") ||
           (starts_with(r, "'") && r.find("' is a subdomain of '") != std::string_view::npos);
}

void check_shape(const CheckResult& result, std::string_view input) {
    const auto status = static_cast<unsigned>(result.status);
    if (status > 3) fail("status outside 0..3", input);
    if (result.reasons.empty()) fail("no reason", input);
    if (result.status == CheckStatus::Yes) {
        if (result.reasons.front() != "DNS syntax: ok") fail("a yes that does not begin with \"DNS syntax: ok\"", input);
        if (result.reasons.size() < 3 || result.reasons.size() > 4) fail("a yes without 3 or 4 reasons", input);
        if (result.reasons.back() != "TLD rule: label not in banned list") fail("a yes not ending on the banned test", input);
    } else if (result.reasons.size() != 1) {
        fail("more than one reason on a verdict other than yes", input);
    }
    for (const std::string& reason : result.reasons) {
        if (reason.find("{}") != std::string::npos || reason.find("{:") != std::string::npos)
            fail("a placeholder left in a reason", input);
        // The binding turns each reason into a str; invalid UTF-8 would fault there.
        if (!korvel::fuzz::valid_utf8(reason)) fail("a reason that is not valid UTF-8", input);
        if (!known_message(reason)) fail("a reason outside the message catalogue", input);
    }
}

bool same(const CheckResult& a, const CheckResult& b) { return a.status == b.status && a.reasons == b.reasons; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string input = korvel::fuzz::repair_utf8({reinterpret_cast<const char*>(data), size});
    const korvel::registry::Registry registry;

    const CheckResult result = registry.check(input);
    check_shape(result, input);

    // White space around the text and the case of ASCII letters never change a verdict.
    if (!same(registry.check("\xE3\x80\x80 " + input + "\t\xC2\xA0"), result))
        fail("white space around the text changed the verdict", input);
    if (!same(registry.check(korvel::fuzz::upper_ascii(input)), result))
        fail("upper-case ASCII letters changed the verdict", input);
    return 0;
}
