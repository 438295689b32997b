// make_seeds: writes the seed corpora of the fuzz targets, one directory per target, from
// synthetic LAS files and, when a samples directory is given, from real files cut down to a few
// records.
//
//   make_seeds OUTPUT_DIR [SAMPLES_DIR]
#include <Korvane_LiDAR.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "byte_fields.hpp"
#include "las_synth.hpp"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::byte>;
using testing_support::get;
using testing_support::put;

class Corpus {
  public:
    Corpus(const fs::path& root, const std::string& target) : dir_(root / target) {
        fs::create_directories(dir_);
    }
    void add(const Bytes& seed) {
        lassynth::write_bytes((dir_ / ("seed-" + std::to_string(count_++))).string(), seed);
    }
    void add(std::string_view text) {
        add(Bytes(reinterpret_cast<const std::byte*>(text.data()),
                  reinterpret_cast<const std::byte*>(text.data()) + text.size()));
    }
    int count() const { return count_; }

  private:
    fs::path dir_;
    int count_ = 0;
};

Bytes tile(std::uint8_t minor, std::uint8_t format, std::size_t points, std::uint32_t seed,
           bool with_vlr = true) {
    return lassynth::make_las(
               minor, format,
               lassynth::random_points(points, seed, static_cast<int>(seed) * 500, 0, 5000),
               with_vlr)
        .bytes();
}

Bytes joined(const std::vector<Bytes>& parts) {
    static constexpr std::string_view kSeparator = "|QUILLET|";
    Bytes out;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        if (i > 0)
            for (const char c : kSeparator) out.push_back(static_cast<std::byte>(c));
        out.insert(out.end(), parts[i].begin(), parts[i].end());
    }
    return out;
}

// A real file cut down to `keep` records starting at record `first`, its header stating them.
// Nothing when the file is not a LAS file of a handled type or its records start too far in.
std::optional<Bytes> cut_sample(const Bytes& file, std::uint32_t first, std::uint32_t keep) {
    if (file.size() < sizeof(LAS12Header) || std::memcmp(file.data(), "LASF", 4) != 0) return {};
    const auto offset = get<std::uint32_t>(file, offsetof(LAS12Header, OffsetToData));
    const auto length = get<std::uint16_t>(file, offsetof(LAS12Header, PointDataRecordLength));
    const auto points = get<std::uint32_t>(file, offsetof(LAS12Header, NumberOfPointReturns));
    if (offset < sizeof(LAS12Header) || offset > 8192 || length == 0) return {};
    const std::uint64_t available =
        (file.size() - std::min<std::size_t>(file.size(), offset)) / length;
    const std::uint64_t start = std::min<std::uint64_t>({first, points, available});
    const std::uint64_t n = std::min<std::uint64_t>({keep, points - start, available - start});
    Bytes out(file.begin(), file.begin() + offset);
    const auto from = file.begin() + static_cast<std::ptrdiff_t>(offset + start * length);
    out.insert(out.end(), from, from + static_cast<std::ptrdiff_t>(n * length));
    put<std::uint32_t>(out, offsetof(LAS12Header, NumberOfPointReturns),
                       static_cast<std::uint32_t>(n));
    return out;
}

// LAS 1.3 and 1.4 files of every extended format, with and without extra bytes and EVLRs,
// and the small LAZ samples whole.
void description_seeds(Corpus& c, const std::vector<Bytes>& laz) {
    const std::vector<lassynth::Point> points = lassynth::random_points(6, 3);
    for (const std::uint8_t format : {0, 1, 3, 6, 7, 8}) {
        lassynth::LasFile f = lassynth::make_las_extended(4, format, points, format % 3);
        c.add(f.bytes());
        const Bytes note = {std::byte{'w'}, std::byte{'k'}, std::byte{'t'}};
        const Bytes record = lassynth::evlr("LASF_Projection", 2112, note);
        f.after = record;
        f.set_extension_u32(243, 1);
        f.lay_out();
        c.add(f.bytes());
    }
    c.add(lassynth::make_las_extended(3, 1, points).bytes());
    for (const Bytes& file : laz) c.add(file);
}

