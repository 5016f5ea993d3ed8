#include "progress.h"

#include "result.h"

void Report(ProgressReporter& reporter, std::int32_t done, std::int32_t total) {
  reporter.total = total;
  if (reporter.callback == nullptr) return;
  if (reporter.callback(done, total, reporter.userData) != 0) throw ESpiError(Aborted);
}
