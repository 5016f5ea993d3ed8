// GetPluginInfo over a module's table of four information strings.
#pragma once

#include <cstdint>

// 0: interface version, 1: description, 2: file pattern, 3: file type name.
struct PluginInfoTable {
  const char* strings[4];
};

// The string for index, or null for any index outside 0 to 3.
const char* PluginInfoString(const PluginInfoTable& table, std::int32_t index);

// Bytes before the string's NUL, counting at most limit; 0 when limit is 0
// or negative.
std::int32_t BoundedLength(const char* text, std::int32_t limit);

// Copies the string for infoNo, cut to bufferLength - 1 bytes, and a NUL;
// returns the bytes copied without the NUL. Writes nothing and returns 0 for
// an unknown index or when nothing would be copied.
std::int32_t CopyPluginInfo(const PluginInfoTable& table, std::int32_t infoNo, char* buffer,
                            std::int32_t bufferLength);
