#include "mariel.h"

#include <cassert>

#include "bytes.h"

namespace {

constexpr std::int32_t kFlagWordBytes = 4;
constexpr std::uint32_t kFirstFlagBit = 0x80000000u;

constexpr unsigned kLengthCodeOneByte = 14;   // length is the next byte
constexpr unsigned kLengthCodeTwoBytes = 15;  // length is the next uint16
constexpr unsigned kFirstExtendedDistanceCode = 10;

}  // namespace

void CopyBackReference(std::uint8_t* target, std::int32_t distance, std::int32_t length) {
  const std::uint8_t* source = target - distance;
  for (std::int32_t i = 0; i < length; ++i) target[i] = source[i];
}

bool UnpackMariel(std::uint8_t* output, const std::uint8_t* packed, std::int32_t unpackedSize,
                  std::int32_t packedSize, ProgressReporter reporter) {
  if (unpackedSize < 0 || packedSize < 0) return false;
  if (packedSize == 0) return unpackedSize == 0;  // no item, no report

  std::int32_t produced = 0;
  std::int32_t consumed = 0;
  std::uint32_t flags = 0;
  std::uint32_t mask = 0;  // the flag bit of the next item; 0: read a flag word
  // Invariants: 0 <= consumed <= packedSize and 0 <= produced <= unpackedSize,
  // so the differences below neither wrap nor go negative.
  do {
    if (mask == 0) {
      if (packedSize - consumed < kFlagWordBytes) return false;
      flags = ReadLe32(packed + consumed);
      consumed += kFlagWordBytes;
      mask = kFirstFlagBit;
      Report(reporter, consumed, packedSize);
    }
    if (consumed == packedSize) return false;
    const unsigned byte = packed[consumed++];

    if ((flags & mask) == 0) {
      if (produced == unpackedSize) return false;  // only when unpackedSize is 0
      output[produced++] = static_cast<std::uint8_t>(byte);
    } else {
      const unsigned lengthCode = byte >> 4;
      const unsigned distanceCode = byte & 0x0F;
      std::int32_t length = static_cast<std::int32_t>(lengthCode) + 1;
      if (lengthCode == kLengthCodeOneByte) {
        if (consumed == packedSize) return false;
        length = packed[consumed++];
      } else if (lengthCode == kLengthCodeTwoBytes) {
        if (packedSize - consumed < 2) return false;
        length = ReadLe16(packed + consumed);
        consumed += 2;
      }
      std::int32_t distance = static_cast<std::int32_t>(distanceCode) + 1;
      if (distanceCode >= kFirstExtendedDistanceCode) {
        if (consumed == packedSize) return false;
        distance = static_cast<std::int32_t>(distanceCode - kFirstExtendedDistanceCode) * 256 + packed[consumed++];
      }

      const std::int32_t room = unpackedSize - produced;
      if (length > room) {
        // One byte too many is cut silently; more ends the stream, which then
        // fails unless the output was already complete.
        if (length - room > 1) break;
        length = room;
      }
      if (length > 0) {
        // The block holds no bytes before its first one: such a reference
        // has no source. Distance 0 reads the very bytes it writes.
        if (distance > produced) return false;
        CopyBackReference(output + produced, distance, length);
        produced += length;
      }
    }
    mask >>= 1;
  } while (produced < unpackedSize && consumed < packedSize);

  assert(consumed <= packedSize && produced <= unpackedSize);
  return consumed == packedSize && produced == unpackedSize;
}