// Chunk tables: a kind byte (bit 0: variable), a count byte (entries / 3), the coded entries.
void chunk_table_seeds(Corpus& c) {
    // The two tables that LASzip's writer coded: 2 variable entries and 6 fixed ones.
    c.add(Bytes{std::byte{1}, std::byte{1}, std::byte{0x69}, std::byte{0xe2}, std::byte{0xcc},
                std::byte{0x5b}, std::byte{0x22}, std::byte{0x41}, std::byte{0xe2}, std::byte{0xa7},
                std::byte{0}, std::byte{0}, std::byte{0}});
    c.add(Bytes{std::byte{0}, std::byte{2}, std::byte{0x78}, std::byte{0x59}, std::byte{0x04},
                std::byte{0x96}, std::byte{0x80}, std::byte{0xb8}, std::byte{0x59}, std::byte{0x97},
                std::byte{0xd7}, std::byte{0x9a}, std::byte{0x6f}, std::byte{0x2a}, std::byte{0x9c},
                std::byte{0}, std::byte{0}, std::byte{0}});
}

void classify_seeds(Corpus& c, const std::vector<Bytes>& samples) {
    for (std::uint8_t minor = 0; minor <= 2; ++minor)
        for (std::uint8_t format = 0; format <= 3; ++format) {
            Bytes b = tile(minor, format, 0, 1, false);
            c.add(b);
            b.resize(107);
            put<std::uint16_t>(b, 105,
                               static_cast<std::uint16_t>(b[105] == std::byte{20} ? 28 : 20));
            c.add(b);
        }
    Bytes h = tile(2, 1, 0, 1, false);
    for (const auto& [at, value] : {std::pair{24, 2}, {25, 3}, {104, 4}, {0, int{'X'}}}) {
        Bytes b = h;
        b[static_cast<std::size_t>(at)] = static_cast<std::byte>(value);
        c.add(b);
    }
    for (const std::size_t cut : {3, 24, 25, 26, 104, 105, 106})
        c.add(Bytes(h.begin(), h.begin() + cut));
    for (const Bytes& s : samples)
        c.add(Bytes(s.begin(), s.begin() + std::min<std::size_t>(s.size(), 227)));
}

void header_update_seeds(Corpus& c, const std::vector<Bytes>& samples) {
    // The first byte: scan buffer size (bits 0 to 2) and injected failure (bits 3 to 5).
    static constexpr std::uint8_t kControls[] = {0x07, 0x01, 0x1e, 0x21, 0x2e, 0x36, 0x3e, 0x46};
    int i = 0;
    for (std::uint8_t minor = 0; minor <= 2; ++minor)
        for (std::uint8_t format = 0; format <= 3; ++format)
            for (const std::size_t points : {0, 1, 7, 30}) {
                Bytes b{static_cast<std::byte>(kControls[i++ % 8])};
                const Bytes t =
                    tile(minor, format, points, static_cast<std::uint32_t>(i), i % 2 == 0);
                b.insert(b.end(), t.begin(), t.end());
                if (points == 7) b.push_back(std::byte{0x5a});  // a partial record at the end
                c.add(b);
            }
    for (const Bytes& s : samples)
        if (const std::optional<Bytes> cut = cut_sample(s, 0, 12)) {
            Bytes b{static_cast<std::byte>(kControls[i++ % 8])};
            b.insert(b.end(), cut->begin(), cut->end());
            c.add(b);
        }
}

