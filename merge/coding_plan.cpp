#include "coding_plan.hpp"

#include "file_checks.hpp"
#include "input_differences.hpp"
#include "las/point_formats.hpp"
#include "laz/chunk_codec.hpp"

namespace quillet {
namespace {

namespace laz = korvane::laz;

// The points of the output's chunks, in order: each copied input's chunks, and the chunks of
// each run of encoded inputs.
std::vector<std::uint64_t> output_chunk_points(const MergeJob& job, const CodingPlan& plan) {
    std::vector<std::uint64_t> points;
    std::uint64_t run = 0;
    auto end_run = [&] {
        for (; run >= kEncodedChunkPoints; run -= kEncodedChunkPoints)
            points.push_back(kEncodedChunkPoints);
        if (run > 0) points.push_back(run);
        run = 0;
    };
    for (std::size_t i = 0; i < job.inputs.size(); ++i) {
        if (plan.coding[i] == Coding::Encode || plan.coding[i] == Coding::Reencode) {
            run += job.inputs[i].point_count;
            continue;
        }
        end_run();
        for (const korvane::LazChunk& c : job.inputs[i].chunks) points.push_back(c.points);
    }
    end_run();
    return points;
}

// The chunk size a fixed table can state: 50,000 when the merge encodes, otherwise the size that
// every copied input states (a copied input with variable chunks keeps the table variable).
std::optional<std::uint32_t> fixed_size(const MergeJob& job, const CodingPlan& plan) {
    std::optional<std::uint32_t> size;
    for (const Coding c : plan.coding)
        if (c == Coding::Encode || c == Coding::Reencode) return kEncodedChunkPoints;
    for (std::size_t i = 0; i < job.inputs.size(); ++i) {
        const std::uint32_t s = job.inputs[i].laszip->record.chunk_size;
        if (s == laz::kVariableChunkSize || (size && *size != s)) return std::nullopt;
        size = s;
    }
    return size;
}

// "the first file, NAME" when the first LAZ input is the first file, "the first LAZ file, NAME"
// otherwise.
std::string first_laz_name(const MergeJob& job, std::size_t first) {
    std::string text = first == 0 ? "the first file, " : "the first LAZ file, ";
    text += job.names[first];
    return text;
}

std::optional<Message> unlike_first_laz(const MergeJob& job, std::size_t first, std::size_t i) {
    for (const Difference& x : differences(job.inputs[first], job.inputs[i])) {
        const bool laszip = x.field == Field::LaszipCompressor || x.field == Field::LaszipCoder ||
                            x.field == Field::LaszipOptions || x.field == Field::LaszipItems;
        if (!laszip) continue;
        return say("\n%s of %s is %s; %s, has %s\n", name_of(x.field), job.names[i].c_str(),
                   x.value.c_str(), first_laz_name(job, first).c_str(), x.first_value.c_str());
    }
    return std::nullopt;
}

}  // namespace

std::optional<OutputForm> output_form(const std::string& name, std::FILE* out) {
    // The library's own rule for an extension, asked without its message first.
    std::FILE* quiet = std::fopen("/dev/null", "w");
    const bool las = korvane::check_file_extension(name.c_str(), "las", quiet) >= 0;
    const bool laz = !las && korvane::check_file_extension(name.c_str(), "laz", quiet) >= 0;
    if (quiet != nullptr) std::fclose(quiet);
    if (las) return OutputForm::Las;
    if (laz) return OutputForm::Laz;
    korvane::check_file_extension(name.c_str(), "las", out);
    print(out, say("\nOutput file should have .las or .laz extension\n"));
    return std::nullopt;
}

const char* action_of(Coding coding) {
    switch (coding) {
        case Coding::Copy:
            return "copied";
        case Coding::Decode:
            return "decoded";
        case Coding::Encode:
            return "encoded";
        case Coding::Reencode:
            return "re-encoded";
    }
    return "";
}

Result<CodingPlan> plan_coding(const MergeJob& job, OutputForm form, bool fixed_chunks) {
    CodingPlan plan;
    plan.form = form;
    std::optional<std::size_t> first_laz;
    for (std::size_t i = 0; i < job.inputs.size(); ++i) {
        const InputDescription& d = job.inputs[i];
        if (d.compressed && !first_laz) first_laz = i;
        const bool laz = form == OutputForm::Laz;
        Coding c = Coding::Copy;
        if (d.compressed && !laz) c = Coding::Decode;
        if (d.compressed && laz && fixed_chunks) c = Coding::Reencode;
        if (!d.compressed && laz) c = Coding::Encode;
        plan.coding.push_back(c);
    }
    // Every input decoded must have items the codec implements.
    for (std::size_t i = 0; i < job.inputs.size(); ++i) {
        if (plan.coding[i] != Coding::Decode && plan.coding[i] != Coding::Reencode) continue;
        const laz::LaszipRecord& z = job.inputs[i].laszip->record;
        if (const std::optional<laz::LaszipItem> item = laz::unsupported_item(z))
            return say("\n%s holds LASzip item %s version %u, which Quillet cannot decode\n",
                       job.names[i].c_str(), laz::item_name(item->type).c_str(),
                       unsigned{item->version});
    }
    if (form == OutputForm::Las) return plan;

    // A LAZ output: the LAZ inputs' chunks that go in as they are must share one record.
    if (first_laz && !fixed_chunks)
        for (std::size_t i = *first_laz + 1; i < job.inputs.size(); ++i)
            if (job.inputs[i].compressed)
                if (std::optional<Message> m = unlike_first_laz(job, *first_laz, i)) return *m;
    const InputDescription& first = job.inputs.front();
    if (first_laz) {
        plan.laszip = job.inputs[*first_laz].laszip->record;
        plan.laszip_source = first_laz;
    } else {
        const auto extra = static_cast<std::uint16_t>(first.record_length -
                                                      korvane::base_record_length(first.format));
        plan.laszip = laz::standard_laszip_record(first.format, extra, kEncodedChunkPoints);
    }
    bool encodes = false;
    for (const Coding c : plan.coding) encodes |= c == Coding::Encode || c == Coding::Reencode;
    if (encodes) {
        if (const std::optional<laz::LaszipItem> item = laz::unsupported_item(plan.laszip)) {
            const std::string name = laz::item_name(item->type);
            if (first_laz)
                return say(
                    "\nThe LAS inputs would be compressed with the LASzip items of %s, and "
                    "Quillet cannot encode its item %s version %u\n",
                    job.names[*first_laz].c_str(), name.c_str(), unsigned{item->version});
            return say(
                "\nQuillet cannot encode LASzip item %s version %u, which point format %u "
                "needs\n",
                name.c_str(), unsigned{item->version}, unsigned{first.format});
        }
    }

    const std::vector<std::uint64_t> points = output_chunk_points(job, plan);
    plan.chunk_count = points.size();
    const std::optional<std::uint32_t> size = fixed_size(job, plan);
    plan.fixed_chunks = size.has_value();
    for (std::size_t k = 0; k + 1 < points.size() && plan.fixed_chunks; ++k)
        plan.fixed_chunks = points[k] == *size;
    plan.laszip.chunk_size = plan.fixed_chunks ? *size : laz::kVariableChunkSize;
    plan.laszip.special_evlr_count = -1;
    plan.laszip.special_evlr_offset = -1;
    plan.laszip_payload = first_laz
                              ? laz::rewrite_laszip_record(job.inputs[*first_laz].laszip->payload,
                                                           plan.laszip.chunk_size)
                              : laz::build_laszip_record(plan.laszip);
    return plan;
}

}  // namespace quillet
