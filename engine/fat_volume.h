// The layout of a FAT12/16/32 volume as its boot sector describes it.
#pragma once

#include <cstdint>
#include <span>

namespace selvane {

enum class FatType { Fat12, Fat16, Fat32 };

// Sectors are relative to the volume's first sector and counted in the volume's
// own sector size (bytesPerSector).
struct FatVolumeGeometry {
  FatType type = FatType::Fat16;
  uint32_t bytesPerSector = 512;
  uint32_t sectorsPerCluster = 1;
  uint32_t reservedSectors = 0;  // sector of the first FAT
  uint32_t fatCount = 0;
  uint32_t sectorsPerFat = 0;
  uint64_t totalSectors = 0;
  uint32_t rootEntryCount = 0;   // FAT12/16 fixed root directory; 0 on FAT32
  uint32_t rootDirSectors = 0;   // its length in sectors
  uint64_t rootDirSector = 0;    // its first sector
  uint32_t rootCluster = 0;      // FAT32 root directory cluster; 0 on FAT12/16
  uint64_t firstDataSector = 0;  // sector of cluster 2
  uint32_t clusterCount = 0;     // data clusters 2 .. clusterCount + 1

  bool IsFat32() const { return type == FatType::Fat32; }
  uint32_t ClusterBytes() const { return bytesPerSector * sectorsPerCluster; }
  uint32_t MaxCluster() const { return clusterCount + 1; }
  bool IsDataCluster(uint64_t cluster) const { return cluster >= 2 && cluster <= MaxCluster(); }
  // Identifier of the root folder in folder keys: the root cluster, or 0 for
  // the fixed FAT12/16 root directory.
  uint32_t RootId() const { return rootCluster; }
  uint64_t FatBytes() const { return uint64_t{sectorsPerFat} * bytesPerSector; }
  // First sector of a data cluster (cluster >= 2).
  uint64_t ClusterSector(uint32_t cluster) const {
    return firstDataSector + uint64_t{cluster - 2} * sectorsPerCluster;
  }
};

// Fills `out` from the first sector of a volume. False when the fields cannot
// describe a usable FAT volume (zero or odd sizes, metadata past the volume's
// end, no data clusters). FAT32 is told by its 16-bit FAT size being 0;
// FAT12 and FAT16 by the number of data clusters, as the format defines.
bool ParseFatBootSector(std::span<const uint8_t> bootSector, FatVolumeGeometry& out);

}  // namespace selvane
