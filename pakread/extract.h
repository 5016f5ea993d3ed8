// Extraction of one entry: the archive header test, the output block, and
// the dispatch over the four storage methods.
#pragma once

#include <cstdint>

#include "input.h"
#include "main.h"
#include "platform.h"
#include "result.h"
#include "spi.h"

// output[i] = ~packed[i] for i below count.
void UnpackNotCode(std::uint8_t* output, const std::uint8_t* packed, std::uint32_t count);

// Undoes entry's method from packed into output (unpackedSize bytes,
// zero-filled). packed is null when the entry's packed data do not lie
// within the archive. Results: UnsupportedFormat for a method above 3 or a
// None/NotCode entry whose sizes differ; BrokenData for packed data outside
// the archive or a stream that does not decode to exactly the entry's
// sizes; Success. Lets ESpiError (Aborted, BrokenData, OutOfMemory) pass.
ResultCode DecodeEntry(const PakEntry& entry, std::uint8_t* output, const std::uint8_t* packed,
                       ProgressCallback callback, std::int32_t userData);

// Extracts the entry whose directory record lies at input.argument from
// the archive at input.base (input.size bytes) into a new LocalAlloc block
// stored in *block. archiveName null (memory input) answers NotImplemented
// at once. UnsupportedFormat when the archive header test fails;
// BrokenData when the record lies outside the archive; OutOfMemory when the
// block cannot be allocated. On any result but Success, and when an
// exception leaves, the block is freed and *block is null. Nothing outside
// input.base[0, input.size) is read.
ResultCode ExtractEntry(const InputSource& input, const char* archiveName, HLOCAL* block,
                        ProgressCallback callback, std::int32_t userData);
