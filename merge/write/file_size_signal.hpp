// A write past the process's file-size limit raises SIGXFSZ, which ends the process unless it is
// ignored or blocked. While the merge writes, the calling thread (the only one that writes)
// blocks it, so that such a write fails with EFBIG and is reported like any other; a signal that
// arrived meanwhile is taken off the thread before the mask is put back. The process's signal
// dispositions are not touched.
#pragma once

#include <signal.h>

namespace quillet {

class FileSizeSignalBlocked {
  public:
    FileSizeSignalBlocked();
    ~FileSizeSignalBlocked();
    FileSizeSignalBlocked(const FileSizeSignalBlocked&) = delete;
    FileSizeSignalBlocked& operator=(const FileSizeSignalBlocked&) = delete;

  private:
    sigset_t previous_{};
    bool blocked_here_ = false;  // it was not blocked before
};

}  // namespace quillet
