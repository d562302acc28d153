// Where the clusters of a FAT volume lie on the disk, as the formatted-volume
// engine knows it: from a boot sector, or learned from two subdirectories
// whose first clusters and sectors were both seen.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

namespace selvane {

// Sectors before the data area that a FAT12/16 root directory takes when the
// boot sector does not say (512 entries in 512-byte sectors).
inline constexpr uint32_t kDefaultRootDirSectors = 32;

struct FatGeometry {
  uint32_t sectorsPerCluster = 0;
  uint64_t dataAreaSector = 0;  // sector of cluster 2, relative to partitionStart
  uint64_t partitionStart = 0;  // absolute
  uint32_t rootDirSectors = kDefaultRootDirSectors;  // the fixed root directory before the data area

  uint64_t DataStart() const { return partitionStart + dataAreaSector; }
  // Absolute first sector of cluster c; cluster 0 is the fixed FAT12/16 root
  // directory before the data area. Empty for cluster 1 and for a root
  // directory that would lie before sector 0.
  std::optional<uint64_t> ClusterSector(uint32_t cluster) const;
  // Sectors that cluster c spans (the root directory for cluster 0).
  uint32_t ClusterSpan(uint32_t cluster) const { return cluster == 0 ? rootDirSectors : sectorsPerCluster; }
  // The cluster whose first sector is s, if any (data area only).
  std::optional<uint32_t> ClusterStartingAt(uint64_t sector) const;
  // The cluster that sector s lies in: a data cluster, or 0 inside the root
  // directory before the data area. Empty before that.
  std::optional<uint32_t> ClusterContaining(uint64_t sector) const;
  // Whether sector s lies inside cluster c.
  bool ClusterHolds(uint32_t cluster, uint64_t sector) const;

  bool operator==(const FatGeometry&) const = default;
};

// The geometry that puts cluster c1 at absolute sector s1 and cluster c2 at
// s2, with a power-of-two cluster of 1 to 128 sectors and cluster 2 at or after
// partitionStart. Empty when the pair teaches nothing: the same cluster, a
// larger cluster at a smaller sector, a distance that is no whole number of
// clusters, or an impossible cluster size.
std::optional<FatGeometry> LearnGeometry(uint32_t cluster1, uint64_t sector1, uint32_t cluster2, uint64_t sector2,
                                         uint64_t partitionStart);

// The geometry a FAT boot sector describes, in sectors of `sectorSize` bytes
// (the boot sector's own sector size is converted), and its root directory
// cluster (0 for FAT12/16). Empty when the bytes are no FAT boot sector
// (IsFatBootSector) or its sizes cannot be expressed in `sectorSize`.
struct BootGeometry {
  FatGeometry geometry;
  uint32_t rootCluster = 0;
};
std::optional<BootGeometry> GeometryFromBootSector(std::span<const uint8_t> bootSector, uint32_t sectorSize,
                                                   uint64_t partitionStart);

}  // namespace selvane
