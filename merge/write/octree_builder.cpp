#include "write/octree_builder.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <memory>

#include "full_io.hpp"
#include "las/byte_order.hpp"

namespace quillet {
namespace {

using korvane::laz::VoxelKey;

constexpr std::size_t kReadBlock = std::size_t{4} << 20;    // bytes read at a time
constexpr std::size_t kChildBuffer = std::size_t{1} << 20;  // bytes gathered per child file

Failure temporary_failure(const std::string& dir) {
    return io_error(say("\nCannot keep the octree's temporary points in %s: %s\n", dir.c_str(),
                        std::strerror(errno != 0 ? errno : EIO)));
}

// A file in `dir` that has no name, so that it goes when it is closed, however the process ends:
// an unnamed file where the file system makes one, else a named one removed at once.
korvane::UniqueFd unnamed_file(const std::string& dir, korvane::FileSystem& fs) {
    const int fd = fs.open(dir.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd >= 0) return {fs, fd};
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) return {};
    for (unsigned attempt = 0; attempt < 100; ++attempt) {
        const std::string name =
            say("%s/.Quillet-%ld-%u.tmp", dir.c_str(), static_cast<long>(::getpid()), attempt).text;
        const int named = fs.open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (named < 0 && errno == EEXIST) continue;
        if (named < 0) return {};
        korvane::UniqueFd file(fs, named);
        if (fs.unlink(name.c_str()) != 0) return {};
        return file;
    }
    return {};
}

// The records that go to one child of a node being split, gathered in `buffer` (the builder's,
// used again by the next split) and written to its file.
class ChildFile {
  public:
    explicit ChildFile(std::vector<std::byte>& buffer) : buffer_(buffer) { buffer_.clear(); }

    Problem add(std::span<const std::byte> record, const std::string& dir,
                korvane::FileSystem& fs) {
        buffer_.reserve(kChildBuffer);
        buffer_.insert(buffer_.end(), record.begin(), record.end());
        ++count_;
        return buffer_.size() + record.size() > kChildBuffer ? flush(dir, fs) : std::nullopt;
    }

    Problem flush(const std::string& dir, korvane::FileSystem& fs) {
        if (buffer_.empty()) return std::nullopt;
        if (!fd_.valid()) fd_ = unnamed_file(dir, fs);
        if (!fd_.valid() ||
            !korvane::write_full(fs, fd_.get(), buffer_, static_cast<off_t>(written_)))
            return temporary_failure(dir);
        written_ += buffer_.size();
        buffer_.clear();
        return std::nullopt;
    }

    // The child's points, once flushed.
    PointFile take() { return {std::move(fd_), 0, count_}; }

  private:
    korvane::UniqueFd fd_;
    std::vector<std::byte>& buffer_;
    std::uint64_t written_ = 0;
    std::uint64_t count_ = 0;
};

// Reads `file`'s records block by block into `block`, each block whole records, giving each to
// `take`.
template <typename Take>
Problem each_block(PointFile& file, std::size_t record_length, const std::string& dir,
                   korvane::FileSystem& fs, std::vector<std::byte>& block, Take&& take) {
    const std::size_t per_block = std::max<std::size_t>(1, kReadBlock / record_length);
    for (std::uint64_t done = 0; done < file.count;) {
        const auto n =
            static_cast<std::size_t>(std::min<std::uint64_t>(per_block, file.count - done));
        block.resize(n * record_length);
        const off_t at = static_cast<off_t>(file.at + done * record_length);
        errno = 0;
        if (korvane::read_full(fs, file.fd.get(), block, at) != static_cast<ssize_t>(block.size()))
            return temporary_failure(dir);
        if (Problem p = take(std::span<const std::byte>(block))) return p;
        done += n;
    }
    return std::nullopt;
}

class Builder {
  public:
    Builder(const OctreeBuild& build, const PieceSink& sink, const std::function<Problem()>& go_on,
            korvane::FileSystem& fs)
        : b_(build), sink_(sink), go_on_(go_on), fs_(fs) {}

    Problem subtree(const VoxelKey& head, PointFile file) {
        const std::uint64_t need = file.count * (b_.record_length + kOctreeBytesPerPoint);
        const bool fits = need <= b_.subtree_memory;
        if (fits || is_leaf(file.count, head.depth, b_.rules)) return in_memory(head, file);
        return split(head, file);
    }

