#include "engine/signatures/sector_source.h"

#include <algorithm>
#include <limits>

namespace selvane {

// The bound that ReadSectors applies.
uint64_t DeviceSectorSource::TotalSectors() const { return device_.totalSectors; }

ResultCode DeviceSectorSource::Read(uint64_t first, uint32_t count, uint8_t* buffer, uint32_t& sectorsRead) const {
  sectorsRead = 0;
  if (count > static_cast<uint32_t>(std::numeric_limits<int32_t>::max())) return kInvalidParameter;
  return ReadSectors(static_cast<int32_t>(count), device_, buffer, first, sectorSize_, sectorsRead);
}

ResultCode MemorySectorSource::Read(uint64_t first, uint32_t count, uint8_t* buffer, uint32_t& sectorsRead) const {
  sectorsRead = 0;
  const uint64_t total = TotalSectors();
  if (count == 0 || first > total || count > total - first) return kInvalidParameter;
  std::copy_n(bytes_.begin() + static_cast<ptrdiff_t>(first * sectorSize_), size_t{count} * sectorSize_, buffer);
  sectorsRead = count;
  return kSuccess;
}

}  // namespace selvane
