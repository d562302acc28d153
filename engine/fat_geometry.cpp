#include "engine/fat_geometry.h"

#include "engine/byte_reader.h"
#include "engine/file_system_probes.h"

namespace selvane {
namespace {

constexpr bool IsClusterSize(uint64_t sectors) {
  return sectors != 0 && sectors <= 128 && (sectors & (sectors - 1)) == 0;
}

}  // namespace

std::optional<uint64_t> FatGeometry::ClusterSector(uint32_t cluster) const {
  if (cluster == 0) {
    if (DataStart() < rootDirSectors) return std::nullopt;
    return DataStart() - rootDirSectors;
  }
  if (cluster == 1) return std::nullopt;
  return DataStart() + uint64_t{cluster - 2} * sectorsPerCluster;
}

std::optional<uint32_t> FatGeometry::ClusterStartingAt(uint64_t sector) const {
  if (sectorsPerCluster == 0 || sector < DataStart()) return std::nullopt;
  const uint64_t offset = sector - DataStart();
  if (offset % sectorsPerCluster != 0) return std::nullopt;
  const uint64_t cluster = offset / sectorsPerCluster + 2;
  if (cluster > UINT32_MAX) return std::nullopt;
  return static_cast<uint32_t>(cluster);
}

std::optional<uint32_t> FatGeometry::ClusterContaining(uint64_t sector) const {
  if (sectorsPerCluster == 0) return std::nullopt;
  if (sector < DataStart()) {
    if (DataStart() - sector <= rootDirSectors) return 0u;
    return std::nullopt;
  }
  const uint64_t cluster = (sector - DataStart()) / sectorsPerCluster + 2;
  if (cluster > UINT32_MAX) return std::nullopt;
  return static_cast<uint32_t>(cluster);
}

bool FatGeometry::ClusterHolds(uint32_t cluster, uint64_t sector) const {
  const std::optional<uint64_t> first = ClusterSector(cluster);
  return first && sector >= *first && sector - *first < ClusterSpan(cluster);
}

std::optional<FatGeometry> LearnGeometry(uint32_t cluster1, uint64_t sector1, uint32_t cluster2, uint64_t sector2,
                                         uint64_t partitionStart) {
  if (cluster1 < 2 || cluster2 < 2 || cluster1 == cluster2) return std::nullopt;
  const bool firstIsLow = cluster1 < cluster2;
  const uint32_t low = firstIsLow ? cluster1 : cluster2;
  const uint32_t high = firstIsLow ? cluster2 : cluster1;
  const uint64_t lowSector = firstIsLow ? sector1 : sector2;
  const uint64_t highSector = firstIsLow ? sector2 : sector1;
  // Clusters lie in ascending order on the disk: a later cluster at an earlier
  // sector belongs to another volume (or to no volume at all).
  if (highSector <= lowSector) return std::nullopt;
  const uint64_t clusterDistance = high - low;
  const uint64_t sectorDistance = highSector - lowSector;
  if (sectorDistance % clusterDistance != 0) return std::nullopt;
  const uint64_t sectorsPerCluster = sectorDistance / clusterDistance;
  if (!IsClusterSize(sectorsPerCluster)) return std::nullopt;
  const uint64_t before = sectorsPerCluster * (low - 2);
  if (lowSector < before) return std::nullopt;
  const uint64_t dataStart = lowSector - before;
  if (dataStart < partitionStart) return std::nullopt;
  FatGeometry g;
  g.sectorsPerCluster = static_cast<uint32_t>(sectorsPerCluster);
  g.dataAreaSector = dataStart - partitionStart;
  g.partitionStart = partitionStart;
  return g;
}

std::optional<BootGeometry> GeometryFromBootSector(std::span<const uint8_t> bootSector, uint32_t sectorSize,
                                                   uint64_t partitionStart) {
  if (sectorSize == 0 || !IsFatBootSector(bootSector)) return std::nullopt;
  const ByteReader r(bootSector);
  const uint64_t bootSectorSize = r.U16(0x0B);
  const uint64_t sectorsPerCluster = r.U8(0x0D);
  const uint64_t reserved = r.U16(0x0E);
  const uint64_t fats = r.U8(0x10);
  const bool fat32 = r.Equals(0x52, "FAT32   ");
  const uint64_t fatSize = fat32 ? r.U32(0x24) : r.U16(0x16);
  // The fixed root directory of FAT12/16, as long as its entries need.
  const uint64_t rootSectors = fat32 ? 0 : (uint64_t{r.U16(0x11)} * 32 + bootSectorSize - 1) / bootSectorSize;
  const uint64_t dataArea = reserved + fats * fatSize + rootSectors;
  if (bootSectorSize == 0 || sectorsPerCluster == 0) return std::nullopt;

  // Everything in the caller's sectors: byte sizes that are no whole number of
  // them cannot be addressed.
  const uint64_t clusterBytes = sectorsPerCluster * bootSectorSize;
  const uint64_t dataBytes = dataArea * bootSectorSize;
  if (clusterBytes % sectorSize != 0 || dataBytes % sectorSize != 0) return std::nullopt;
  BootGeometry out;
  out.geometry.sectorsPerCluster = static_cast<uint32_t>(clusterBytes / sectorSize);
  out.geometry.dataAreaSector = dataBytes / sectorSize;
  out.geometry.partitionStart = partitionStart;
  out.geometry.rootDirSectors = static_cast<uint32_t>((rootSectors * bootSectorSize + sectorSize - 1) / sectorSize);
  out.rootCluster = fat32 ? r.U32(0x2C) : 0;
  return out;
}

}  // namespace selvane
