#include "frequency_model.h"

#include <cassert>
#include <cstddef>
#include <cstdio>
#include <cstdlib>

#include "result.h"

// Symbol:        0    1    2    3    4    5   6   7   8   9  10  11  12-15
// Frequency:  1400  640  320  240  160  120  80  64  48  40  32  24  20
// Symbol:     16-19 20-25 26-31 32-47 48-63 64-95 96-133 134-256
// Frequency:     16    12     8     6     5     4      3       2
const std::int32_t InitialFrequencies[kInitialFrequencyCount] = {
    1400, 640, 320, 240, 160, 120, 80, 64, 48, 40, 32, 24, 20, 20, 20, 20,  // 0
    16,   16,  16,  16,  12,  12,  12, 12, 12, 12, 8,  8,  8,  8,  8,  8,   // 16
    6,    6,   6,   6,   6,   6,   6,  6,  6,  6,  6,  6,  6,  6,  6,  6,   // 32
    5,    5,   5,   5,   5,   5,   5,  5,  5,  5,  5,  5,  5,  5,  5,  5,   // 48
    4,    4,   4,   4,   4,   4,   4,  4,  4,  4,  4,  4,  4,  4,  4,  4,   // 64
    4,    4,   4,   4,   4,   4,   4,  4,  4,  4,  4,  4,  4,  4,  4,  4,   // 80
    3,    3,   3,   3,   3,   3,   3,  3,  3,  3,  3,  3,  3,  3,  3,  3,   // 96
    3,    3,   3,   3,   3,   3,   3,  3,  3,  3,  3,  3,  3,  3,  3,  3,   // 112
    3,    3,   3,   3,   3,   3,   2,  2,  2,  2,  2,  2,  2,  2,  2,  2,   // 128
    2,    2,   2,   2,   2,   2,   2,  2,  2,  2,  2,  2,  2,  2,  2,  2,   // 144
    2,    2,   2,   2,   2,   2,   2,  2,  2,  2,  2,  2,  2,  2,  2,  2,   // 160
    2,    2,   2,   2,   2,   2,   2,  2,  2,  2,  2,  2,  2,  2,  2,  2,   // 176
    2,    2,   2,   2,   2,   2,   2,  2,  2,  2,  2,  2,  2,  2,  2,  2,   // 192
    2,    2,   2,   2,   2,   2,   2,  2,  2,  2,  2,  2,  2,  2,  2,  2,   // 208
    2,    2,   2,   2,   2,   2,   2,  2,  2,  2,  2,  2,  2,  2,  2,  2,   // 224
    2,    2,   2,   2,   2,   2,   2,  2,  2,  2,  2,  2,  2,  2,  2,  2,   // 240
    2,                                                                       // 256
};

namespace {

// Index 7 bits of a cumulative value, whatever the total.
constexpr std::int32_t kSearchIndexBits = 7;
constexpr std::int32_t kSentinelEntry = kSearchTableEntries - 1;

}  // namespace

void InitModel(FrequencyModel* model, std::int32_t symbols, std::int32_t lgTotal, std::int32_t rescaleLimit,
               const std::int32_t* initial) {
  assert(model->cumFreq == nullptr && model->newFreq == nullptr && model->searchTable == nullptr);
  assert(lgTotal >= kSearchIndexBits && lgTotal <= 15 && symbols >= 2 && symbols <= (1 << (lgTotal - 1)));
  model->symbols = symbols;
  model->rescaleLimit = rescaleLimit;
  model->searchShift = lgTotal > kSearchIndexBits ? lgTotal - kSearchIndexBits : 0;

  const std::size_t frequencyEntries = static_cast<std::size_t>(symbols) + 1;
  model->cumFreq = static_cast<std::uint16_t*>(std::calloc(frequencyEntries, sizeof(std::uint16_t)));
  model->newFreq = static_cast<std::uint16_t*>(std::calloc(frequencyEntries, sizeof(std::uint16_t)));
  model->searchTable = static_cast<std::uint16_t*>(std::calloc(kSearchTableEntries, sizeof(std::uint16_t)));
  if (model->cumFreq == nullptr || model->newFreq == nullptr || model->searchTable == nullptr) {
    FreeModel(model);
    throw ESpiError(OutOfMemory);
  }

  model->cumFreq[symbols] = static_cast<std::uint16_t>(1 << lgTotal);
  model->cumFreq[0] = 0;
  model->searchTable[kSentinelEntry] = static_cast<std::uint16_t>(symbols - 1);
  ResetModel(model, initial);
}

