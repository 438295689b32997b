// The readers of a listed input. Each judges what a file's header states against the file's real
// size before it uses it, and gives back what it found and, when the file is not what it must
// be, the problem, as values: it prints nothing and knows nothing of what a merge accepts.
#pragma once

#include <optional>
#include <string>

#include "core/status.hpp"
#include "file_system.hpp"
#include "read/input_description.hpp"

namespace quillet {

struct ReadResult {
    // Everything read, when there is no problem; otherwise what was read before it.
    InputDescription description;
    Problem problem;
    bool format_read = false;  // the point format (and compression) of `description` is known
};

// The classic reader: the 227-byte header of LAS 1.0-1.2 and the point records it states, and,
// when `digest_records`, the digest of the bytes between the header and the point data.
ReadResult read_classic(int fd, const std::string& name, korvane::FileSystem& fs,
                        bool digest_records);

// The extended reader: the header of LAS 1.0 to 1.4, the VLRs, the LASzip record and the chunk
// table of LAZ, and the EVLRs.
ReadResult read_extended(int fd, const std::string& name, korvane::FileSystem& fs);

// The reader that made `checked`, reading the file again as it read it then.
ReadResult read_again(const InputDescription& checked, int fd, const std::string& name,
                      korvane::FileSystem& fs);

}  // namespace quillet
