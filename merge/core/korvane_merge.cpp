// The C interface of the merge: a request built call by call, run by the extended merge, its
// messages and progress handed to the caller's callbacks. Nothing here prints or ends the
// process, and no C++ exception leaves these functions.
#include <Korvane_LiDAR.h>

#include <chrono>
#include <cstdint>
#include <new>
#include <string>
#include <string_view>

#include "core/extended_merge.hpp"
#include "core/memory_size.hpp"
#include "core/merge_report.hpp"
#include "plan/output_schema.hpp"
#include "write/chunk_pipeline.hpp"

struct korvane_merge {
    quillet::MergeRequest request;
    korvane_progress_fn progress = nullptr;
    void* progress_user = nullptr;
    korvane_message_fn messages = nullptr;
    void* messages_user = nullptr;
    std::string error;  // of the last call that returned a status; "" after a success
    std::uint64_t points = 0;
    std::string report;  // the JSON report of the last run; "" before the first
};

namespace {

using quillet::Failure;
using quillet::say;

// Keeps a call's outcome for korvane_merge_error and returns its status.
korvane_status settle(korvane_merge* m, korvane_status status, std::string text = {}) {
    m->error = std::move(text);
    return status;
}
korvane_status settle(korvane_merge* m, const Failure& f) {
    return settle(m, f.status, f.text);
}

// Runs `body` and turns what it throws (only a failed allocation can) into a status.
template <typename Body>
korvane_status guarded(korvane_merge* m, Body body) {
    if (m == nullptr) return KORVANE_INVALID_REQUEST;
    try {
        return body();
    } catch (const std::bad_alloc&) {
        m->error.clear();  // no memory for a message either
        return KORVANE_OUT_OF_MEMORY;
    }
}

korvane_status invalid(korvane_merge* m, const quillet::Message& why) {
    return settle(m, quillet::invalid_request(why));
}

// "0" or "1".
std::optional<bool> flag_of(std::string_view value) {
    if (value == "0") return false;
    if (value == "1") return true;
    return std::nullopt;
}

}  // namespace

