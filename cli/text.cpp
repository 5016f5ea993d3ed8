#include "text.h"

#include <iconv.h>

#include <cerrno>
#include <cstdio>
#include <stdexcept>

namespace {

// glibc's "CP932" keeps 0x5C a backslash (SHIFT_JIS would make it a yen sign).
class Cp932Decoder {
 public:
  Cp932Decoder() : handle_(iconv_open("UTF-8", "CP932")) {
    if (handle_ == reinterpret_cast<iconv_t>(-1)) throw std::runtime_error("iconv: CP932 is not available");
  }
  Cp932Decoder(const Cp932Decoder&) = delete;
  Cp932Decoder& operator=(const Cp932Decoder&) = delete;
  ~Cp932Decoder() { iconv_close(handle_); }

  std::string Decode(std::string_view bytes) {
    std::string out;
    iconv(handle_, nullptr, nullptr, nullptr, nullptr);
    char* in = const_cast<char*>(bytes.data());
    std::size_t inLeft = bytes.size();
    char buffer[256];
    while (inLeft > 0) {
      char* outPtr = buffer;
      std::size_t outLeft = sizeof buffer;
      const std::size_t done = iconv(handle_, &in, &inLeft, &outPtr, &outLeft);
      out.append(buffer, static_cast<std::size_t>(outPtr - buffer));
      if (done != static_cast<std::size_t>(-1)) continue;
      if (errno == E2BIG) continue;
      // EILSEQ or EINVAL (a lead byte at the end): one replacement, one byte.
      out += "\xEF\xBF\xBD";
      ++in;
      --inLeft;
      iconv(handle_, nullptr, nullptr, nullptr, nullptr);
    }
    return out;
  }

 private:
  iconv_t handle_;
};

}  // namespace

std::string Cp932ToUtf8(std::string_view bytes) {
  thread_local Cp932Decoder decoder;
  return decoder.Decode(bytes);
}

std::optional<std::string> Utf8ToCp932(std::string_view utf8) {
  iconv_t handle = iconv_open("CP932", "UTF-8");
  if (handle == reinterpret_cast<iconv_t>(-1)) throw std::runtime_error("iconv: CP932 is not available");
  std::string out;
  char* in = const_cast<char*>(utf8.data());
  std::size_t inLeft = utf8.size();
  bool ok = true;
  char buffer[256];
  while (inLeft > 0) {
    char* outPtr = buffer;
    std::size_t outLeft = sizeof buffer;
    const std::size_t done = iconv(handle, &in, &inLeft, &outPtr, &outLeft);
    out.append(buffer, static_cast<std::size_t>(outPtr - buffer));
    if (done == static_cast<std::size_t>(-1) && errno != E2BIG) {
      ok = false;
      break;
    }
  }
  iconv_close(handle);
  if (!ok) return std::nullopt;
  return out;
}

std::string HexOf(std::string_view bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  for (const char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    out += kDigits[byte >> 4];
    out += kDigits[byte & 15];
  }
  return out;
}

std::string JsonString(std::string_view utf8) {
  std::string out = "\"";
  for (const char c : utf8) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (byte < 0x20 || byte == 0x7F) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", byte);
      out += escape;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

std::string EscapeControls(std::string_view utf8) {
  std::string out;
  for (const char c : utf8) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\x%02x", byte);
      out += escape;
    } else {
      out += c;
    }
  }
  return out;
}

std::size_t DisplayWidth(std::string_view utf8) {
  std::size_t width = 0;
  for (std::size_t i = 0; i < utf8.size();) {
    const auto lead = static_cast<unsigned char>(utf8[i]);
    std::uint32_t code = lead;
    std::size_t length = 1;
    if (lead >= 0xF0) {
      code = lead & 0x07, length = 4;
    } else if (lead >= 0xE0) {
      code = lead & 0x0F, length = 3;
    } else if (lead >= 0xC0) {
      code = lead & 0x1F, length = 2;
    }
    for (std::size_t k = 1; k < length && i + k < utf8.size(); ++k) {
      code = (code << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
    }
    i += length;
    const bool wide = (code >= 0x1100 && code <= 0x115F) || (code >= 0x2E80 && code <= 0xA4CF) ||
                      (code >= 0xAC00 && code <= 0xD7A3) || (code >= 0xF900 && code <= 0xFAFF) ||
                      (code >= 0xFE30 && code <= 0xFE4F) || (code >= 0xFF00 && code <= 0xFF60) ||
                      (code >= 0xFFE0 && code <= 0xFFE6) || (code >= 0x20000 && code <= 0x3FFFD);
    width += wide ? 2 : 1;
  }
  return width;
}

std::string PadRight(std::string_view utf8, std::size_t width) {
  std::string out(utf8);
  const std::size_t used = DisplayWidth(utf8);
  if (used < width) out.append(width - used, ' ');
  return out;
}