void merge_seeds(Corpus& c, const std::vector<Bytes>& samples) {
    for (std::uint8_t minor = 0; minor <= 2; ++minor)
        for (std::uint8_t format = 0; format <= (minor == 2 ? 3 : 1); ++format) {
            const auto seed = static_cast<std::uint32_t>(minor * 4 + format);
            c.add(joined({tile(minor, format, 5, seed), tile(minor, format, 3, seed + 1, false)}));
            c.add(joined({tile(minor, format, 0, seed), tile(minor, format, 9, seed + 2),
                          tile(minor, format, 4, seed + 3)}));
        }
    // Files that must be refused: different types, a different scale, a short file.
    c.add(joined({tile(2, 1, 4, 1), tile(1, 1, 4, 2)}));
    Bytes scaled = tile(2, 0, 4, 3);
    put<double>(scaled, offsetof(LAS12Header, XScaleFactor), 0.001);
    c.add(joined({tile(2, 0, 4, 4), scaled}));
    Bytes short_file = tile(2, 0, 4, 5);
    short_file.resize(short_file.size() - 3);
    c.add(joined({tile(2, 0, 4, 6), short_file, tile(2, 0, 2, 7)}));
    c.add(tile(2, 3, 6, 8));  // one file, listed twice
    for (const Bytes& s : samples) {
        const std::optional<Bytes> a = cut_sample(s, 0, 6);
        const std::optional<Bytes> b = cut_sample(s, 6, 4);
        if (a && b) c.add(joined({*a, *b}));
    }
}

void argument_seeds(Corpus& c) {
    for (const std::string_view s : {"",
                                     "5",
                                     "-5",
                                     "5-",
                                     "1-2",
                                     "-.",
                                     "3.",
                                     ".5",
                                     "-.5",
                                     "0.5-",
                                     ".",
                                     "-",
                                     "1.2.3",
                                     "--1",
                                     "+1",
                                     "1e3",
                                     " 1",
                                     "12a",
                                     "1,5",
                                     "\xe9",
                                     "Y",
                                     "N",
                                     "y",
                                     "n",
                                     "Yes",
                                     "YN",
                                     "n ",
                                     "x.asc",
                                     "tiles/dem01.asc",
                                     "x.ASC",
                                     "x.FLT",
                                     "abc",
                                     "x.txt",
                                     "xasc",
                                     "ab.asc"})
        c.add(s);
    using namespace std::string_view_literals;
    c.add("x.flt\0\1"sv);  // the ".hdr" file can be opened
    c.add("x.flt\0\0"sv);
    c.add("tiles/dem01.flt\0\1"sv);
}

void quicksort_seeds(Corpus& c) {
    const std::vector<std::int32_t> ints = {5, -3, 2, 2, 9, 0, -7,        4,        4,
                                            1, 1,  7, 7, 7, 7, INT32_MIN, INT32_MAX};
    const std::vector<double> doubles = {3, 1, std::nan(""), 2, 0, -0.0, 0.0, 1e300, -1e-300};
    for (std::uint8_t function = 0; function < 4; ++function)
        for (const std::uint8_t deep : {0, 1, 2, 15, 0xff}) {
            Bytes b{static_cast<std::byte>(function << 1), static_cast<std::byte>(deep),
                    std::byte{1}, std::byte{14}};
            const auto* k = reinterpret_cast<const std::byte*>(ints.data());
            b.insert(b.end(), k, k + ints.size() * 4);
            c.add(b);
            b.resize(4);
            b[0] |= std::byte{1};
            const auto* d = reinterpret_cast<const std::byte*>(doubles.data());
            b.insert(b.end(), d, d + doubles.size() * 8);
            c.add(b);
        }
}

}  // namespace

