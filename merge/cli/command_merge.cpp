#include "cli/command_merge.hpp"

#include <sys/ioctl.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <iterator>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "cli/progress_display.hpp"
#include "cli/signal_cleanup.hpp"
#include "core/merge_report.hpp"
#include "core/message.hpp"
#include "read/input_sources.hpp"

namespace quillet {
namespace {

constexpr int kFailure = -1;

// The signal that asked the merge to stop: the progress callback cancels the merge at its next
// call, which removes the temporary output, and the signal is raised again afterwards. The
// process's own state, kept by the program that owns the process.
volatile std::sig_atomic_t stop_signal = 0;
extern "C" void ask_to_stop(int sig) {
    stop_signal = sig;
}

// Catches SIGINT, SIGTERM and SIGHUP (those not ignored) for as long as it lives, then puts the
// dispositions back and raises the signal that came, if one did.
class StopOnSignal {
  public:
    StopOnSignal() {
        stop_signal = 0;
        for (std::size_t i = 0; i < std::size(kSignals); ++i)
            installed_[i] = catch_signal(kSignals[i], ask_to_stop, previous_[i]);
    }
    ~StopOnSignal() {
        for (std::size_t i = 0; i < std::size(kSignals); ++i)
            if (installed_[i]) sigaction(kSignals[i], &previous_[i], nullptr);
        if (stop_signal != 0) std::raise(stop_signal);
    }
    StopOnSignal(const StopOnSignal&) = delete;
    StopOnSignal& operator=(const StopOnSignal&) = delete;

  private:
    static constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};
    struct sigaction previous_[std::size(kSignals)]{};
    bool installed_[std::size(kSignals)] = {};
};

struct Freer {
    void operator()(korvane_merge* m) const { korvane_merge_free(m); }
};

ProgressStyle style_of(const CommandLine& c, std::FILE* err) {
    if (c.quiet || err == nullptr) return ProgressStyle::None;
    if (c.progress) return ProgressStyle::Lines;
    return ::isatty(::fileno(err)) != 0 ? ProgressStyle::Bar : ProgressStyle::None;
}

std::size_t terminal_width(std::FILE* err) {
    struct winsize size {};
    if (err == nullptr || ::ioctl(::fileno(err), TIOCGWINSZ, &size) != 0) return 0;
    return size.ws_col;
}

double seconds_since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// What the -o form prints, and how: text, or one JSON report at the end.
struct Printer {
    const CommandLine& command;
    std::FILE* out;

    void message(int level, const char* text) const {
        if (command.json) return;
        if (level == 1 || (level == 0 && !command.quiet)) print(out, std::string(text));
    }
    // A refusal before the merge ran: its message, or its report.
    int refusal(const Failure& f, std::chrono::steady_clock::time_point start) const {
        if (command.json) {
            ReportFacts facts;
            facts.status = f.status;
            facts.message = f.text;
            facts.output = command.outputName;
            facts.dry_run = command.dry_run;
            facts.seconds = seconds_since(start);
            print(out, merge_report(facts));
        } else {
            print(out, f.text);
        }
        return kFailure;
    }
};

// The options of the command as the C interface takes them.
std::vector<std::pair<const char*, std::string>> options_of(const CommandLine& c) {
    std::vector<std::pair<const char*, std::string>> options;
    if (c.threads != 0) options.emplace_back("threads", std::to_string(c.threads));
    if (c.rescale) options.emplace_back("rescale", "1");
    if (c.fixed_chunks) options.emplace_back("fixed-chunks", "1");
    if (c.dry_run) options.emplace_back("dry-run", "1");
    if (!c.temp_dir.empty()) options.emplace_back("temp-dir", c.temp_dir);
    if (c.memory != 0) options.emplace_back("memory", std::to_string(c.memory));
    return options;
}

// The closing line: the points and files of the report, the output as given.
std::string closing_line(const CommandLine& c, const char* report, std::size_t files,
                         double seconds) {
    const nlohmann::json r = nlohmann::json::parse(report);
    const auto& schema = r["output"]["schema"];
    const std::uint64_t points = schema.is_object() ? schema["points"].get<std::uint64_t>() : 0;
    const char* noun = files == 1 ? "file" : "files";
    if (c.dry_run)
        return say("Would merge %s points from %zu %s into %s; nothing written\n",
                   with_commas(points).c_str(), files, noun, c.outputName.c_str())
            .text;
    return say("Merged %s points from %zu %s into %s in %.2f s\n", with_commas(points).c_str(),
               files, noun, c.outputName.c_str(), seconds)
        .text;
}

}  // namespace

int run_output_form(const CommandLine& command, std::FILE* out, std::FILE* err, std::FILE* in) {
    const auto start = std::chrono::steady_clock::now();
    Printer printer{command, out};
    const Result<std::vector<std::string>> files = resolve_inputs(command.inputs, in);
    if (!files) return printer.refusal(files.problem(), start);

    const std::unique_ptr<korvane_merge, Freer> m(korvane_merge_new());
    if (!m) return printer.refusal(out_of_memory(say("\nNot enough memory for a merge\n")), start);
    korvane_status s = korvane_merge_set_output(m.get(), command.outputName.c_str());
    for (const std::string& f : *files)
        if (s == KORVANE_OK) s = korvane_merge_add_input(m.get(), f.c_str());
    for (const auto& [name, value] : options_of(command))
        if (s == KORVANE_OK) s = korvane_merge_set_option(m.get(), name, value.c_str());
    if (s != KORVANE_OK) return printer.refusal({s, korvane_merge_error(m.get())}, start);

    korvane_merge_set_messages(
        m.get(),
        [](int level, const char* text, void* user) {
            static_cast<const Printer*>(user)->message(level, text);
        },
        &printer);
    ProgressDisplay display(
        err, style_of(command, err), [start] { return seconds_since(start); }, terminal_width(err));
    korvane_merge_set_progress(
        m.get(),
        [](std::uint64_t done, std::uint64_t total, void* user) {
            static_cast<ProgressDisplay*>(user)->show(done, total);
            return stop_signal == 0 ? 1 : 0;
        },
        &display);
    {
        const StopOnSignal stopping;
        s = korvane_merge_run(m.get());
        display.finish();
        if (command.json)
            print(out, std::string(korvane_merge_report(m.get())));
        else if (s != KORVANE_OK)
            print(out, std::string(korvane_merge_error(m.get())));
        else if (!command.quiet)
            print(out, closing_line(command, korvane_merge_report(m.get()), files->size(),
                                    seconds_since(start)));
        std::fflush(out);
    }
    return s == KORVANE_OK ? 0 : kFailure;
}

}  // namespace quillet