extern "C" {

korvane_merge* korvane_merge_new(void) {
    return new (std::nothrow) korvane_merge{};
}

void korvane_merge_free(korvane_merge* m) {
    delete m;
}

korvane_status korvane_merge_add_input(korvane_merge* m, const char* path) {
    return guarded(m, [&] {
        if (path == nullptr || *path == '\0') return invalid(m, say("\nAn input needs a name\n"));
        m->request.inputs.emplace_back(path);
        return settle(m, KORVANE_OK);
    });
}

korvane_status korvane_merge_set_output(korvane_merge* m, const char* path) {
    return guarded(m, [&] {
        if (path == nullptr || *path == '\0') return invalid(m, say("\nThe output needs a name\n"));
        // The rule and the message of the merge itself, told at once.
        if (const quillet::Result<quillet::OutputForm> form = quillet::output_form(path); !form)
            return settle(m, form.problem());
        m->request.output = path;
        return settle(m, KORVANE_OK);
    });
}

korvane_status korvane_merge_set_option(korvane_merge* m, const char* name, const char* value) {
    return guarded(m, [&] {
        const std::string_view option = name == nullptr ? "" : name;
        const std::string_view text = value == nullptr ? "" : value;
        // A value that the option's parser takes, or its refusal.
        const auto set = [&](const auto& parsed, std::string (*refusal)(std::string_view),
                             auto& into) {
            if (!parsed) return invalid(m, say("\n%s\n", refusal(text).c_str()));
            into = *parsed;
            return settle(m, KORVANE_OK);
        };
        if (option == "threads")
            return set(quillet::thread_count_of(text), quillet::thread_count_refusal,
                       m->request.threads);
        if (option == "memory")
            return set(quillet::memory_size_of(text), quillet::memory_size_refusal,
                       m->request.memory);
        if (option == "temp-dir") {
            m->request.temp_dir = text;
            return settle(m, KORVANE_OK);
        }
        bool* flag = option == "rescale"        ? &m->request.rescale
                     : option == "fixed-chunks" ? &m->request.fixed_chunks
                     : option == "dry-run"      ? &m->request.dry_run
                                                : nullptr;
        if (flag == nullptr)
            return invalid(
                m, say("\nUnknown option %.*s\n", static_cast<int>(option.size()), option.data()));
        const std::optional<bool> on = flag_of(text);
        if (!on)
            return invalid(m, say("\nThe option %.*s takes 0 or 1, not %.*s\n",
                                  static_cast<int>(option.size()), option.data(),
                                  static_cast<int>(text.size()), text.data()));
        *flag = *on;
        return settle(m, KORVANE_OK);
    });
}

void korvane_merge_set_progress(korvane_merge* m, korvane_progress_fn fn, void* user) {
    if (m == nullptr) return;
    m->progress = fn;
    m->progress_user = user;
}

void korvane_merge_set_messages(korvane_merge* m, korvane_message_fn fn, void* user) {
    if (m == nullptr) return;
    m->messages = fn;
    m->messages_user = user;
}

korvane_status korvane_merge_run(korvane_merge* m) {
    return guarded(m, [&] {
        const auto start = std::chrono::steady_clock::now();
        m->points = 0;
        m->report.clear();
        quillet::ReportFacts facts;
        facts.output = m->request.output;
        facts.dry_run = m->request.dry_run;
        // Settles the run's outcome and writes its report.
        auto ended = [&](korvane_status status, std::string text) {
            facts.status = status;
            facts.message = text;
            facts.seconds =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            m->report = quillet::merge_report(facts);
            return settle(m, status, std::move(text));
        };
        if (m->request.output.empty())
            return ended(KORVANE_INVALID_REQUEST, say("\nNo output file named\n").text);
        if (m->request.inputs.empty())
            return ended(KORVANE_INVALID_REQUEST, say("\nNo files to merge\n").text);
        quillet::MergeEvents events;
        events.message = [m, &facts](quillet::Level level, std::string_view text) {
            const std::string line(text);
            if (level == quillet::Level::Information) facts.plan.push_back(line);
            if (level == quillet::Level::Warning) facts.warnings.push_back(line);
            if (m->messages != nullptr)
                m->messages(static_cast<int>(level), line.c_str(), m->messages_user);
        };
        if (m->progress != nullptr)
            events.progress = [m](std::uint64_t done, std::uint64_t total) {
                return m->progress(done, total, m->progress_user) != 0;
            };
        const quillet::Result<std::uint64_t> points = quillet::run_extended_merge(
            m->request, events, korvane::system_files(), &facts.summary);
        if (!points) return ended(points.problem().status, points.problem().text);
        m->points = *points;
        return ended(KORVANE_OK, {});
    });
}

const char* korvane_merge_error(const korvane_merge* m) {
    return m == nullptr ? "" : m->error.c_str();
}

uint64_t korvane_merge_points(const korvane_merge* m) {
    return m == nullptr ? 0 : m->points;
}

const char* korvane_merge_report(const korvane_merge* m) {
    return m == nullptr ? "" : m->report.c_str();
}

const char* korvane_status_name(korvane_status s) {
    switch (s) {
        case KORVANE_OK:
            return "KORVANE_OK";
        case KORVANE_INVALID_REQUEST:
            return "KORVANE_INVALID_REQUEST";
        case KORVANE_BAD_INPUT:
            return "KORVANE_BAD_INPUT";
        case KORVANE_REFUSED:
            return "KORVANE_REFUSED";
        case KORVANE_IO_ERROR:
            return "KORVANE_IO_ERROR";
        case KORVANE_CANCELLED:
            return "KORVANE_CANCELLED";
        case KORVANE_OUT_OF_MEMORY:
            return "KORVANE_OUT_OF_MEMORY";
    }
    return "KORVANE_UNKNOWN_STATUS";
}

}  // extern "C"
