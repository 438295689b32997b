// A FILE* whose text the test reads back: the sink handed to functions that print messages.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

namespace testing_support {

class CapturedOutput {
  public:
    CapturedOutput() : file_(::open_memstream(&data_, &size_)) {}
    ~CapturedOutput() {
        std::fclose(file_);
        std::free(data_);
    }
    CapturedOutput(const CapturedOutput&) = delete;
    CapturedOutput& operator=(const CapturedOutput&) = delete;

    std::FILE* file() { return file_; }
    std::string text() {
        std::fflush(file_);
        return std::string(data_, size_);
    }

  private:
    char* data_ = nullptr;
    std::size_t size_ = 0;
    std::FILE* file_;
};

}  // namespace testing_support
