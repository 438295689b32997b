// Merges into cloud optimised LAZ, checked by the `copc` npm package: skipped where laz-perf or
// that reader cannot run.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "copc_reader.hpp"
#include "laz_merge_fixture.hpp"

namespace testing_support {

class CopcMergeFixture : public LazMergeFixture {
  protected:
    void SetUp() override {
        LazMergeFixture::SetUp();
        if (IsSkipped()) return;
        if (const std::string why = copc_reader_unavailable(); !why.empty())
            GTEST_SKIP() << "no independent COPC reader: " << why;
    }
};

}  // namespace testing_support
