#include "variable_length_records.hpp"

#include <algorithm>
#include <cstring>

#include "las/byte_order.hpp"

namespace korvane {
namespace {

std::string user_id_of(std::span<const std::byte> bytes) {
    const char* text = reinterpret_cast<const char*>(bytes.data() + record_at::kUserId);
    std::size_t n = 0;
    while (n < record_at::kUserIdBytes && text[n] != '\0') ++n;
    return {text, n};
}

}  // namespace

RecordHeader parse_vlr_header(std::span<const std::byte, kVlrHeaderBytes> bytes) {
    return {user_id_of(bytes), get_le<std::uint16_t>(bytes, record_at::kRecordId),
            get_le<std::uint16_t>(bytes, record_at::kLength)};
}

RecordHeader parse_evlr_header(std::span<const std::byte, kEvlrHeaderBytes> bytes) {
    return {user_id_of(bytes), get_le<std::uint16_t>(bytes, record_at::kRecordId),
            get_le<std::uint64_t>(bytes, record_at::kLength)};
}

namespace {

// The fields a VLR and an EVLR header share, written into `h`: the user id, the record id, the
// payload length (u16 or u64) and the description, which starts after the length.
template <typename Length>
void fill_record_header(std::span<std::byte> h, std::string_view user_id, std::uint16_t record_id,
                        Length payload_length, std::string_view description) {
    std::memcpy(h.data() + record_at::kUserId, user_id.data(),
                std::min(user_id.size(), record_at::kUserIdBytes));
    put_le(h, record_at::kRecordId, record_id);
    put_le(h, record_at::kLength, payload_length);
    constexpr std::size_t kDescriptionBytes = 32;
    std::memcpy(h.data() + record_at::kLength + sizeof(Length), description.data(),
                std::min(description.size(), kDescriptionBytes));
}

}  // namespace

std::array<std::byte, kVlrHeaderBytes> build_vlr_header(std::string_view user_id,
                                                        std::uint16_t record_id,
                                                        std::uint16_t payload_length,
                                                        std::string_view description) {
    std::array<std::byte, kVlrHeaderBytes> h{};
    fill_record_header(h, user_id, record_id, payload_length, description);
    return h;
}

std::array<std::byte, kEvlrHeaderBytes> build_evlr_header(std::string_view user_id,
                                                          std::uint16_t record_id,
                                                          std::uint64_t payload_length,
                                                          std::string_view description) {
    std::array<std::byte, kEvlrHeaderBytes> h{};
    fill_record_header(h, user_id, record_id, payload_length, description);
    return h;
}

bool is_extra_bytes_record(std::string_view user_id, std::uint16_t record_id) {
    return user_id == kSpecUserId && record_id == kExtraBytesRecordId;
}

bool is_crs_record(std::string_view user_id, std::uint16_t record_id) {
    return user_id == kProjectionUserId &&
           (record_id == 34735 || record_id == 34736 || record_id == 34737 || record_id == 2112);
}

bool is_copc_record(std::string_view user_id) {
    return user_id == kCopcUserId;
}

}  // namespace korvane
