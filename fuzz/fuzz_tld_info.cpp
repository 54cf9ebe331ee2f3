// Registry::tld_info on arbitrary valid UTF-8: it finds a rule exactly when the
// tidied text (trimmed, leading dots gone, ASCII lowered) is a key, and then
// the rule of that key.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_text.hpp"
#include "generated.hpp"
#include "registry.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace korvel::fuzz;
    const std::string input = repair_utf8({reinterpret_cast<const char*>(data), size});

    std::string_view tidy = trim(input);
    while (!tidy.empty() && tidy.front() == '.') tidy.remove_prefix(1);
    const std::string key = lower_ascii(tidy);

    const korvel::types::TldRule* found = korvel::registry::Registry{}.tld_info(input);
    if (found != nullptr && found->tld != key) fail("a hit on a key other than the tidied text", input);
    if (found != korvel::generated::TLD_RULES.get_entry(key)) fail("hit or miss differs from the table's", input);
    return 0;
}
