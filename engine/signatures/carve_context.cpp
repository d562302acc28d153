#include "engine/signatures/carve_context.h"

namespace selvane {

bool CarveContext::InsideTsRange(uint64_t sector) const {
  for (const TsRange& range : tsRanges)
    if (sector >= range.firstSector && sector <= range.lastSector) return true;
  return false;
}

bool CarveContext::ReadFull(uint64_t first, uint32_t count, std::span<uint8_t> out) const {
  if (source == nullptr || count == 0 || out.size() < uint64_t{count} * sectorSize) return false;
  uint32_t read = 0;
  return source->Read(first, count, out.data(), read) == kSuccess && read == count;
}

std::span<uint8_t> CarveContext::Scratch() {
  if (scratch_.size() < kScratchBytes) scratch_.resize(kScratchBytes);
  return scratch_;
}

std::span<uint8_t> CarveContext::DetectorBuffer(size_t bytes) {
  if (detectorBuffer_.size() < bytes) detectorBuffer_.resize(bytes);
  return std::span<uint8_t>(detectorBuffer_).first(bytes);
}

}  // namespace selvane
