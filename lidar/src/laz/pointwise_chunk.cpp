#include "pointwise_chunk.hpp"

#include <algorithm>
#include <limits>

namespace korvane::laz {
namespace {

constexpr std::size_t kMaxRecordLength = std::numeric_limits<std::uint16_t>::max();

bool is(const LaszipItem& item, ItemType type, std::uint16_t size, std::uint16_t version) {
    return item.type == static_cast<std::uint16_t>(type) && item.size == size &&
           item.version == version;
}

// The optional items in the order they may follow POINT10.
enum class Stage { Point, GpsTime, Rgb, Extra };

// The stage an optional item belongs to; nothing for an item this codec does not implement.
std::optional<Stage> stage_of(const LaszipItem& item) {
    if (is(item, ItemType::GpsTime11, kGpsTime11Size, 2)) return Stage::GpsTime;
    if (is(item, ItemType::Rgb12, kRgb12Size, 2)) return Stage::Rgb;
    if (item.type == static_cast<std::uint16_t>(ItemType::Byte) && item.version == 2 &&
        item.size >= 1)
        return Stage::Extra;
    return std::nullopt;
}

}  // namespace

std::optional<LaszipItem> pointwise_unsupported_item(std::span<const LaszipItem> items) {
    if (items.empty()) return LaszipItem{};
    if (!is(items[0], ItemType::Point10, kPoint10Size, 2)) return items[0];
    Stage reached = Stage::Point;
    std::size_t length = kPoint10Size;
    for (const LaszipItem& item : items.subspan(1)) {
        const std::optional<Stage> stage = stage_of(item);
        if (!stage || *stage <= reached) return item;
        length += item.size;
        if (length > kMaxRecordLength) return item;
        reached = *stage;
    }
    return std::nullopt;
}

PointwiseLayout PointwiseLayout::of(std::span<const LaszipItem> items) {
    PointwiseLayout layout;
    if (pointwise_unsupported_item(items)) return layout;
    std::size_t at = kPoint10Size;
    for (const LaszipItem& item : items.subspan(1)) {
        switch (*stage_of(item)) {
            case Stage::GpsTime:
                layout.gps_time = true;
                layout.gps_at = at;
                break;
            case Stage::Rgb:
                layout.rgb = true;
                layout.rgb_at = at;
                break;
            default:
                layout.extra_bytes = item.size;
                layout.extra_at = at;
                break;
        }
        at += item.size;
    }
    layout.record_length = at;
    return layout;
}

PointwiseChunkDecoder::PointwiseChunkDecoder(std::span<const LaszipItem> items)
    : layout_(PointwiseLayout::of(items)) {
    if (layout_.gps_time) gps_.emplace();
    if (layout_.rgb) rgb_.emplace();
    if (layout_.extra_bytes != 0) extra_.emplace(layout_.extra_bytes);
}

bool PointwiseChunkDecoder::begin(std::span<const std::byte> chunk, std::uint32_t points) {
    points_ = 0;
    done_ = 0;
    failed_ = true;
    const std::size_t length = layout_.record_length;
    if (length == 0) return false;
    if (points == 0) {
        failed_ = false;
        return true;
    }
    if (chunk.size() < length) return false;
    first_ = chunk.first(length);
    point_.start(Point10Fields::read(first_.first<kPoint10Size>()));
    if (gps_) gps_->start(GpsTimeBytes(first_.subspan(layout_.gps_at).first<kGpsTime11Size>()));
    if (rgb_) rgb_->start(Rgb12Bytes(first_.subspan(layout_.rgb_at).first<kRgb12Size>()));
    if (extra_) extra_->start(first_.subspan(layout_.extra_at, layout_.extra_bytes));
    // A chunk of one point needs no coded stream; a longer one needs at least the 4 bytes the
    // decoder starts with.
    coded_ = points > 1;
    if (coded_) {
        dec_.reset(chunk.subspan(length));
        if (dec_.overrun()) return false;
    }
    points_ = points;
    failed_ = false;
    return true;
}

inline void PointwiseChunkDecoder::decode_record(std::span<std::byte> record) {
    point_.decode(dec_, Point10Out(record.first<kPoint10Size>()));
    if (gps_)
        gps_->decode(dec_, GpsTimeOut(record.subspan(layout_.gps_at).first<kGpsTime11Size>()));
    if (rgb_) rgb_->decode(dec_, Rgb12Out(record.subspan(layout_.rgb_at).first<kRgb12Size>()));
    if (extra_) extra_->decode(dec_, record.subspan(layout_.extra_at, layout_.extra_bytes));
}

bool PointwiseChunkDecoder::decode(std::span<std::byte> out) {
    const std::size_t length = layout_.record_length;
    if (failed_ || length == 0 || out.size() % length != 0 || out.size() / length > remaining()) {
        failed_ = true;
        return false;
    }
    const std::size_t count = out.size() / length;
    std::size_t i = 0;
    if (count > 0 && done_ == 0) {
        std::copy(first_.begin(), first_.end(), out.begin());
        i = 1;
    }
    for (; i < count; ++i) decode_record(out.subspan(i * length, length));
    done_ += static_cast<std::uint32_t>(count);
    if (coded_ && (dec_.overrun() || (gps_ && gps_->damaged()))) failed_ = true;
    return !failed_;
}

PointwiseChunkEncoder::PointwiseChunkEncoder(std::span<const LaszipItem> items)
    : layout_(PointwiseLayout::of(items)) {
    if (layout_.gps_time) gps_.emplace();
    if (layout_.rgb) rgb_.emplace();
    if (layout_.extra_bytes != 0) extra_.emplace(layout_.extra_bytes);
    begin();
}

void PointwiseChunkEncoder::begin() {
    points_ = 0;
    finished_ = false;
    chunk_.clear();
    enc_.reset();
}

inline void PointwiseChunkEncoder::encode_record(std::span<const std::byte> record) {
    point_.encode(enc_, Point10Bytes(record.first<kPoint10Size>()));
    if (gps_)
        gps_->encode(enc_, GpsTimeBytes(record.subspan(layout_.gps_at).first<kGpsTime11Size>()));
    if (rgb_) rgb_->encode(enc_, Rgb12Bytes(record.subspan(layout_.rgb_at).first<kRgb12Size>()));
    if (extra_) extra_->encode(enc_, record.subspan(layout_.extra_at, layout_.extra_bytes));
}

void PointwiseChunkEncoder::encode(std::span<const std::byte> records) {
    const std::size_t length = layout_.record_length;
    if (length == 0 || finished_) return;
    const std::size_t count = records.size() / length;
    std::size_t i = 0;
    if (count > 0 && points_ == 0) {
        // The first record goes raw, and every model starts from it.
        const std::span<const std::byte> first = records.first(length);
        chunk_.assign(first.begin(), first.end());
        point_.start(Point10Fields::read(first.first<kPoint10Size>()));
        if (gps_) gps_->start(GpsTimeBytes(first.subspan(layout_.gps_at).first<kGpsTime11Size>()));
        if (rgb_) rgb_->start(Rgb12Bytes(first.subspan(layout_.rgb_at).first<kRgb12Size>()));
        if (extra_) extra_->start(first.subspan(layout_.extra_at, layout_.extra_bytes));
        i = 1;
    }
    for (; i < count; ++i) encode_record(records.subspan(i * length, length));
    points_ += static_cast<std::uint32_t>(count);
}

std::span<const std::byte> PointwiseChunkEncoder::finish() {
    if (!finished_ && points_ > 0) {
        const std::vector<std::byte>& coded = enc_.finish();
        chunk_.insert(chunk_.end(), coded.begin(), coded.end());
    }
    finished_ = true;
    return chunk_;
}

}  // namespace korvane::laz
