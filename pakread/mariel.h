// "Mariel" (method 1): literals and back-references into the output already
// produced, chosen by the bits of 32-bit flag words.
//
//   group     = flag word, then up to 32 items, one per flag bit from bit 31 down
//   flag word = uint32 little-endian; bit 0 announces a literal, 1 a back-reference
//   literal   = 1 byte, the next output byte
//   back-ref  = token, length extension, distance extension, in this order
//     token high nibble L: 0..13 length L + 1; 14 one byte N, length N;
//                          15 uint16 little-endian W, length W
//     token low nibble D:  0..9 distance D + 1; 10..15 one byte B,
//                          distance (D - 10) * 256 + B
//
// There is no end marker: the entry's two sizes say how much to read and
// how much to write.
#pragma once

#include <cstdint>

#include "progress.h"

// Copies length bytes one at a time in ascending order from target - distance
// to target, so that a copy longer than its distance repeats the last
// distance bytes. Distance 0 copies every byte onto itself. A length of 0 or
// less copies nothing.
// REQUIRES: target - distance .. target + length - 1 lie in one buffer.
void CopyBackReference(std::uint8_t* target, std::int32_t distance, std::int32_t length);

// Decodes packedSize bytes at packed into the unpackedSize bytes at output.
// REQUIRES: output is zero-filled (a distance-0 back-reference yields the
// zeros already there).
//
// Reports (packed bytes consumed including the flag word, packedSize) after
// reading every flag word; the first report is (4, packedSize), and none is
// made for an empty stream. Throws ESpiError(Aborted) when the callback asks
// to stop, and nothing else.
//
// True exactly when the stream consumed all packedSize bytes and produced all
// unpackedSize bytes. A back-reference that overshoots the output by one byte
// is cut to fit; one that overshoots by more ends the decoding. False, at
// once, when the packed bytes run out in the middle of an item, when a
// literal finds no room, when a back-reference of length 1 or more reaches
// before the first output byte, or when a size is negative.
//
// Never reads outside packed[0, packedSize) nor reads or writes outside
// output[0, unpackedSize), whatever the bytes say. Where it answers false or
// throws, the block holds unspecified bytes (callers discard it).
bool UnpackMariel(std::uint8_t* output, const std::uint8_t* packed, std::int32_t unpackedSize,
                  std::int32_t packedSize, ProgressReporter reporter);

// The plain decoder: one item and one byte at a time, every read checked,
// back-references through CopyBackReference. UnpackMariel gives the same
// answer, the same reports and the same exception for every input, and the
// same output bytes whenever it answers true; the tests compare the two.
// Not used by the module.
bool UnpackMarielPlain(std::uint8_t* output, const std::uint8_t* packed, std::int32_t unpackedSize,
                       std::int32_t packedSize, ProgressReporter reporter);
