// The palette search and read: folder search, open and one 768-byte read.
#include <cstring>

#include "wbm.h"

namespace {

constexpr char kPalettePattern[] = "*.act";  // with its NUL

}  // namespace

bool FindPaletteInFolder(const char* folder, std::size_t folderBytes, char (&path)[MAX_PATH]) {
  if (folderBytes > sizeof path - sizeof kPalettePattern) return false;
  std::memcpy(path, folder, folderBytes);
  std::memcpy(path + folderBytes, kPalettePattern, sizeof kPalettePattern);
  WIN32_FIND_DATAA found;
  const HANDLE search = FindFirstFileA(path, &found);
  path[folderBytes] = '\0';
  if (search == INVALID_HANDLE_VALUE) return false;
  FindClose(search);
  // Only the first match counts: the folder's own enumeration order.
  const std::size_t nameBytes = strnlen(found.cFileName, sizeof found.cFileName);
  if (nameBytes == sizeof found.cFileName || nameBytes >= sizeof path - folderBytes) return false;
  std::memcpy(path + folderBytes, found.cFileName, nameBytes + 1);
  return true;
}

bool FindPaletteFile(const char* imageName, char (&path)[MAX_PATH]) {
  if (imageName == nullptr) return false;
  // Host names are ANSI code page text: in a double-byte character the
  // second byte may be 0x5C, which is not a separator there.
  std::size_t folderBytes = 0;
  for (std::size_t i = 0; imageName[i] != '\0'; ++i) {
    if (imageName[i] == '\\') {
      folderBytes = i + 1;
    } else if (IsDBCSLeadByte(static_cast<BYTE>(imageName[i])) && imageName[i + 1] != '\0') {
      ++i;
    }
  }
  if (folderBytes == 0) return false;
  return FindPaletteInFolder(imageName, folderBytes, path);
}

HANDLE OpenPaletteFile(const char* imageName) {
  char path[MAX_PATH];
  if (!FindPaletteFile(imageName, path)) return INVALID_HANDLE_VALUE;
  return CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

bool ReadPalette(HANDLE file, RGBQUAD (&colors)[kPaletteEntries]) {
  std::uint8_t table[kColorTableBytes];
  DWORD delivered = 0;
  if (file != INVALID_HANDLE_VALUE && ReadFile(file, table, sizeof table, &delivered, nullptr) &&
      delivered == sizeof table) {
    FillColorsFromTable(table, colors);
    return true;
  }
  FillGreyRamp(colors);
  return false;
}
