#include "names.h"

#include <iconv.h>

#include <cerrno>
#include <cstdio>
#include <stdexcept>

namespace {

void AppendEscape(std::string& out, unsigned char byte) {
  char escape[4];
  std::snprintf(escape, sizeof escape, "%%%02X", byte);
  out += escape;
}

bool IsDeviceName(std::string_view component) {
  const std::string_view stem = component.substr(0, component.find('.'));
  std::string upper;
  for (const char c : stem) upper += static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
  if (upper == "CON" || upper == "PRN" || upper == "AUX" || upper == "NUL") return true;
  return upper.size() == 4 && (upper.starts_with("COM") || upper.starts_with("LPT")) && upper[3] >= '1' &&
         upper[3] <= '9';
}

}  // namespace

std::string DecodeNameEscaped(std::string_view raw, const std::string& encoding) {
  iconv_t handle = iconv_open("UTF-8", encoding.c_str());
  if (handle == reinterpret_cast<iconv_t>(-1)) {
    throw std::invalid_argument("iconv does not know the name encoding " + encoding);
  }
  std::string out;
  std::size_t start = 0;
  // One character at a time so that an undecodable byte is escaped alone and
  // '%' (decoded) is escaped too; names are at most 25 bytes.
  while (start < raw.size()) {
    if (raw[start] == '%') {
      out += "%25";
      ++start;
      continue;
    }
    bool decoded = false;
    for (std::size_t length = 1; length <= 4 && start + length <= raw.size() && !decoded; ++length) {
      iconv(handle, nullptr, nullptr, nullptr, nullptr);
      char* in = const_cast<char*>(raw.data() + start);
      std::size_t inLeft = length;
      char buffer[32];
      char* outPtr = buffer;
      std::size_t outLeft = sizeof buffer;
      const std::size_t done = iconv(handle, &in, &inLeft, &outPtr, &outLeft);
      if (done != static_cast<std::size_t>(-1) && inLeft == 0) {
        outLeft = sizeof buffer - static_cast<std::size_t>(outPtr - buffer);
        iconv(handle, nullptr, nullptr, &outPtr, &outLeft);
        out.append(buffer, static_cast<std::size_t>(outPtr - buffer));
        start += length;
        decoded = true;
      } else if (errno != EINVAL) {
        break;  // EILSEQ: no character starts here
      }
    }
    if (!decoded) AppendEscape(out, static_cast<unsigned char>(raw[start++]));
  }
  iconv_close(handle);
  return out;
}

std::string SafePath::Joined() const {
  std::string out;
  for (const std::string& component : components) out += (out.empty() ? "" : "/") + component;
  return out;
}

SafePath MakeSafePath(std::string_view decoded) {
  SafePath path;
  // An escape other than %25 means rule 1 escaped an undecodable byte.
  for (std::size_t i = 0; i + 2 < decoded.size(); ++i) {
    if (decoded[i] == '%' && decoded.substr(i, 3) != "%25") path.escaped = true;
  }
  if (decoded.empty()) {
    path.refused = "empty name";
    return path;
  }
  if (decoded[0] == '/' || decoded[0] == '\\') {
    path.refused = "absolute path";
    return path;
  }
  std::vector<std::string> parts(1);
  for (const char c : decoded) {
    if (c == '/' || c == '\\') {
      parts.emplace_back();
    } else {
      parts.back() += c;
    }
  }
  const std::string& first = parts.front();
  if (first.size() >= 2 && first[1] == ':' &&
      ((first[0] >= 'A' && first[0] <= 'Z') || (first[0] >= 'a' && first[0] <= 'z'))) {
    path.refused = "drive letter";
    return path;
  }
  for (const std::string& part : parts) {
    if (part == "..") {
      path.refused = "\"..\" component";
      path.components.clear();
      return path;
    }
    if (part.empty() || part == ".") continue;
    std::string safe;
    for (std::size_t i = 0; i < part.size(); ++i) {
      const auto byte = static_cast<unsigned char>(part[i]);
      if (byte < 0x20 || byte == 0x7F || (i == 0 && IsDeviceName(part))) {
        AppendEscape(safe, byte);
        path.escaped = true;
      } else {
        safe += part[i];
      }
    }
    path.components.push_back(std::move(safe));
  }
  if (path.components.empty() || parts.back().empty() || parts.back() == ".") {
    path.refused = "no file name";
    path.components.clear();
  }
  return path;
}
