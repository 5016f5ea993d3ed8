// Quasistatic model of symbol frequencies for the range decoder.
//
// The cumulative table in force (cumFreq, total 2^lgTotal) changes only at
// full rescales; between them every counted symbol adds `increment` (later
// `increment` + 1) to its pending frequency in newFreq, chosen so that the
// pending frequencies reach exactly the total when the next full rescale
// runs. A full rescale rebuilds cumFreq and searchTable from newFreq and
// halves newFreq ((f >> 1) | 1, so never below 1). Intervals between full
// rescales start at 2 * ((symbols >> 4) | 2) updates and double up to
// rescaleLimit.
#pragma once

#include <cstdint>

struct FrequencyModel {
  std::int32_t symbols = 0;       // n
  std::int32_t left = 0;          // updates still to add `increment`
  std::int32_t nextLeft = 0;      // then updates to add `increment` + 1; 0 once begun
  std::int32_t rescale = 0;       // updates from one full rescale to the next
  std::int32_t rescaleLimit = 0;  // upper bound of `rescale`
  std::int32_t increment = 0;
  std::int32_t searchShift = 0;   // cumulative value >> searchShift = searchTable index
  // n + 1 entries: cumFreq[0] = 0, cumFreq[n] = the total; symbol s covers
  // cumFreq[s] .. cumFreq[s + 1] - 1, at least one value from the first
  // rescale on.
  std::uint16_t* cumFreq = nullptr;
  // Pending frequencies, one per symbol (n + 1 entries allocated).
  std::uint16_t* newFreq = nullptr;
  // kSearchTableEntries entries: entry j < 128 is the smallest symbol whose
  // interval meets the values j << searchShift .. ((j + 1) << searchShift) - 1;
  // entry 128 is the sentinel n - 1.
  std::uint16_t* searchTable = nullptr;
};

constexpr std::int32_t kSearchTableEntries = 129;

// The initial frequencies of the 257 symbols of the Cocotte method (bytes 0
// to 255 and the end symbol 256); they add up to 4096. The model takes the
// low 16 bits of each.
inline constexpr std::int32_t kInitialFrequencyCount = 257;
extern const std::int32_t InitialFrequencies[kInitialFrequencyCount];

// Allocates the tables and brings the model to its initial state: the first
// full rescale has run and its first interval of updates has begun.
// REQUIRES: the three table pointers are null (fresh or after FreeModel),
// 7 <= lgTotal <= 15, 2 <= symbols <= 2^(lgTotal - 1), rescaleLimit >= 1,
// initial holds `symbols` entries whose low 16 bits are at least 1 and add
// up to 2^lgTotal.
// Throws ESpiError(OutOfMemory) when a table cannot be allocated; then no
// table is left allocated and all three pointers are null.
void InitModel(FrequencyModel* model, std::int32_t symbols, std::int32_t lgTotal, std::int32_t rescaleLimit,
               const std::int32_t* initial);

// Loads the initial frequencies and runs the first full rescale.
void ResetModel(FrequencyModel* model, const std::int32_t* initial);

// Starts the second phase of an interval when one is pending (increment + 1
// for nextLeft updates), otherwise runs a full rescale. When the pending
// frequencies do not add up to the total (a corrupted model; no input can
// cause it) writes "BUG: rescaling left %d total frequency\n" to stderr,
// frees the tables and ends the process with status 1.
void RescaleModel(FrequencyModel* model);

// RescaleModel without the search table: a full rescale rebuilds cumFreq
// and the pending frequencies and leaves searchTable as it was. True when
// it ran a full rescale; searchTable must then be brought up to date (as by
// BuildSearchTable) before FindSymbol is used again.
bool RescaleModelCounts(FrequencyModel* model);

// searchTable from cumFreq.
void BuildSearchTable(FrequencyModel* model);

// Releases the tables and nulls their pointers; harmless on a model whose
// tables are already released.
void FreeModel(FrequencyModel* model);

// freq = cumFreq[symbol + 1] - cumFreq[symbol], cumLow = cumFreq[symbol].
// REQUIRES: 0 <= symbol < symbols.
inline void GetFrequency(const FrequencyModel* model, std::int32_t symbol, std::int32_t* freq,
                         std::int32_t* cumLow) {
  *cumLow = model->cumFreq[symbol];
  *freq = model->cumFreq[symbol + 1] - *cumLow;
}

// The symbol s with cumFreq[s] <= value < cumFreq[s + 1].
// REQUIRES: 0 <= value < the total.
std::int32_t FindSymbol(const FrequencyModel* model, std::int32_t value);

// Counts one occurrence of symbol; may rescale first.
// REQUIRES: 0 <= symbol < symbols.
void UpdateModel(FrequencyModel* model, std::int32_t symbol);
