#include "plugin_info.h"

#include <cstring>

const char* PluginInfoString(const PluginInfoTable& table, std::int32_t index) {
  if (index < 0 || index > 3) return nullptr;
  return table.strings[index];
}

std::int32_t BoundedLength(const char* text, std::int32_t limit) {
  std::int32_t length = 0;
  while (length < limit && text[length] != '\0') ++length;
  return length;
}

std::int32_t CopyPluginInfo(const PluginInfoTable& table, std::int32_t infoNo, char* buffer,
                            std::int32_t bufferLength) {
  const char* text = PluginInfoString(table, infoNo);
  if (text == nullptr) return 0;
  // bufferLength - 1 in 64 bits: INT32_MIN must not wrap to a large limit.
  const std::int64_t room = static_cast<std::int64_t>(bufferLength) - 1;
  const std::int32_t length = room <= 0 ? 0 : BoundedLength(text, static_cast<std::int32_t>(room));
  if (length == 0) return 0;
  std::memcpy(buffer, text, static_cast<std::size_t>(length));
  buffer[length] = '\0';
  return length;
}
