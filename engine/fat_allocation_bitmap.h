// Which clusters of a FAT volume are in use, built from the FAT, and the search
// for the next run of free sectors that the deep scan walks.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/fat_table.h"
#include "engine/fat_volume.h"
#include "platform/result_codes.h"

namespace selvane {

class FatAllocationBitmap {
 public:
  // One bit per data cluster (bit 0 = cluster 2), set when its entry is not 0
  // or another entry names it.
  ResultCode Load(CFatTable& fat, const FatVolumeGeometry& geometry);
  // Sets the bits directly (one per cluster from cluster 2).
  void Assign(std::vector<bool> allocated);
  bool IsLoaded() const { return loaded_; }
  bool IsAllocated(uint64_t index) const { return index < clusters_ && (bits_[index / 8] >> (index % 8)) & 1; }

  // Moves `sector` (relative to the volume) to the first free sector at or after
  // it and gives the length of the free run there. Sectors before the data area
  // count as its start; sectors after the last cluster count as free; both
  // results stop at volumeSectors.
  void FindFreeRun(uint64_t& sector, uint64_t& sectorCount, uint64_t firstDataSector, uint32_t sectorsPerCluster,
                   uint64_t volumeSectors) const;

 private:
  void Set(uint64_t index) { bits_[index / 8] |= static_cast<uint8_t>(1u << (index % 8)); }
  // First index at or after `from` whose bit equals `allocated`; clusters_ when none.
  uint64_t FindBit(uint64_t from, bool allocated) const;

  std::vector<uint8_t> bits_;
  uint64_t clusters_ = 0;
  bool loaded_ = false;
};

}  // namespace selvane
