// The index-carrying quicksorts on 10 million random keys, against std::sort of (key, index)
// pairs built from the same keys. Only the sorts are timed: refilling the arrays before each
// sort is not. At the end the median times are printed as ratios to std::sort's.
#include <Korvane_LiDAR.h>
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <map>
#include <numeric>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace {

constexpr std::int32_t kKeys = 10'000'000;

const std::vector<std::int32_t>& int_keys() {
    static const std::vector<std::int32_t> keys = [] {
        std::mt19937 rng(12345);
        std::uniform_int_distribution<std::int32_t> any(std::numeric_limits<std::int32_t>::min(),
                                                        std::numeric_limits<std::int32_t>::max());
        std::vector<std::int32_t> k(kKeys);
        for (auto& key : k) key = any(rng);
        return k;
    }();
    return keys;
}

const std::vector<double>& double_keys() {
    static const std::vector<double> keys = [] {
        std::mt19937_64 rng(67890);
        std::uniform_real_distribution<double> any(-1.0e6, 1.0e6);
        std::vector<double> k(kKeys);
        for (auto& key : k) key = any(rng);
        return k;
    }();
    return keys;
}

template <typename Key>
void quicksort_keys(benchmark::State& state, const std::vector<Key>& input,
                    void (*sort)(Key*, std::int32_t, std::int32_t*)) {
    std::vector<Key> keys(input.size());
    std::vector<std::int32_t> ind(input.size());
    for (auto _ : state) {
        state.PauseTiming();
        std::copy(input.begin(), input.end(), keys.begin());
        std::iota(ind.begin(), ind.end(), 0);
        state.ResumeTiming();
        sort(keys.data(), kKeys, ind.data());
        benchmark::ClobberMemory();
    }
    if (!std::is_sorted(keys.begin(), keys.end())) state.SkipWithError("keys not ascending");
}

template <typename Key>
void std_sort_pairs(benchmark::State& state, const std::vector<Key>& input) {
    std::vector<std::pair<Key, std::int32_t>> pairs(input.size());
    for (auto _ : state) {
        state.PauseTiming();
        for (std::size_t k = 0; k < pairs.size(); ++k)
            pairs[k] = {input[k], static_cast<std::int32_t>(k)};
        state.ResumeTiming();
        std::sort(pairs.begin(), pairs.end(),
                  [](const auto& a, const auto& b) { return a.first < b.first; });
        benchmark::ClobberMemory();
    }
}

// Median real and CPU times of one benchmark, in milliseconds.
struct Medians {
    double real = 0;
    double cpu = 0;
};

// The console output (without colours, so that it can be kept in a file), plus the medians of
// each benchmark for the ratios: the reported median aggregate, or the median of the runs when
// no aggregates are reported.
class RatioReporter : public benchmark::ConsoleReporter {
  public:
    RatioReporter() : ConsoleReporter(OO_Tabular) {}

    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.error_occurred) continue;
            const Medians times{run.GetAdjustedRealTime(), run.GetAdjustedCPUTime()};
            const std::string& name = run.run_name.function_name;
            if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median")
                medians_[name] = times;
            else if (run.run_type == Run::RT_Iteration)
                runs_[name].push_back(times);
        }
        ConsoleReporter::ReportRuns(runs);
    }

    Medians medians(const std::string& name) {
        if (const auto it = medians_.find(name); it != medians_.end()) return it->second;
        const std::vector<Medians>& all = runs_[name];
        std::vector<double> real, cpu;
        for (const Medians& m : all) {
            real.push_back(m.real);
            cpu.push_back(m.cpu);
        }
        return {median_of(real), median_of(cpu)};
    }

  private:
    static double median_of(std::vector<double> t) {
        if (t.empty()) return 0;
        std::sort(t.begin(), t.end());
        const std::size_t h = t.size() / 2;
        return t.size() % 2 ? t[h] : (t[h - 1] + t[h]) / 2;
    }

    std::map<std::string, Medians> medians_;
    std::map<std::string, std::vector<Medians>> runs_;
};

}  // namespace

int main(int argc, char** argv) {
    const auto configure = [](benchmark::internal::Benchmark* b) {
        b->Unit(benchmark::kMillisecond)->UseRealTime();
    };
    configure(benchmark::RegisterBenchmark(
        "l_quicksort", [](benchmark::State& s) { quicksort_keys(s, int_keys(), &l_quicksort); }));
    configure(benchmark::RegisterBenchmark(
        "std_sort_int32_pairs", [](benchmark::State& s) { std_sort_pairs(s, int_keys()); }));
    configure(benchmark::RegisterBenchmark("d_quicksort", [](benchmark::State& s) {
        quicksort_keys(s, double_keys(), &d_quicksort);
    }));
    configure(benchmark::RegisterBenchmark(
        "std_sort_double_pairs", [](benchmark::State& s) { std_sort_pairs(s, double_keys()); }));

    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    const std::pair<const char*, const char*> ratios[] = {
        {"l_quicksort", "std_sort_int32_pairs"},
        {"d_quicksort", "std_sort_double_pairs"},
    };
    std::printf("\nMedians relative to std::sort of (key, index) pairs (target <= 1.10):\n");
    for (const auto& [sort, reference] : ratios) {
        const Medians t = reporter.medians(sort);
        const Medians r = reporter.medians(reference);
        if (t.real <= 0 || r.real <= 0 || t.cpu <= 0 || r.cpu <= 0) continue;
        std::printf("  %-12s real %7.1f / %7.1f ms = %.3f x   cpu %7.1f / %7.1f ms = %.3f x\n",
                    sort, t.real, r.real, t.real / r.real, t.cpu, r.cpu, t.cpu / r.cpu);
    }
    return 0;
}
