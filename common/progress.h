// Progress reports from the decoders to the host.
#pragma once

#include <cstdint>

#include "spi.h"

struct ProgressReporter {
  std::int32_t total = 0;             // total given with the latest report
  ProgressCallback callback = nullptr;  // may be null
  std::int32_t userData = 0;          // handed back unchanged
};

// Stores total; calls the host's callback, if any, with (done, total,
// userData). Throws ESpiError(Aborted) when the callback answers nonzero.
void Report(ProgressReporter& reporter, std::int32_t done, std::int32_t total);
