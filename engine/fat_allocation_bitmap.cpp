#include "engine/fat_allocation_bitmap.h"

#include <algorithm>

namespace selvane {

ResultCode FatAllocationBitmap::Load(CFatTable& fat, const FatVolumeGeometry& geometry) {
  loaded_ = false;
  clusters_ = geometry.clusterCount;
  bits_.assign(static_cast<size_t>((clusters_ + 7) / 8), 0);
  for (uint32_t c = 2; c <= geometry.MaxCluster(); ++c) {
    uint32_t value = 0;
    ResultCode rc = fat.NextFatEntry(c, value);
    if (rc != kSuccess) return rc;
    if (value == 0) continue;
    Set(c - 2);
    if (ClassifyFatEntry(value, geometry) == FatLink::Next) Set(value - 2);
  }
  loaded_ = true;
  return kSuccess;
}

void FatAllocationBitmap::Assign(std::vector<bool> allocated) {
  clusters_ = allocated.size();
  bits_.assign(static_cast<size_t>((clusters_ + 7) / 8), 0);
  for (uint64_t i = 0; i < clusters_; ++i)
    if (allocated[i]) Set(i);
  loaded_ = true;
}

uint64_t FatAllocationBitmap::FindBit(uint64_t from, bool allocated) const {
  const uint8_t skip = allocated ? 0x00 : 0xFF;  // bytes with no bit of the wanted kind
  uint64_t i = from;
  while (i < clusters_) {
    if (i % 8 == 0 && bits_[i / 8] == skip) {
      i += 8;
      continue;
    }
    if (IsAllocated(i) == allocated) return i;
    ++i;
  }
  return clusters_;
}

void FatAllocationBitmap::FindFreeRun(uint64_t& sector, uint64_t& sectorCount, uint64_t firstDataSector,
                                      uint32_t sectorsPerCluster, uint64_t volumeSectors) const {
  sectorCount = 0;
  if (sector >= volumeSectors || sectorsPerCluster == 0) {
    sector = volumeSectors;
    return;
  }
  const uint64_t relative = sector < firstDataSector ? 0 : sector - firstDataSector;
  const uint64_t cluster = relative / sectorsPerCluster;
  uint64_t offset = relative % sectorsPerCluster;
  uint64_t start = cluster >= clusters_ ? cluster : FindBit(cluster, false);
  if (start != cluster) offset = 0;  // a later run starts at its first sector
  uint64_t runStart = firstDataSector + start * sectorsPerCluster + offset;
  uint64_t runEnd = volumeSectors;
  if (start < clusters_) {
    const uint64_t end = FindBit(start, true);
    if (end < clusters_) runEnd = firstDataSector + end * sectorsPerCluster;
  }
  runStart = std::min(runStart, volumeSectors);
  runEnd = std::min(runEnd, volumeSectors);
  sector = runStart;
  sectorCount = runEnd > runStart ? runEnd - runStart : 0;
}

}  // namespace selvane
