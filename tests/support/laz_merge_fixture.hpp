// The fixture of the tests that merge the LAZ samples and check the outputs with the independent
// LAZ decoder: each test fails when the samples (part of the checkout) are missing, is skipped,
// saying why, when the decoder is missing, and has a scratch directory of its own.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "child_process.hpp"
#include "laz_decoder.hpp"
#include "merge_fixture.hpp"
#include "scratch_dir.hpp"

namespace testing_support {

class LazMergeFixture : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(std::filesystem::exists(std::string(SAMPLES_DIR) + "/lone-star-split-1.laz"))
            << "missing test data: no LAZ samples in " << SAMPLES_DIR;
        if (const std::string why = laz_decoder_unavailable(); !why.empty())
            GTEST_SKIP() << "no independent LAZ decoder: " << why;
    }

    // Quillet --extended run in `dir` on a list of `names`, writing `output`.
    static ChildResult merge(const ScratchDir& dir, const std::vector<std::string>& names,
                             const std::string& output, std::vector<std::string> options = {}) {
        return run_extended_merge(dir, names, output, std::move(options));
    }

    ScratchDir dir_;
};

}  // namespace testing_support
