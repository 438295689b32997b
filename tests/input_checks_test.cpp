// The header consistency phase on its own: the record length check, which the command line
// cannot reach (files of one LAS type code always share their record length), and the order in
// which the fields are compared.
#include "classic/input_checks.hpp"

#include <gtest/gtest.h>

#include "captured_output.hpp"
#include "merge_fixture.hpp"

namespace {

using testing_support::CapturedOutput;
using testing_support::make_tile;
using testing_support::ScratchDir;

TEST(HeaderConsistency, NamesTheFirstFieldThatDiffers) {
    struct Case {
        const char* what;
        void (*change)(LAS12Header&);
        const char* field;  // nullptr: consistent
    };
    const Case cases[] = {
        {"record length", [](LAS12Header& h) { h.PointDataRecordLength = 20; }, "Record length"},
        {"offset before record length",
         [](LAS12Header& h) {
             h.PointDataRecordLength = 20;
             h.ZOffset = 1;
         },
         "ZOffset"},
        {"scale before offset",
         [](LAS12Header& h) {
             h.XOffset = 7;
             h.YScaleFactor = 1;
         },
         "YScaleFactor"},
        {"counts and box may differ",
         [](LAS12Header& h) {
             h.MaxX = 1e9;
             h.NumberOfPointsByReturn[2] = 3;
         },
         nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ScratchDir dir;
        std::vector<testing_support::Tile> tiles = {make_tile("a.las", 2, 1, 5, 1),
                                                    make_tile("b.las", 2, 1, 5, 2)};
        c.change(tiles[1].file.header);
        testing_support::write_tiles(dir, tiles);
        quillet::MergeJob job;
        job.listName = "list.txt";
        job.names = {dir / "a.las", dir / "b.las"};
        CapturedOutput out;
        const bool consistent = quillet::check_scale_offset_recordlength_consistency(
            job, out.file(), korvane::system_files());
        EXPECT_EQ(consistent, c.field == nullptr);
        EXPECT_EQ(out.text(), c.field == nullptr
                                  ? ""
                                  : "\n" + std::string(c.field) + " in " + job.names[1] +
                                        " differs from that in previous .las files included in "
                                        "list.txt\n");
    }
}

}  // namespace
