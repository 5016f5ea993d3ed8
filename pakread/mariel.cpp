#include "mariel.h"

#include <bit>
#include <cassert>
#include <cstring>

#include "bytes.h"

namespace {

constexpr std::int32_t kFlagWordBytes = 4;
constexpr std::uint32_t kFirstFlagBit = 0x80000000u;
constexpr std::int32_t kItemsPerFlagWord = 32;

constexpr unsigned kLengthCodeOneByte = 14;   // length is the next byte
constexpr unsigned kLengthCodeTwoBytes = 15;  // length is the next uint16
constexpr unsigned kFirstExtendedDistanceCode = 10;

// The most packed bytes one group's items can take: 32 tokens with a
// two-byte length and a distance byte each. With this many bytes left after
// a flag word, the group's items read no byte past the packed data and need
// no check of their own.
constexpr std::int32_t kMaxGroupItemBytes = kItemsPerFlagWord * (1 + 2 + 1);

// Copies length bytes from target - distance to target in chunks of Step
// bytes, giving the bytes a forward byte-by-byte copy gives.
// REQUIRES: distance >= Step, length >= Step. Each chunk reads bytes that lie
// at least Step bytes behind the chunk's first byte, so they are final
// before the chunk is stored; the last chunk ends exactly at target + length
// and overlaps the one before it (rewriting the same values). Writes nothing
// outside target[0, length).
template <std::int32_t Step>
inline void CopyChunks(std::uint8_t* target, std::int32_t distance, std::int32_t length) {
  assert(distance >= Step && length >= Step);
  const std::uint8_t* source = target - distance;
  std::int32_t i = 0;
  for (; i + Step <= length; i += Step) std::memcpy(target + i, source + i, Step);
  if (i < length) std::memcpy(target + length - Step, source + length - Step, Step);
}

// Copies exactly `bytes` (1..16) bytes from source to target with at most
// two moves of 1, 2, 4 or 8 bytes.
// REQUIRES: the regions do not overlap.
inline void CopyShort(std::uint8_t* target, const std::uint8_t* source, std::int32_t bytes) {
  assert(bytes >= 1 && bytes <= 16);
  if (bytes >= 8) {
    std::memcpy(target, source, 8);
    std::memcpy(target + bytes - 8, source + bytes - 8, 8);
  } else if (bytes >= 4) {
    std::memcpy(target, source, 4);
    std::memcpy(target + bytes - 4, source + bytes - 4, 4);
  } else {
    target[0] = source[0];
    if (bytes > 1) {
      target[bytes - 1] = source[bytes - 1];
      target[1] = source[1];
    }
  }
}

// CopyBackReference with wide moves where the result is the same; stores
// exactly target[0, length). Most
// back-references of the corpus are 3 to 40 bytes at distances above 16
// (text, elf); the image kind has long runs at distances 1 to 4.
// REQUIRES: 0 <= distance <= bytes before target in the block, length >= 1.
inline void CopyBackReferenceFast(std::uint8_t* target, std::int32_t distance, std::int32_t length) {
  if (distance >= length && length <= 16) {
    // No overlap: the source lies wholly before the target. Distance 0 has
    // length 0 here, which the caller skips.
    CopyShort(target, target - distance, length);
  } else if (distance >= 16) {
    CopyChunks<16>(target, distance, length);
  } else if (distance >= 8) {
    CopyChunks<8>(target, distance, length);
  } else if (distance == 1) {
    std::memset(target, target[-1], static_cast<std::size_t>(length));
  } else if (distance == 0) {
    // Every byte is copied onto itself, so the bytes keep the zeros of the
    // fresh block. The fast path may have stored ahead of the write
    // position, so the zeros are written rather than assumed.
    std::memset(target, 0, static_cast<std::size_t>(length));
  } else {
    // 2 <= distance < 8 and overlapping: the last `distance` bytes repeat.
    // Byte by byte until a multiple of the distance of at least 8 bytes
    // stands behind the write position, then 8-byte chunks at that
    // multiple, which names the same bytes of the repeating pattern.
    const std::int32_t period = distance * ((8 + distance - 1) / distance);  // 8..14
    const std::int32_t head = period - distance;
    if (length - head < 8) {
      for (std::int32_t i = 0; i < length; ++i) target[i] = target[i - distance];
      return;
    }
    for (std::int32_t i = 0; i < head; ++i) target[i] = target[i - distance];
    CopyChunks<8>(target + head, period, length - head);
  }
}

}  // namespace

void CopyBackReference(std::uint8_t* target, std::int32_t distance, std::int32_t length) {
  const std::uint8_t* source = target - distance;
  for (std::int32_t i = 0; i < length; ++i) target[i] = source[i];
}

