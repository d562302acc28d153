// The state that detectors and size rules share while one sector is
// identified and its file measured, plus what carries over between calls of
// one carving scan (the stream flags and the measured transport streams).
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "engine/recovery_parse.h"
#include "engine/signatures/sector_source.h"

namespace selvane {

// One measured transport stream: absolute sectors, both inclusive.
struct TsRange {
  uint64_t firstSector = 0;
  uint64_t lastSector = 0;
};

// Progress values of the caller, passed through to the callback while a size
// rule reads ahead.
struct CarveProgress {
  uint64_t doneSectors = 0;
  uint64_t totalSectors = 0;
  int32_t secondsLeft = -1;
  uint64_t filesFound = 0;
};

inline constexpr uint32_t kScratchBytes = 65536;

class CarveContext {
 public:
  CarveContext() = default;
  CarveContext(const CarveContext&) = delete;
  CarveContext& operator=(const CarveContext&) = delete;

  // The scan's progress callback and its scale (from SetCallbacks).
  void SetProgressCallback(ProgressCallback callback, int32_t scale) {
    progressCallback = std::move(callback);
    progressScale = scale;
  }
  // Starts a new scan: forgets the measured transport streams.
  void ClearTsRanges() { tsRanges.clear(); }
  bool InsideTsRange(uint64_t sector) const;

  // Reads `count` sectors at `first` into `out` (count x sectorSize bytes);
  // true only when all arrived.
  bool ReadFull(uint64_t first, uint32_t count, std::span<uint8_t> out) const;

  // The 64 KiB read-ahead buffer of the size rules.
  std::span<uint8_t> Scratch();
  // A buffer of at least `bytes` for the detectors that read (kept between calls).
  std::span<uint8_t> DetectorBuffer(size_t bytes);

  // Set for every call.
  const SectorSource* source = nullptr;
  uint32_t sectorSize = 512;
  uint64_t candidateStart = 0;
  uint64_t sectorUnderTest = 0;
  CarveProgress progress;
  int32_t cancelResult = 0;

  // Carried over between calls.
  bool tsCheck = true;
  bool mtsActive = false;
  std::vector<TsRange> tsRanges;

  ProgressCallback progressCallback;
  int32_t progressScale = 0;

 private:
  std::vector<uint8_t> scratch_;
  std::vector<uint8_t> detectorBuffer_;
};

}  // namespace selvane
