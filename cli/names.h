// Entry names as file names: decoding with reversible escapes, and the
// rules that keep every extracted file inside the output folder.
//
// Rules, in order:
//  1. The raw name bytes are decoded with the chosen code page (CP932 by
//     default) into UTF-8. A byte that does not decode becomes %XX (upper-
//     case hex) and '%' itself becomes %25, so every %XX in a file name is
//     an escape and the raw bytes can be told from the file name.
//  2. The decoded text is split on both '/' and '\' (decoding comes first:
//     a double-byte character's second byte may be 0x5C).
//  3. Refused (the entry is skipped with a warning): an empty name; a name
//     starting with a separator (absolute or UNC); a first component of the
//     form "X:" with a drive letter; any ".." component; a name with no
//     file part. Empty and "." components are dropped.
//  4. Escaped in each component: control characters (below 0x20 and 0x7F)
//     become %XX; a component that is a Windows device name (CON, PRN, AUX,
//     NUL, COM1-9, LPT1-9, any case, with or without an extension) gets its
//     first character %-escaped ("CON.TXT" -> "%43ON.TXT").
#pragma once

#include <string>
#include <string_view>
#include <vector>

// Decodes raw with the code page named encoding (glibc iconv name) as in
// rule 1. Throws std::invalid_argument when iconv does not know encoding.
std::string DecodeNameEscaped(std::string_view raw, const std::string& encoding);

struct SafePath {
  std::vector<std::string> components;  // folders, then the file name
  const char* refused = nullptr;        // why the name cannot be a path (rule 3)
  bool escaped = false;                 // rule 1 or 4 changed more than '%'
  std::string Joined() const;           // components joined with '/'
};

// Applies rules 2 to 4 to a name decoded by DecodeNameEscaped.
SafePath MakeSafePath(std::string_view decoded);