  private:
    // The subtree read whole, to be built in memory.
    Problem in_memory(const VoxelKey& head, PointFile& file) {
        OctreePiece piece{head, true, {}};
        piece.records.resize(static_cast<std::size_t>(file.count) * b_.record_length);
        errno = 0;
        if (korvane::read_full(fs_, file.fd.get(), piece.records, static_cast<off_t>(file.at)) !=
            static_cast<ssize_t>(piece.records.size()))
            return temporary_failure(b_.temp_dir);
        file.fd.reset();
        return sink_(std::move(piece));
    }

    // The node's sample kept as the points stream past, the rest written to its children's
    // files; then each child's subtree.
    Problem split(const VoxelKey& head, PointFile& file) {
        const std::size_t length = b_.record_length;
        NodeSampler sampler(head, b_.rules);
        std::vector<std::byte> kept;
        std::array<ChildFile, 8> children = {ChildFile(buffers_[0]), ChildFile(buffers_[1]),
                                             ChildFile(buffers_[2]), ChildFile(buffers_[3]),
                                             ChildFile(buffers_[4]), ChildFile(buffers_[5]),
                                             ChildFile(buffers_[6]), ChildFile(buffers_[7])};
        const Problem read =
            each_block(file, length, b_.temp_dir, fs_, block_,
                       [&](std::span<const std::byte> block) -> Problem {
                           if (Problem p = go_on_()) return p;
                           for (std::size_t at = 0; at < block.size(); at += length) {
                               const auto record = block.subspan(at, length);
                               const int octant = sampler.place(b_.cells(record));
                               if (octant == NodeSampler::kKept)
                                   kept.insert(kept.end(), record.begin(), record.end());
                               else if (Problem p = children[static_cast<std::size_t>(octant)].add(
                                            record, b_.temp_dir, fs_))
                                   return p;
                           }
                           return std::nullopt;
                       });
        if (read) return read;
        file.fd.reset();
        std::array<PointFile, 8> below;
        for (std::size_t o = 0; o < 8; ++o) {
            if (Problem p = children[o].flush(b_.temp_dir, fs_)) return p;
            below[o] = children[o].take();
        }
        if (Problem p = sink_(OctreePiece{head, false, std::move(kept)})) return p;
        for (std::size_t o = 0; o < 8; ++o)
            if (below[o].count != 0)
                if (Problem p = subtree(head.child(static_cast<int>(o)), std::move(below[o])))
                    return p;
        return std::nullopt;
    }

    const OctreeBuild& b_;
    const PieceSink& sink_;
    const std::function<Problem()>& go_on_;
    korvane::FileSystem& fs_;
    // Kept from split to split: fresh pages cost more than the bytes they hold.
    std::vector<std::byte> block_;
    std::array<std::vector<std::byte>, 8> buffers_;
};

}  // namespace

Result<std::optional<std::array<std::int32_t, 6>>> scan_extent(PointFile& file,
                                                               std::uint16_t record_length,
                                                               const std::string& dir,
                                                               korvane::FileSystem& fs) {
    if (file.count == 0) return std::optional<std::array<std::int32_t, 6>>{};
    std::array<std::int32_t, 6> extent{};
    for (std::size_t a = 0; a < 3; ++a) {
        extent[a] = std::numeric_limits<std::int32_t>::max();
        extent[a + 3] = std::numeric_limits<std::int32_t>::min();
    }
    std::vector<std::byte> buffer;
    const Problem p = each_block(
        file, record_length, dir, fs, buffer, [&](std::span<const std::byte> block) -> Problem {
            for (std::size_t at = 0; at < block.size(); at += record_length)
                for (std::size_t a = 0; a < 3; ++a) {
                    const auto v = korvane::get_le<std::int32_t>(block, at + 4 * a);
                    extent[a] = std::min(extent[a], v);
                    extent[a + 3] = std::max(extent[a + 3], v);
                }
            return std::nullopt;
        });
    if (p) return *p;
    return std::optional(extent);
}

Problem build_octree_pieces(PointFile file, const OctreeBuild& build, const PieceSink& sink,
                            const std::function<Problem()>& go_on, korvane::FileSystem& fs) {
    if (file.count == 0) return std::nullopt;
    Builder builder(build, sink, go_on, fs);
    return builder.subtree(VoxelKey{}, std::move(file));
}

}  // namespace quillet
