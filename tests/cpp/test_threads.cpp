// Many threads through one Registry at once. The converter and the tables are
// shared, so every thread must see exactly the single-threaded answers; the
// ThreadSanitizer build of this file is what proves the sharing is race-free.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <latch>
#include <string>
#include <thread>
#include <vector>

#include "registry.hpp"

namespace {

using korvel::registry::Registry;
using korvel::types::CheckResult;
using korvel::types::TldRule;

constexpr int kThreads = 10;
constexpr int kRounds = 150;

// One input of every kind of road through check and tld_info.
const std::vector<std::string> kDomains = {
    "",
    " \t\u3000",
    "  Example.COM..  ",
    "shop.example.com",
    "com",
    "foo.example",
    "example.\u0440\u0444",
    "example.foo.ck",
    "www.ck",
    "exa_mple.com",
    "\u0301example.com",
    "example.co.uk",
    "ab.co.uk",
    "ZA.sk",
    "example.de",
    "example.test",
    "ex\u00e4mple.com",
    "xn--exmple-cua.com",
    "\uff45\uff58\uff41\uff4d\uff50\uff4c\uff45.com",
    "example\u3002com",
    "example.xn--5su34j936bgsg",
    "\U0001f600.com",
    "\u05d0a.com",
    std::string(64, 'a') + ".com",
    std::string(300, 'b'),
};

const std::vector<std::string> kSuffixes = {
    "test", " TEST\u3000", "...de", "test.", "\u200btest", "example.test", "",
    "\u0440\u0444", "xn--p1ai", "xn--5su34j936bgsg", "*.ck", "www.ck", "ck", "co.uk", "sk",
};

struct Answers {
    std::vector<CheckResult> checks;
    std::vector<const TldRule*> rules;
};

Answers answer_all(const Registry& registry) {
    Answers answers;
    for (const std::string& d : kDomains) answers.checks.push_back(registry.check(d));
    for (const std::string& s : kSuffixes) answers.rules.push_back(registry.tld_info(s));
    return answers;
}

bool same(const CheckResult& a, const CheckResult& b) { return a.status == b.status && a.reasons == b.reasons; }

// Runs every input from kThreads threads released at the same moment, each in
// its own order; records what each thread saw on its first round.
std::vector<Answers> answer_concurrently(const Registry& registry, const Answers* expected,
                                         std::atomic<int>& mismatches) {
    std::vector<Answers> first(kThreads);
    std::latch start(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            first[t].checks.resize(kDomains.size());
            first[t].rules.resize(kSuffixes.size());
            start.arrive_and_wait();
            for (int round = 0; round < kRounds; ++round) {
                for (std::size_t i = 0; i < kDomains.size(); ++i) {
                    const std::size_t k = (i + 7 * t + round) % kDomains.size();
                    CheckResult r = registry.check(kDomains[k]);
                    if (expected != nullptr && !same(r, expected->checks[k])) ++mismatches;
                    if (round == 0) first[t].checks[k] = std::move(r);
                }
                for (std::size_t i = 0; i < kSuffixes.size(); ++i) {
                    const std::size_t k = (i + 3 * t + round) % kSuffixes.size();
                    const TldRule* rule = registry.tld_info(kSuffixes[k]);
                    if (expected != nullptr && rule != expected->rules[k]) ++mismatches;
                    if (round == 0) first[t].rules[k] = rule;
                }
            }
        });
    }
    for (std::thread& th : threads) th.join();
    return first;
}

int count_differences(const std::vector<Answers>& seen, const Answers& expected) {
    int differences = 0;
    for (const Answers& a : seen) {
        for (std::size_t k = 0; k < kDomains.size(); ++k) differences += !same(a.checks[k], expected.checks[k]);
        for (std::size_t k = 0; k < kSuffixes.size(); ++k) differences += a.rules[k] != expected.rules[k];
    }
    return differences;
}

TEST(Threads, ManyThreadsShareOneRegistry) {
    const Registry registry;
    const Answers expected = answer_all(registry);
    std::atomic<int> mismatches{0};
    answer_concurrently(registry, &expected, mismatches);
    EXPECT_EQ(mismatches.load(), 0);
}

// The first check of a process may set up shared state (the converter): here
// the threads make that first use together, in a fresh process, and only then
// is the single-threaded answer taken to compare with.
TEST(Threads, FirstUseFromManyThreadsAtOnce) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            const Registry registry;
            std::atomic<int> unused{0};
            const std::vector<Answers> seen = answer_concurrently(registry, nullptr, unused);
            std::exit(count_differences(seen, answer_all(registry)) == 0 ? 0 : 1);
        },
        testing::ExitedWithCode(0), "");
}

}  // namespace
