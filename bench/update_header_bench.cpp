// Header statistics update against a plain sequential read of the same page-cached file.
//
// The file is named by UPDATE_HEADER_BENCH_FILE (bench/update_header_bench.sh makes one with
// lasgen); without it, a LAS 1.2 tile of UPDATE_HEADER_BENCH_POINTS (default 50,000,000)
// records of 20 bytes, about 1 GB, is written to TMPDIR and removed afterwards. Two
// references are timed in the same run, their runs interleaved at random with those of the
// update: `cat FILE > /dev/null`, and a read() loop with cat's 128 KiB buffer. The update is
// timed with several scan buffer sizes. The medians and the update's ratios to the references
// are printed at the end, with the peak resident set before and after the update runs: it
// grows by about the largest scan buffer, not with the file.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "file_system.hpp"
#include "header_update.hpp"
#include "las_header.hpp"
#include "las_synth.hpp"

extern char** environ;

namespace {

std::string g_path;
long g_rss_before_update_kib = 0;

long peak_rss_kib() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// Writes `count` pseudo-random points of format 0 in chunks, so the file never sits in memory.
void write_tile(const std::string& path, std::uint64_t count) {
    lassynth::LasFile head = lassynth::make_las(2, 0, {}, true);
    head.header.NumberOfPointReturns = static_cast<std::uint32_t>(count);
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    const std::vector<std::byte> prefix = head.bytes();
    f.write(reinterpret_cast<const char*>(prefix.data()),
            static_cast<std::streamsize>(prefix.size()));
    constexpr std::size_t kChunk = 1 << 16;
    std::vector<std::byte> records(kChunk * sizeof(LAS12fm0));
    std::uint32_t seed = 1;
    for (std::uint64_t written = 0; written < count;) {
        const std::size_t n =
            static_cast<std::size_t>(std::min<std::uint64_t>(kChunk, count - written));
        const std::vector<lassynth::Point> points = lassynth::random_points(n, seed++);
        for (std::size_t i = 0; i < n; ++i)
            lassynth::put_record(std::span(records).subspan(i * sizeof(LAS12fm0), sizeof(LAS12fm0)),
                                 0, points[i], static_cast<std::uint32_t>(written + i));
        f.write(reinterpret_cast<const char*>(records.data()),
                static_cast<std::streamsize>(n * sizeof(LAS12fm0)));
        written += n;
    }
    if (!f) {
        std::fprintf(stderr, "cannot write %s\n", path.c_str());
        std::exit(1);
    }
}

std::uint64_t file_size(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return 0;
    return static_cast<std::uint64_t>(st.st_size);
}

// The whole file through a 128 KiB buffer, as cat reads it.
std::uint64_t read_sequentially(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return 0;
    std::vector<char> buffer(128 * 1024);
    std::uint64_t total = 0;
    for (ssize_t got; (got = ::read(fd, buffer.data(), buffer.size())) > 0;)
        total += static_cast<std::uint64_t>(got);
    ::close(fd);
    return total;
}

void BM_Cat(benchmark::State& state) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    char cat[] = "cat";
    std::vector<char> path(g_path.begin(), g_path.end());
    path.push_back('\0');
    char* argv[] = {cat, path.data(), nullptr};
    for (auto _ : state) {
        pid_t pid = 0;
        int status = 0;
        if (posix_spawnp(&pid, "cat", &actions, nullptr, argv, environ) != 0 ||
            ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            state.SkipWithError("cat failed");
            break;
        }
    }
    posix_spawn_file_actions_destroy(&actions);
}

void BM_SequentialRead(benchmark::State& state) {
    const std::uint64_t size = file_size(g_path);
    for (auto _ : state) {
        if (read_sequentially(g_path) != size) {
            state.SkipWithError("short read");
            break;
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * size));
}

