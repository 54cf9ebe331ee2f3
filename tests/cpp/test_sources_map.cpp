// The sources of a rule as an ordered map: ascending by UTF-8 bytes, the later
// of two equal keys winning. The shipped table never holds such pairs.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "types.hpp"

namespace {

using Pairs = std::vector<std::pair<std::string, std::string>>;

struct Case {
    const char* name;
    Pairs input;
    Pairs expected;
};

class SourcesMap : public testing::TestWithParam<Case> {};

TEST_P(SourcesMap, OrdersByBytesAndKeepsTheLaterOfEqualKeys) {
    const Case& c = GetParam();
    const korvel::types::SourceMap map = korvel::types::sources_map(c.input);
    EXPECT_EQ(Pairs(map.begin(), map.end()), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SourcesMap,
    testing::Values(
        Case{"empty", {}, {}},
        Case{"in_order", {{"note", "a"}, {"registerable", "b"}}, {{"note", "a"}, {"registerable", "b"}}},
        Case{"out_of_order",
             {{"registerable", "r"}, {"banned", "b"}, {"note", "n"}},
             {{"banned", "b"}, {"note", "n"}, {"registerable", "r"}}},
        Case{"duplicate_later_wins",
             {{"note", "first"}, {"banned", "b"}, {"note", "second"}},
             {{"banned", "b"}, {"note", "second"}}},
        Case{"prefix_first",
             {{"min_length_basis", "x"}, {"min_length", "y"}, {"min", "z"}},
             {{"min", "z"}, {"min_length", "y"}, {"min_length_basis", "x"}}},
        // Bytes compare unsigned: a non-ASCII key sorts after every ASCII key.
        Case{"unsigned_bytes", {{"\xC3\xA9t\xC3\xA9", "e"}, {"zone", "z"}}, {{"zone", "z"}, {"\xC3\xA9t\xC3\xA9", "e"}}}),
    [](const testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

TEST(SourcesMapMove, TakesTheTextsWithoutCopying) {
    std::string long_url(200, 'u');
    Pairs pairs{{"note", long_url}};
    const char* storage = pairs[0].second.data();
    const korvel::types::SourceMap map = korvel::types::sources_map(std::move(pairs));
    EXPECT_EQ(map.at("note").data(), storage);
}

}  // namespace
