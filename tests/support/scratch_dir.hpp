// A fresh directory for one test, removed with everything in it when the test ends.
#pragma once

#include <string>
#include <vector>

namespace testing_support {

class ScratchDir {
  public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    const std::string& path() const { return path_; }
    // path()/name
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

    // Writes `text` to path()/name and returns the full path.
    std::string write_text(const std::string& name, const std::string& text) const;

  private:
    std::string path_;
};

bool file_exists(const std::string& path);
// Names of the entries of a directory, sorted, without "." and "..".
std::vector<std::string> list_dir(const std::string& path);

}  // namespace testing_support