void BM_UpdateHeader(benchmark::State& state) {
    if (g_rss_before_update_kib == 0) g_rss_before_update_kib = peak_rss_kib();
    const auto block = static_cast<std::size_t>(state.range(0));
    std::FILE* devnull = std::fopen("/dev/null", "w");
    for (auto _ : state) {
        if (!korvane::update_header(g_path.c_str(), devnull, korvane::system_files(), block)) {
            state.SkipWithError("update_header failed");
            break;
        }
    }
    std::fclose(devnull);
    // The header must now count every record of the file.
    const int fd = ::open(g_path.c_str(), O_RDONLY | O_CLOEXEC);
    const std::optional<LAS12Header> header = korvane::read_header(korvane::system_files(), fd);
    ::close(fd);
    const std::uint64_t records =
        header ? (file_size(g_path) - header->OffsetToData) / header->PointDataRecordLength : 0;
    if (!header || header->NumberOfPointReturns != records)
        state.SkipWithError("the updated header does not count the file's records");
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * file_size(g_path)));
}

// Shows every run as usual and keeps the median real time of each benchmark.
class MedianKeeper : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs)
            if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median")
                medians[run.run_name.function_name +
                        (run.run_name.args.empty() ? "" : "/" + run.run_name.args)] =
                    run.GetAdjustedRealTime();
    }
    std::map<std::string, double> medians;
};

}  // namespace

int main(int argc, char** argv) {
    // Runs of the references and of the update alternate in random order, so that a change in
    // the machine's load falls on all of them alike. Options given on the command line win.
    std::vector<char*> args(argv, argv + argc);
    char interleave[] = "--benchmark_enable_random_interleaving=true";
    args.insert(args.begin() + 1, interleave);
    int arg_count = static_cast<int>(args.size());
    benchmark::Initialize(&arg_count, args.data());
    if (benchmark::ReportUnrecognizedArguments(arg_count, args.data())) return 1;

    bool generated = false;
    if (const char* given = std::getenv("UPDATE_HEADER_BENCH_FILE"); given && *given) {
        g_path = given;
    } else {
        const char* tmp = std::getenv("TMPDIR");
        g_path = std::string(tmp && *tmp ? tmp : "/tmp") + "/update_header_bench_" +
                 std::to_string(::getpid()) + ".las";
        const char* points = std::getenv("UPDATE_HEADER_BENCH_POINTS");
        const std::uint64_t count = points ? std::strtoull(points, nullptr, 10) : 50000000;
        std::printf("writing %llu points to %s\n", static_cast<unsigned long long>(count),
                    g_path.c_str());
        write_tile(g_path, count);
        generated = true;
    }
    const std::uint64_t size = file_size(g_path);
    std::printf("file %s: %.1f MB\n", g_path.c_str(), size / 1e6);
    read_sequentially(g_path);  // into the page cache

    const int repetitions = 15;
    auto timed = [&](benchmark::internal::Benchmark* b) {
        b->Iterations(1)
            ->Repetitions(repetitions)
            ->ReportAggregatesOnly(true)
            ->UseRealTime()
            ->Unit(benchmark::kMillisecond);
    };
    timed(benchmark::RegisterBenchmark("cat", BM_Cat));
    timed(benchmark::RegisterBenchmark("read_128KiB", BM_SequentialRead));
    timed(benchmark::RegisterBenchmark("update_header", BM_UpdateHeader)
              ->Arg(korvane::kScanBlockBytes)
              ->Arg(1 << 20)
              ->Arg(4 << 20));

    MedianKeeper reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const long rss_after_kib = peak_rss_kib();
    if (generated) std::remove(g_path.c_str());

    const auto cat = reporter.medians.find("cat");
    const auto read = reporter.medians.find("read_128KiB");
    std::printf("\nmedians of %d runs, %.1f MB file\n", repetitions, size / 1e6);
    for (const auto& [name, ms] : reporter.medians) {
        std::printf("  %-28s %9.1f ms", name.c_str(), ms);
        if (name.starts_with("update_header")) {
            if (cat != reporter.medians.end()) std::printf("   %.2f x cat", ms / cat->second);
            if (read != reporter.medians.end())
                std::printf("   %.2f x read_128KiB", ms / read->second);
        }
        std::printf("\n");
    }
    std::printf("peak resident set: %ld KiB before the update runs, %ld KiB after them\n",
                g_rss_before_update_kib, rss_after_kib);
    return 0;
}
