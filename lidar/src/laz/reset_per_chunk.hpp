// A model (SymbolModel, BitModel or IntegerCompressor) that a chunk codec resets the first time a
// chunk uses it rather than when the chunk starts. The layered codec keeps thousands of models
// (four scanner channels of classification, flag and user data tables, integer compressors with
// dozens of symbol models each), and a cloud optimised file's chunks of a dozen points touch a
// few of them: resetting all of them per chunk would cost more than coding the points. A chunk
// resets a model lazily, so the bytes are those of a coder whose models all started afresh.
#pragma once

#include <cstdint>
#include <utility>

namespace korvane::laz {

// Chunks are numbered from 1 by the coder that owns the models; 0 is "never used".
using ChunkNumber = std::uint64_t;

template <typename Model>
class ResetPerChunk {
  public:
    template <typename... Args>
    explicit ResetPerChunk(Args&&... args) : model_(std::forward<Args>(args)...) {}

    // The model as it is in chunk `chunk`: reset if this chunk has not used it yet.
    Model& in(ChunkNumber chunk) {
        if (chunk_ != chunk) {
            model_.reset();
            chunk_ = chunk;
        }
        return model_;
    }

  private:
    Model model_;
    ChunkNumber chunk_ = 0;
};

}  // namespace korvane::laz