namespace {

// How an item read with every read checked ended.
enum class ItemEnd {
  Next,   // decoded; the stream may go on
  Fail,   // the packed bytes ran out, or the item cannot be applied: false
  Stop,   // a back-reference overshooting by more than one byte ends the stream
};

// Decodes the item at packed[consumed] (a back-reference when reference,
// otherwise a literal), checking every read against packedSize and every
// store against unpackedSize, and advances consumed and produced. Copy
// moves a back-reference's bytes with the forward byte-by-byte result.
// REQUIRES: 0 <= consumed <= packedSize, 0 <= produced <= unpackedSize.
template <void (*Copy)(std::uint8_t*, std::int32_t, std::int32_t)>
inline ItemEnd DecodeItemChecked(bool reference, std::uint8_t* output, const std::uint8_t* packed,
                                 std::int32_t unpackedSize, std::int32_t packedSize, std::int32_t& produced,
                                 std::int32_t& consumed) {
  if (consumed == packedSize) return ItemEnd::Fail;
  const unsigned byte = packed[consumed++];
  if (!reference) {
    if (produced == unpackedSize) return ItemEnd::Fail;  // only when unpackedSize is 0
    output[produced++] = static_cast<std::uint8_t>(byte);
    return ItemEnd::Next;
  }
  const unsigned lengthCode = byte >> 4;
  const unsigned distanceCode = byte & 0x0F;
  std::int32_t length = static_cast<std::int32_t>(lengthCode) + 1;
  if (lengthCode == kLengthCodeOneByte) {
    if (consumed == packedSize) return ItemEnd::Fail;
    length = packed[consumed++];
  } else if (lengthCode == kLengthCodeTwoBytes) {
    if (packedSize - consumed < 2) return ItemEnd::Fail;
    length = ReadLe16(packed + consumed);
    consumed += 2;
  }
  std::int32_t distance = static_cast<std::int32_t>(distanceCode) + 1;
  if (distanceCode >= kFirstExtendedDistanceCode) {
    if (consumed == packedSize) return ItemEnd::Fail;
    distance = static_cast<std::int32_t>(distanceCode - kFirstExtendedDistanceCode) * 256 + packed[consumed++];
  }

  const std::int32_t room = unpackedSize - produced;
  if (length > room) {
    // One byte too many is cut silently; more ends the stream, which then
    // fails unless the output was already complete.
    if (length - room > 1) return ItemEnd::Stop;
    length = room;
  }
  if (length > 0) {
    // The block holds no bytes before its first one: such a reference has
    // no source. Distance 0 reads the very bytes it writes.
    if (distance > produced) return ItemEnd::Fail;
    Copy(output + produced, distance, length);
    produced += length;
  }
  return ItemEnd::Next;
}

}  // namespace

bool UnpackMarielPlain(std::uint8_t* output, const std::uint8_t* packed, std::int32_t unpackedSize,
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
    const ItemEnd end = DecodeItemChecked<CopyBackReference>((flags & mask) != 0, output, packed, unpackedSize,
                                                             packedSize, produced, consumed);
    if (end == ItemEnd::Fail) return false;
    if (end == ItemEnd::Stop) break;
    mask >>= 1;
  } while (produced < unpackedSize && consumed < packedSize);

  assert(consumed <= packedSize && produced <= unpackedSize);
  return consumed == packedSize && produced == unpackedSize;
}

namespace {

// A group's items as bits: the flag word in the upper half, one item per bit
// from bit 63 down, and a sentinel bit below the last item. Shifting out the
// items one run at a time leaves the sentinel alone at bit 63 when the group
// is done; countl_zero never sees zero.
constexpr std::uint64_t kGroupSentinel = std::uint64_t{1} << 31;
constexpr std::uint64_t kGroupDone = std::uint64_t{1} << 63;

inline std::uint64_t GroupBits(std::uint32_t flags) { return (std::uint64_t{flags} << 32) | kGroupSentinel; }

// The fast path moves 16 bytes at a time without trimming the last move to
// the item's end: up to 15 bytes past the bytes a back-reference produces,
// up to 32 past a run of literals. These stores land in output not yet
// produced, which the following items overwrite, so they need room, not
// care: a back-reference takes the fast path only with at least
// kSpareOutput bytes after it, a run of literals only with kRunOutput bytes
// in front of it.
constexpr std::int32_t kSpareOutput = 16;
constexpr std::int32_t kRunOutput = kItemsPerFlagWord + kSpareOutput;

// Packed bytes after a flag word that let its group's items be read
// unchecked: the items take at most kMaxGroupItemBytes, and a run of
// literals reads 32 bytes from its start, at most kMaxGroupItemBytes - 1
// bytes in.
constexpr std::int32_t kFastInputMargin = kMaxGroupItemBytes + kItemsPerFlagWord;

inline void Move16(std::uint8_t* target, const std::uint8_t* source) { std::memcpy(target, source, 16); }

// A back-reference at distance >= 16 in 16-byte moves. Each move reads bytes
// at least 16 behind its first store, so they are final when it reads them.
// Stores up to 15 bytes past target + length.
inline void CopyFarOverlong(std::uint8_t* target, std::int32_t distance, std::int32_t length) {
  assert(distance >= 16);
  const std::uint8_t* source = target - distance;
  Move16(target, source);
  for (std::int32_t i = 16; i < length; i += 16) Move16(target + i, source + i);
}

}  // namespace

