// The domain check and the rule query on representative inputs.
//   .venv/bin/cmake -S . -B build/bench -G Ninja -DKORVEL_BENCH=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPython_EXECUTABLE=.venv/bin/python
//   .venv/bin/cmake --build build/bench --target korvel_bench && build/bench/bench/korvel_bench
#include <benchmark/benchmark.h>

#include <string>

#include "checker.hpp"
#include "registry.hpp"

namespace {

const korvel::registry::Registry registry;

void check(benchmark::State& state, const std::string& domain) {
    for (auto _ : state) {
        korvel::types::CheckResult result = registry.check(domain);
        benchmark::DoNotOptimize(result);
    }
}

std::string many_labels(int count) {
    std::string name = "a";
    for (int i = 1; i < count; ++i) name += ".a";
    return name;
}

BENCHMARK_CAPTURE(check, example_com, std::string("example.com"));
BENCHMARK_CAPTURE(check, spaced_capitals, std::string(" Example.COM. "));
BENCHMARK_CAPTURE(check, subdomain, std::string("shop.example.com"));
BENCHMARK_CAPTURE(check, idn_label, std::string("ex\u00e4mple.com"));
BENCHMARK_CAPTURE(check, idn_suffix, std::string("example.\u0440\u0444"));
BENCHMARK_CAPTURE(check, too_short, std::string("ab.co.uk"));
BENCHMARK_CAPTURE(check, invalid, std::string("exa_mple.com"));
BENCHMARK_CAPTURE(check, labels_64, many_labels(64));
BENCHMARK_CAPTURE(check, text_10k, std::string(10 * 1024, 'a'));

void validate(benchmark::State& state, const std::string& name) {
    for (auto _ : state) {
        auto result = korvel::checker::validate_ascii_domain(name);
        benchmark::DoNotOptimize(result);
    }
}

BENCHMARK_CAPTURE(validate, example_com, std::string("example.com"));
BENCHMARK_CAPTURE(validate, labels_64, many_labels(64));

void tld_info(benchmark::State& state, const std::string& tld) {
    for (auto _ : state) benchmark::DoNotOptimize(registry.tld_info(tld));
}

BENCHMARK_CAPTURE(tld_info, co_uk, std::string("co.uk"));

}  // namespace
