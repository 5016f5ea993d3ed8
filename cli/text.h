// Text helpers of the command-line tool: code page 932 names, escaping.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

// Decodes code page 932 bytes to UTF-8; a byte sequence that does not
// decode becomes U+FFFD and decoding resumes at the next byte.
std::string Cp932ToUtf8(std::string_view bytes);

// Encodes UTF-8 text in code page 932; none when a character has no
// code page 932 form or the text is not valid UTF-8.
std::optional<std::string> Utf8ToCp932(std::string_view utf8);

// Lower-case hex of the bytes, two digits each.
std::string HexOf(std::string_view bytes);

// A JSON string literal, quotes included.
std::string JsonString(std::string_view utf8);

// The text with control characters (below 0x20 and 0x7F) shown as \xNN, for
// a terminal table.
std::string EscapeControls(std::string_view utf8);

// Terminal columns the UTF-8 text takes: 2 for East Asian wide and
// full-width characters, 1 for others.
std::size_t DisplayWidth(std::string_view utf8);

// The text followed by spaces up to width columns.
std::string PadRight(std::string_view utf8, std::size_t width);
