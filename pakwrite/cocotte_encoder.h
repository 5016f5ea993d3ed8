// Cocotte encoder: the exact inverse of CocotteDecoder::Decode.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

// Data bytes in one block at most: the decoder's block buffer holds the
// 2-byte primary index and the data.
constexpr std::int32_t kCocotteMaxBlockData = 32770;

struct CocotteEncodeOptions {
  // Data bytes per block (the last block may be shorter); 1 to 32,770.
  std::int32_t blockData = kCocotteMaxBlockData;
  // Blocks (0-based) to store whatever their coded size: lets tests put a
  // stored block, and so a model reset, in the middle of a coded entry.
  std::vector<std::size_t> forceStored;
};

// The packed bytes of a Cocotte entry whose unpacked bytes are data. Empty
// data gives empty packed data.
//
// Each block of options.blockData bytes (the last may be shorter) is coded or
// stored, whichever is shorter, with ties stored: a coded payload is always
// shorter than the block's symbol sequence, so the decoder never takes it
// for a stored one. The model the decoder carries across coded blocks and
// restarts after each stored block, and the move-to-front table it carries
// across all blocks, evolve here exactly as there. Every coded payload holds
// every byte the decoder reads, its final normalisation included, and no
// more.
//
// Throws std::invalid_argument when options.blockData is outside 1 to
// 32,770; std::bad_alloc or ESpiError(OutOfMemory) (from the model) when
// memory runs out.
std::vector<std::uint8_t> EncodeCocotte(std::span<const std::uint8_t> data,
                                        const CocotteEncodeOptions& options = {});
