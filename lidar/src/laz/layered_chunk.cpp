#include "laz/layered_chunk.hpp"

#include <cstring>

#include "las/byte_order.hpp"

namespace korvane::laz {
namespace {

constexpr LaszipItem kPoint14{static_cast<std::uint16_t>(ItemType::Point14), kPoint14Bytes, 3};
constexpr LaszipItem kRgb14{static_cast<std::uint16_t>(ItemType::Rgb14), kRgb14Bytes, 3};
constexpr LaszipItem kRgbNir14{static_cast<std::uint16_t>(ItemType::RgbNir14), kRgbNir14Bytes, 3};
constexpr std::size_t kMaxRecordLength = 65535;

bool is_byte14(const LaszipItem& item) {
    return item.type == static_cast<std::uint16_t>(ItemType::Byte14) && item.size >= 1 &&
           item.version == 3;
}

}  // namespace

std::optional<LaszipItem> layered_unsupported_item(std::span<const LaszipItem> items) {
    if (items.empty()) return LaszipItem{};
    if (items[0] != kPoint14) return items[0];
    std::size_t at = 1;
    std::size_t length = kPoint14Bytes;
    if (at < items.size() && (items[at] == kRgb14 || items[at] == kRgbNir14)) {
        length += items[at].size;
        ++at;
    }
    if (at < items.size() && is_byte14(items[at])) {
        length += items[at].size;
        if (length > kMaxRecordLength) return items[at];
        ++at;
    }
    if (at < items.size()) return items[at];
    return std::nullopt;
}

layered_detail::ItemSet::ItemSet(std::span<const LaszipItem> items) {
    for (const LaszipItem& item : items) {
        if (item == kRgb14) rgb = true;
        if (item == kRgbNir14) rgbnir = true;
        if (is_byte14(item)) extra_bytes = item.size;
    }
}

// ---- Decoder ----

LayeredChunkDecoder::LayeredChunkDecoder(std::span<const LaszipItem> items)
    : items_(items), layers_(items_.layers()) {
    if (items_.rgb) rgb_.emplace();
    if (items_.rgbnir) rgbnir_.emplace();
    if (items_.extra_bytes > 0) bytes_.emplace(items_.extra_bytes);
}

bool LayeredChunkDecoder::begin(std::span<const std::byte> chunk, std::uint32_t points) {
    damaged_ = true;
    remaining_ = 0;
    first_ = {};
    const std::size_t length = record_length();
    const std::size_t layers = items_.layers();
    const std::size_t header = length + 4 + 4 * layers;
    if (points == 0 || chunk.size() < header) return false;
    if (get_le<std::uint32_t>(chunk, length) != points) return false;
    // Every layer must lie inside the chunk before any is read.
    std::uint64_t total = 0;
    for (std::size_t i = 0; i < layers; ++i)
        total += get_le<std::uint32_t>(chunk, length + 4 + 4 * i);
    if (total > chunk.size() - header) return false;
    std::size_t at = header;
    for (std::size_t i = 0; i < layers; ++i) {
        const std::size_t size = get_le<std::uint32_t>(chunk, length + 4 + 4 * i);
        layers_[i] = chunk.subspan(at, size);
        at += size;
    }

    const std::byte* raw = chunk.data();
    const std::uint32_t context = point_.begin(raw);
    const std::span<const std::span<const std::byte>> all(layers_);
    point_.set_layers(all.first<kPoint14Layers>());
    std::size_t next = kPoint14Layers;
    if (rgb_) {
        rgb_->begin(raw + kPoint14Bytes, context);
        rgb_->set_layer(all[next++]);
    }
    if (rgbnir_) {
        rgbnir_->begin(raw + kPoint14Bytes, context);
        rgbnir_->set_layers(all.subspan(next).first<kRgbNir14Layers>());
        next += kRgbNir14Layers;
    }
    if (bytes_) {
        bytes_->begin(raw + kPoint14Bytes + items_.colour_bytes(), context);
        bytes_->set_layers(all.subspan(next, items_.extra_bytes));
    }
    first_ = chunk.first(length);
    remaining_ = points;
    damaged_ = false;
    return true;
}

bool LayeredChunkDecoder::damaged() const {
    return point_.damaged() || (rgb_ && rgb_->damaged()) || (rgbnir_ && rgbnir_->damaged()) ||
           (bytes_ && bytes_->damaged());
}

bool LayeredChunkDecoder::decode(std::span<std::byte> out) {
    const std::size_t length = record_length();
    if (damaged_ || out.size() % length != 0 || out.size() / length > remaining_) return false;
    const std::size_t count = out.size() / length;
    std::byte* record = out.data();
    std::size_t done = 0;
    if (count > 0 && !first_.empty()) {
        std::memcpy(record, first_.data(), length);
        first_ = {};
        record += length;
        ++done;
    }
    const std::size_t colour_at = kPoint14Bytes;
    const std::size_t bytes_at = kPoint14Bytes + items_.colour_bytes();
    for (; done < count; ++done, record += length) {
        const std::uint32_t context = point_.decode(record);
        if (rgb_) rgb_->decode(record + colour_at, context);
        if (rgbnir_) rgbnir_->decode(record + colour_at, context);
        if (bytes_) bytes_->decode(record + bytes_at, context);
    }
    remaining_ -= static_cast<std::uint32_t>(count);
    if (damaged()) {
        damaged_ = true;
        remaining_ = 0;
        return false;
    }
    return true;
}

// ---- Encoder ----

LayeredChunkEncoder::LayeredChunkEncoder(std::span<const LaszipItem> items)
    : items_(items), layers_(items_.layers()) {
    if (items_.rgb) rgb_.emplace();
    if (items_.rgbnir) rgbnir_.emplace();
    if (items_.extra_bytes > 0) bytes_.emplace(items_.extra_bytes);
    begin();
}

void LayeredChunkEncoder::begin() {
    point_.begin();
    if (rgb_) rgb_->begin();
    if (rgbnir_) rgbnir_->begin();
    if (bytes_) bytes_->begin();
    points_ = 0;
    out_.clear();
    finished_ = false;
}

void LayeredChunkEncoder::encode(std::span<const std::byte> records) {
    const std::size_t length = record_length();
    const std::size_t colour_at = kPoint14Bytes;
    const std::size_t bytes_at = kPoint14Bytes + items_.colour_bytes();
    for (std::size_t at = 0; at + length <= records.size(); at += length) {
        const std::byte* record = records.data() + at;
        if (points_ == 0) {
            first_.assign(record, record + length);
            const std::uint32_t context = point_.first(record);
            if (rgb_) rgb_->first(record + colour_at, context);
            if (rgbnir_) rgbnir_->first(record + colour_at, context);
            if (bytes_) bytes_->first(record + bytes_at, context);
        } else {
            const std::uint32_t context = point_.encode(record);
            if (rgb_) rgb_->encode(record + colour_at, context);
            if (rgbnir_) rgbnir_->encode(record + colour_at, context);
            if (bytes_) bytes_->encode(record + bytes_at, context);
        }
        ++points_;
    }
}

std::span<const std::byte> LayeredChunkEncoder::finish() {
    if (finished_ || points_ == 0) return out_;
    finished_ = true;
    const std::span<std::span<const std::byte>> all(layers_);
    point_.finish(all.first<kPoint14Layers>());
    std::size_t next = kPoint14Layers;
    if (rgb_) all[next++] = rgb_->finish();
    if (rgbnir_) {
        rgbnir_->finish(all.subspan(next).first<kRgbNir14Layers>());
        next += kRgbNir14Layers;
    }
    if (bytes_) bytes_->finish(all.subspan(next, items_.extra_bytes));

    std::size_t size = first_.size() + 4 + 4 * layers_.size();
    for (const auto& l : layers_) size += l.size();
    out_.resize(size);
    const std::span<std::byte> out(out_);
    std::memcpy(out_.data(), first_.data(), first_.size());
    std::size_t at = first_.size();
    put_le(out, at, points_);
    at += 4;
    for (const auto& l : layers_) {
        put_le(out, at, static_cast<std::uint32_t>(l.size()));
        at += 4;
    }
    for (const auto& l : layers_) {
        if (!l.empty()) std::memcpy(out_.data() + at, l.data(), l.size());
        at += l.size();
    }
    return out_;
}

}  // namespace korvane::laz
