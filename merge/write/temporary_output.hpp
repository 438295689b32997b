// The merged file is written under a temporary name beside the output and renamed onto the
// output's name only once every byte is written, so no reader ever sees a partial merge and a
// failed merge leaves an existing file of that name untouched.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "file_system.hpp"
#include "unique_fd.hpp"

namespace quillet {

class TemporaryOutput {
  public:
    // Told the temporary file's name just before the file is created, and "" once no file of
    // that name is left (removed, or renamed onto the output): what the owner of the process
    // needs to remove the file when a signal ends the process.
    using Watch = std::function<void(const std::string&)>;

    // Creates the temporary file in the output's directory. It gets the permissions of a newly
    // created file (0666 less the umask), or those of the file that it is going to replace.
    // Nothing, with errno set, when it cannot be created.
    static std::optional<TemporaryOutput> create(const std::string& output_name,
                                                 korvane::FileSystem& fs, Watch watch = {});

    TemporaryOutput(TemporaryOutput&&) noexcept;
    TemporaryOutput& operator=(TemporaryOutput&&) = delete;
    TemporaryOutput(const TemporaryOutput&) = delete;
    TemporaryOutput& operator=(const TemporaryOutput&) = delete;
    // Removes the temporary file unless it was committed.
    ~TemporaryOutput();

    int fd() const { return fd_.get(); }
    const std::string& path() const { return path_; }

    // Closes the file and renames it onto the output's name. False, with errno set, when the
    // close or the rename fails; the temporary file is then removed by the destructor.
    bool commit();

  private:
    TemporaryOutput(korvane::FileSystem& fs, korvane::UniqueFd fd, std::string path,
                    std::string output_name, Watch watch);

    korvane::FileSystem* fs_;
    korvane::UniqueFd fd_;
    std::string path_;
    std::string output_name_;
    Watch watch_;
    bool committed_ = false;
};

}  // namespace quillet