void ResetModel(FrequencyModel* model, const std::int32_t* initial) {
  // The first full rescale doubles this, so the first interval is 36 updates
  // for 257 symbols.
  model->rescale = (model->symbols >> 4) | 2;
  model->nextLeft = 0;
  for (std::int32_t i = 0; i < model->symbols; ++i) {
    model->newFreq[i] = static_cast<std::uint16_t>(initial[i]);
  }
  RescaleModel(model);
}

void RescaleModel(FrequencyModel* model) {
  if (RescaleModelCounts(model)) BuildSearchTable(model);
}

bool RescaleModelCounts(FrequencyModel* model) {
  if (model->nextLeft != 0) {
    ++model->increment;
    model->left = model->nextLeft;
    model->nextLeft = 0;
    return false;
  }

  if (model->rescale < model->rescaleLimit) {
    model->rescale *= 2;
    if (model->rescale > model->rescaleLimit) model->rescale = model->rescaleLimit;
  }

  const std::int32_t n = model->symbols;
  std::uint16_t* cumFreq = model->cumFreq;
  std::uint16_t* newFreq = model->newFreq;
  std::int32_t c = cumFreq[n];
  std::int32_t missing = cumFreq[n];
  for (std::int32_t i = n - 1; i >= 1; --i) {
    const std::int32_t f = newFreq[i];
    c -= f;
    cumFreq[i] = static_cast<std::uint16_t>(c);
    const std::int32_t h = (f >> 1) | 1;
    missing -= h;
    newFreq[i] = static_cast<std::uint16_t>(h);
  }
  // The pending frequencies add up to the total exactly when what is left
  // of it is symbol 0's. Since c only fell on the way, every cumFreq entry
  // written above then lies in 0 .. total.
  if (c != newFreq[0]) {
    std::fprintf(stderr, "BUG: rescaling left %d total frequency\n", static_cast<int>(c));
    FreeModel(model);
    std::exit(1);
  }
  const std::int32_t h = (newFreq[0] >> 1) | 1;
  newFreq[0] = static_cast<std::uint16_t>(h);
  missing -= h;

  // The halves add up to at most total / 2 + n, so missing is not negative.
  model->increment = missing / model->rescale;
  model->nextLeft = missing % model->rescale;
  model->left = model->rescale - model->nextLeft;
  return true;
}

void BuildSearchTable(FrequencyModel* model) {
  // Descending, so that where several symbols meet one slice the smallest
  // one stays. The last slice is (total - 1) >> searchShift = 127: the
  // sentinel entry is never written.
  const std::int32_t n = model->symbols;
  const std::uint16_t* cumFreq = model->cumFreq;
  const std::int32_t shift = model->searchShift;
  std::uint16_t* searchTable = model->searchTable;
  for (std::int32_t i = n; i >= 1; --i) {
    const std::int32_t first = cumFreq[i - 1] >> shift;
    const std::int32_t last = (cumFreq[i] - 1) >> shift;
    for (std::int32_t j = first; j <= last; ++j) searchTable[j] = static_cast<std::uint16_t>(i - 1);
  }
}

void FreeModel(FrequencyModel* model) {
  std::free(model->cumFreq);
  std::free(model->newFreq);
  std::free(model->searchTable);
  model->cumFreq = nullptr;
  model->newFreq = nullptr;
  model->searchTable = nullptr;
}

std::int32_t FindSymbol(const FrequencyModel* model, std::int32_t value) {
  // searchTable[j] is no larger than the answer, and the answer is no larger
  // than the symbol holding the first value of slice j + 1.
  const std::int32_t j = value >> model->searchShift;
  std::int32_t lo = model->searchTable[j];
  std::int32_t hi = model->searchTable[j + 1] + 1;
  while (lo + 1 < hi) {
    const std::int32_t mid = (lo + hi) >> 1;
    if (value < model->cumFreq[mid]) {
      hi = mid;
    } else {
      lo = mid;
    }
  }
  return lo;
}

void UpdateModel(FrequencyModel* model, std::int32_t symbol) {
  if (model->left <= 0) RescaleModel(model);
  --model->left;
  model->newFreq[symbol] = static_cast<std::uint16_t>(model->newFreq[symbol] + model->increment);
}
