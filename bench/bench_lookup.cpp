// Lookups in the generated tables: the rule table's exact lookup and the
// public suffix walk.
//   cmake -S . -B build/bench -G Ninja -DKORVEL_BENCH=ON -DCMAKE_BUILD_TYPE=Release
//   cmake --build build/bench --target korvel_bench
//   build/bench/bench/korvel_bench --benchmark_filter='get_entry|public_suffix'
#include <benchmark/benchmark.h>

#include <string>
#include <string_view>

#include "generated.hpp"

namespace {

void get_entry(benchmark::State& state, const std::string& key) {
    const std::string_view text = key;
    for (auto _ : state) {
        benchmark::DoNotOptimize(text);
        const auto* rule = korvel::generated::TLD_RULES.get_entry(text);
        benchmark::DoNotOptimize(rule);
    }
}

BENCHMARK_CAPTURE(get_entry, hit_co_uk, std::string("co.uk"));
BENCHMARK_CAPTURE(get_entry, miss_example, std::string("example"));
BENCHMARK_CAPTURE(get_entry, miss_250_bytes, std::string(250, 'a'));

void public_suffix(benchmark::State& state, const std::string& name) {
    const std::string_view text = name;
    for (auto _ : state) {
        benchmark::DoNotOptimize(text);
        const auto match = korvel::generated::public_suffix(text);
        benchmark::DoNotOptimize(match);
    }
}

BENCHMARK_CAPTURE(public_suffix, example_co_uk, std::string("example.co.uk"));

}  // namespace
