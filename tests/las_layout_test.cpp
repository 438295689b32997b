// The record layouts: field offsets as the LAS format places them, and whole-block moves.
#include <Korvane_LiDAR.h>
#include <gtest/gtest.h>

#include <cstddef>

#include "las_header.hpp"

namespace {

TEST(LasLayout, HeaderFieldsLieAtTheirFileOffsets) {
    struct Field {
        std::size_t actual;
        std::size_t expected;
        const char* name;
    };
    const Field fields[] = {
        {offsetof(LAS12Header, FileSourceID), 4, "FileSourceID"},
        {offsetof(LAS12Header, GUIDData4), 16, "GUIDData4"},
        {offsetof(LAS12Header, VersionMajor), 24, "VersionMajor"},
        {offsetof(LAS12Header, SystemIdentifier), 26, "SystemIdentifier"},
        {offsetof(LAS12Header, GeneratingSoftware), 58, "GeneratingSoftware"},
        {offsetof(LAS12Header, HeaderSize), 94, "HeaderSize"},
        {offsetof(LAS12Header, OffsetToData), 96, "OffsetToData"},
        {offsetof(LAS12Header, PointDataFormatID), 104, "PointDataFormatID"},
        {offsetof(LAS12Header, PointDataRecordLength), 105, "PointDataRecordLength"},
        {offsetof(LAS12Header, NumberOfPointReturns), 107, "NumberOfPointReturns"},
        {offsetof(LAS12Header, NumberOfPointsByReturn), 111, "NumberOfPointsByReturn"},
        {offsetof(LAS12Header, XScaleFactor), 131, "XScaleFactor"},
        {offsetof(LAS12Header, XOffset), 155, "XOffset"},
        {offsetof(LAS12Header, MaxX), 179, "MaxX"},
        {offsetof(LAS12Header, MinZ), 219, "MinZ"},
        {offsetof(LAS10Header, FlightDateJulian), 90, "LAS10 FlightDateJulian"},
        {offsetof(LAS10Header, GUIDData1), 8, "LAS10 GUIDData1"},
        {offsetof(LAS11Header, Reserved), 6, "LAS11 Reserved"},
        {offsetof(LAS12fm0, bitfield), 14, "fm0 bitfield"},
        {offsetof(LAS12fm0, PointSourceID), 18, "fm0 PointSourceID"},
        {offsetof(LAS12fm1, GPSTime), 20, "fm1 GPSTime"},
        {offsetof(LAS12fm2, Red), 20, "fm2 Red"},
        {offsetof(LAS12fm3, Red), 28, "fm3 Red"},
    };
    for (const Field& f : fields) EXPECT_EQ(f.actual, f.expected) << f.name;
}

TEST(LasLayout, RecordLengthsByFormat) {
    const std::uint16_t expected[] = {20, 28, 26, 34, 0, 0};
    for (std::uint8_t format = 0; format < 6; ++format)
        EXPECT_EQ(korvane::record_length_of_format(format), expected[format]) << int{format};
    EXPECT_EQ(korvane::record_length_of_format(255), 0);
}

TEST(LasLayout, HeaderBytesRoundTripUnaligned) {
    korvane::HeaderBytes bytes;
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = std::byte(i * 7 + 3);
    const LAS12Header h = korvane::header_from_bytes(bytes);
    // Fields at odd offsets read the little-endian bytes stored there.
    EXPECT_EQ(std::uint16_t{h.PointDataRecordLength},
              (((105 * 7 + 3) & 0xFF) | (((106 * 7 + 3) & 0xFF) << 8)));
    EXPECT_EQ(korvane::header_to_bytes(h), bytes);
}

}  // namespace
