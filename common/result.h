// Result codes of the reading exports and the system's one exception type.
#pragma once

#include <cstdint>
#include <exception>

// Signed 32-bit result of every listing and reading export. 4 and 7 are
// never returned.
enum ResultCode : std::int32_t {
  Success = 0,
  NotImplemented = -1,
  Aborted = 1,
  UnsupportedFormat = 2,
  BrokenData = 3,
  OutOfMemory = 5,
  FileError = 6,
  InternalError = 8,
};

// Carries a ResultCode from deep inside a computation to the export that
// started it. Thrown by value, caught by reference; adds no virtual
// operations of its own.
class ESpiError : public std::exception {
 public:
  explicit ESpiError(ResultCode errorCode) noexcept : code(errorCode) {}
  std::int32_t code;
};
