// The check's fast path over self-identifying content: a long stretch of intact blocks told at
// once. Made in block_identity.cpp beside the blocks it makes. Pure; thread-safe.
#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/block_identity.h"

namespace quillet {

// How many of the `blocks` whole blocks at data, the first at file offset `offset` (a multiple of
// 1,024), are from the first on exactly the blocks a file of {seed, fileId, fileSize, shape} holds
// at their places: blockMatches of each block's sourceIdentity, stopping at the first that fails.
// The file's key is made once for a stretch of plain blocks.
std::size_t intactBlocks(std::uint64_t seed, std::uint64_t fileId, std::uint64_t fileSize,
                         const ContentShape& shape, std::uint64_t offset, const std::uint8_t* data,
                         std::size_t blocks);

}  // namespace quillet
