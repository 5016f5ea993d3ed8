// A host progress callback for tests: records (done, total) of every call
// and answers nonzero at a chosen call.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <utility>
#include <vector>

#include "progress.h"
#include "spi.h"

using Reports = std::vector<std::pair<std::int32_t, std::int32_t>>;

struct Recorder {
  Reports reports;
  int abortAtCall = 0;  // counted from 1; 0: never
  std::int32_t userData = 0x5A5A;  // what every call must hand back
};
inline Recorder recorder;

inline std::int32_t SPI_CALL Record(std::int32_t done, std::int32_t total, std::int32_t userData) {
  EXPECT_EQ(userData, recorder.userData);
  recorder.reports.emplace_back(done, total);
  return static_cast<int>(recorder.reports.size()) == recorder.abortAtCall ? 1 : 0;
}

// Starts a new record; the reporter calls Record with the expected user data.
inline ProgressReporter Reporter(int abortAtCall = 0, std::int32_t userData = 0x5A5A) {
  recorder = {};
  recorder.abortAtCall = abortAtCall;
  recorder.userData = userData;
  return ProgressReporter{0, Record, userData};
}