// The point-wise chunk targets: the first chunk of each small LAZ sample of formats 0-3, cut to a
// few thousand bytes, behind the target's choice of items, point count and piece; and the first
// records of the LAS samples of formats 0-3 behind the round trip's choice of items and batches.
void pointwise_seeds(Corpus& decoder, Corpus& round_trip, const std::vector<Bytes>& laz,
                     const std::vector<Bytes>& samples) {
    static constexpr std::size_t kBase[] = {20, 28, 26, 34};
    auto selector = [](const Bytes& file, Bytes& out) {
        if (file.size() < 227 || std::memcmp(file.data(), "LASF", 4) != 0) return false;
        const auto format = static_cast<std::uint8_t>(std::to_integer<unsigned>(file[104]) & 0x3Fu);
        const auto length = get<std::uint16_t>(file, 105);
        if (format > 3 || length < kBase[format] || length - kBase[format] > 63) return false;
        out.push_back(static_cast<std::byte>(format | ((length - kBase[format]) << 2)));
        return true;
    };
    for (const Bytes& file : laz) {
        Bytes seed;
        if (!selector(file, seed)) continue;
        const std::size_t at = get<std::uint32_t>(file, 96) + std::size_t{8};
        if (at >= file.size()) continue;
        const std::size_t n = std::min<std::size_t>(3000, file.size() - at);
        const auto points = static_cast<std::uint16_t>(n / 20);
        seed.push_back(static_cast<std::byte>(points & 0xFF));
        seed.push_back(static_cast<std::byte>(points >> 8));
        seed.push_back(std::byte{63});
        seed.insert(seed.end(), file.begin() + static_cast<std::ptrdiff_t>(at),
                    file.begin() + static_cast<std::ptrdiff_t>(at + n));
        decoder.add(seed);
    }
    for (const Bytes& file : samples) {
        Bytes seed;
        if (!selector(file, seed)) continue;
        const std::size_t at = get<std::uint32_t>(file, 96);
        const std::size_t n = std::min<std::size_t>(std::size_t{30} * get<std::uint16_t>(file, 105),
                                                    file.size() - std::min(at, file.size()));
        seed.push_back(std::byte{7});
        seed.push_back(std::byte{5});
        seed.insert(seed.end(), file.begin() + static_cast<std::ptrdiff_t>(at),
                    file.begin() + static_cast<std::ptrdiff_t>(at + n));
        round_trip.add(seed);
    }
}

int main(int argc, char** argv) {
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: make_seeds OUTPUT_DIR [SAMPLES_DIR]\n");
        return 2;
    }
    const fs::path root = argv[1];
    // The sample files of one extension up to a size, in name order.
    auto read_samples = [&](const char* extension, std::uintmax_t largest) {
        std::vector<Bytes> files;
        if (argc != 3 || !fs::is_directory(argv[2])) return files;
        std::vector<fs::path> paths;
        for (const auto& entry : fs::directory_iterator(argv[2]))
            if (entry.path().extension() == extension && entry.file_size() <= largest)
                paths.push_back(entry.path());
        std::sort(paths.begin(), paths.end());
        for (const fs::path& p : paths) files.push_back(lassynth::read_bytes(p.string()));
        return files;
    };
    const std::vector<Bytes> samples = read_samples(".las", std::uintmax_t{8} << 20);
    const std::vector<Bytes> laz = read_samples(".laz", std::uintmax_t{64} << 10);

    Corpus classify(root, "las_classify_fuzz"), update(root, "header_update_fuzz"),
        merge(root, "merge_fuzz"), arguments(root, "argument_checks_fuzz"),
        sorts(root, "quicksort_fuzz"), description(root, "input_description_fuzz"),
        chunk_tables(root, "chunk_table_fuzz"), pointwise(root, "pointwise_decoder_fuzz"),
        round_trip(root, "pointwise_round_trip_fuzz");
    description_seeds(description, laz);
    chunk_table_seeds(chunk_tables);
    pointwise_seeds(pointwise, round_trip, laz, samples);
    classify_seeds(classify, samples);
    header_update_seeds(update, samples);
    merge_seeds(merge, samples);
    argument_seeds(arguments);
    quicksort_seeds(sorts);
    std::printf(
        "seeds from %zu sample files: classify %d, header update %d, merge %d, "
        "arguments %d, sorts %d, descriptions %d, chunk tables %d, point-wise chunks %d, "
        "point-wise round trips %d\n",
        samples.size() + laz.size(), classify.count(), update.count(), merge.count(),
        arguments.count(), sorts.count(), description.count(), chunk_tables.count(),
        pointwise.count(), round_trip.count());
    return 0;
}
