#include "core/merge_report.hpp"

#include <nlohmann/json.hpp>

#include "las/extra_bytes.hpp"

namespace quillet {
namespace {

// Keys in the order they are written, the order the manual page lists them.
using json = nlohmann::ordered_json;

// A message or line without the line ends and carriage returns around it.
std::string trimmed(const std::string& text) {
    const std::size_t first = text.find_first_not_of("\r\n");
    if (first == std::string::npos) return {};
    const std::size_t last = text.find_last_not_of("\r\n");
    return text.substr(first, last - first + 1);
}

json lines(const std::vector<std::string>& texts) {
    json list = json::array();
    for (const std::string& t : texts) list.push_back(trimmed(t));
    return list;
}

const char* form_name(const std::string& output) {
    const Result<OutputForm> form = output_form(output);
    if (!form) return nullptr;
    return *form == OutputForm::Copc ? "copc" : *form == OutputForm::Laz ? "laz" : "las";
}

json schema_of(const OutputSchema& s, const std::optional<std::array<double, 6>>& box) {
    json fields = json::array();
    for (const korvane::ExtraBytesField& f : s.extra_fields) fields.push_back(f.name);
    json out = {
        {"version", say("1.%u", unsigned{s.minor}).text},
        {"point_format", s.format},
        {"record_length", s.record_length},
        {"scale", s.scale},
        {"offset", s.offset},
        {"extra_bytes", fields},
        {"points", s.point_count},
    };
    if (box)
        out["box"] = {{"min", {(*box)[0], (*box)[1], (*box)[2]}},
                      {"max", {(*box)[3], (*box)[4], (*box)[5]}}};
    else
        out["box"] = nullptr;
    return out;
}

}  // namespace

std::string merge_report(const ReportFacts& facts) {
    json output = {{"name", facts.output}};
    if (const char* form = form_name(facts.output))
        output["form"] = form;
    else
        output["form"] = nullptr;
    output["schema"] =
        facts.summary.schema ? schema_of(*facts.summary.schema, facts.summary.box) : json(nullptr);

    json inputs = json::array();
    for (const InputSummary& in : facts.summary.inputs)
        inputs.push_back({{"name", in.name},
                          {"points", in.points},
                          {"action", in.action.empty() ? json(nullptr) : json(in.action)}});

    const json report = {
        {"status", korvane_status_name(facts.status)},
        {"message", trimmed(facts.message)},
        {"dry_run", facts.dry_run},
        {"output", output},
        {"inputs", inputs},
        {"plan", lines(facts.plan)},
        {"warnings", lines(facts.warnings)},
        {"seconds", facts.seconds},
    };
    // Bytes that are not UTF-8 (a file name in another encoding) are replaced, not refused.
    return report.dump(-1, ' ', false, json::error_handler_t::replace) + "\n";
}

}  // namespace quillet
