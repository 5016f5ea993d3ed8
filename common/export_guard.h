// The handler every export's body runs in.
#pragma once

#include <cstdint>

#include "result.h"

// Runs body and returns its result. An ESpiError that escapes becomes its
// code; any other exception becomes otherFailure (InternalError for the
// reading exports, 0 for GetPluginInfo and IsSupported). Whatever body
// acquired is released by its own scoped objects as the exception passes.
template <class Body>
std::int32_t GuardExport(std::int32_t otherFailure, Body&& body) noexcept {
  try {
    return body();
  } catch (const ESpiError& error) {
    return error.code;
  } catch (...) {
    return otherFailure;
  }
}