bool UnpackMariel(std::uint8_t* output, const std::uint8_t* packed, std::int32_t unpackedSize,
                  std::int32_t packedSize, ProgressReporter reporter) {
  if (unpackedSize < 0 || packedSize < 0) return false;
  if (packedSize == 0) return unpackedSize == 0;  // no item, no report

  std::int32_t produced = 0;
  std::int32_t consumed = 0;
  std::uint8_t* const outputEnd = output + unpackedSize;
  // Invariants: 0 <= consumed <= packedSize and 0 <= produced <= unpackedSize,
  // so the differences below neither wrap nor go negative. Each pass of the
  // outer loop reads one flag word and decodes up to 32 items; after every
  // item, decoding goes on only while produced < unpackedSize and
  // consumed < packedSize, as in UnpackMarielPlain.
  for (;;) {
    if (packedSize - consumed < kFlagWordBytes) return false;
    std::uint64_t bits = GroupBits(ReadLe32(packed + consumed));
    consumed += kFlagWordBytes;
    Report(reporter, consumed, packedSize);

    if (packedSize - consumed >= kFastInputMargin) {
      // Fast path: the group's items cannot run out of packed bytes, and
      // consumed stays below packedSize after each of them. An item whose
      // output would come near the end of the block leaves the rest of the
      // group to the careful path below, which starts again at that item;
      // so here produced stays below unpackedSize as well. The stores past
      // each item's end and one 16-byte move for the common copy remove the
      // length-dependent branches, which mispredicted on most items: 178 ->
      // 257 MB/s on text-like and 213 -> 255 on binary-like streams
      // (bench/stage_bench; the plain decoder 108 and 158), `pak test` of
      // the corpus as one entry 340 -> 180 ms.
      const std::uint8_t* in = packed + consumed;
      std::uint8_t* out = output + produced;
      for (;;) {
        // The literals before the next back-reference (or the end of the
        // group): a run of 0 to 32.
        if (outputEnd - out < kRunOutput) break;
        const int run = std::countl_zero(bits);
        Move16(out, in);
        if (run > 16) Move16(out + 16, in + 16);
        out += run;
        in += run;
        bits <<= run;
        if (bits == kGroupDone) break;

        // A back-reference: the top bit is set.
        const std::uint8_t* const item = in;
        const unsigned token = *in++;
        const unsigned lengthCode = token >> 4;
        const unsigned distanceCode = token & 0x0F;
        std::int32_t length = static_cast<std::int32_t>(lengthCode) + 1;
        if (lengthCode >= kLengthCodeOneByte) [[unlikely]] {
          if (lengthCode == kLengthCodeOneByte) {
            length = *in++;
          } else {
            length = ReadLe16(in);
            in += 2;
          }
        }
        // Almost every distance takes the extension byte (the short codes
        // reach only 1..10): read it anyway and select, without a branch.
        const bool extended = distanceCode >= kFirstExtendedDistanceCode;
        const std::int32_t distance = extended
                                          ? static_cast<std::int32_t>(distanceCode - kFirstExtendedDistanceCode) * 256 + *in
                                          : static_cast<std::int32_t>(distanceCode) + 1;
        in += extended;
        if (outputEnd - out - kSpareOutput < length) {
          in = item;
          break;
        }
        if (distance > out - output) [[unlikely]] {
          if (length > 0) return false;  // reaches before the first output byte
        } else if (distance >= 16) [[likely]] {
          if (length <= 16) [[likely]] {
            Move16(out, out - distance);
          } else {
            CopyFarOverlong(out, distance, length);
          }
        } else if (length > 0) {
          CopyBackReferenceFast(out, distance, length);
        }
        out += length;
        bits <<= 1;
      }
      consumed = static_cast<std::int32_t>(in - packed);
      produced = static_cast<std::int32_t>(out - output);
      // produced equals unpackedSize only when both are 0: the first run of
      // literals then left at once.
      assert(consumed < packedSize && (produced < unpackedSize || unpackedSize == 0));
    }

    // Careful path: the group near the end of the packed data, or the rest
    // of a group whose output came near the end of the block. Every read is
    // checked and every store is exact.
    for (; bits != kGroupDone; bits <<= 1) {
      const ItemEnd end = DecodeItemChecked<CopyBackReferenceFast>((bits & kGroupDone) != 0, output, packed,
                                                                   unpackedSize, packedSize, produced, consumed);
      if (end == ItemEnd::Fail) return false;
      if (end == ItemEnd::Stop) goto Finish;
      if (produced == unpackedSize || consumed == packedSize) goto Finish;
    }
  }
Finish:
  assert(consumed <= packedSize && produced <= unpackedSize);
  return consumed == packedSize && produced == unpackedSize;
}
