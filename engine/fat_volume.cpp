#include "engine/fat_volume.h"

#include <algorithm>

#include "engine/byte_reader.h"

namespace selvane {
namespace {

bool IsPowerOfTwo(uint32_t v) { return v != 0 && (v & (v - 1)) == 0; }

// Highest cluster count whose entries fit into one copy of the FAT.
uint64_t ClustersTheFatHolds(FatType type, uint64_t fatBytes) {
  uint64_t entries = 0;
  switch (type) {
    case FatType::Fat12: entries = fatBytes * 2 / 3; break;
    case FatType::Fat16: entries = fatBytes / 2; break;
    case FatType::Fat32: entries = fatBytes / 4; break;
  }
  return entries > 2 ? entries - 2 : 0;
}

}  // namespace

bool ParseFatBootSector(std::span<const uint8_t> bootSector, FatVolumeGeometry& out) {
  ByteReader r(bootSector);
  if (!r.Fits(0, 512)) return false;
  FatVolumeGeometry g;
  g.bytesPerSector = r.U16(0x0B);
  g.sectorsPerCluster = r.U8(0x0D);
  g.reservedSectors = r.U16(0x0E);
  g.fatCount = r.U8(0x10);
  g.rootEntryCount = r.U16(0x11);
  g.totalSectors = r.U16(0x13) != 0 ? r.U16(0x13) : r.U32(0x20);
  const uint32_t fatSize16 = r.U16(0x16);
  g.sectorsPerFat = fatSize16 != 0 ? fatSize16 : r.U32(0x24);

  if (g.bytesPerSector < 512 || g.bytesPerSector > 4096 || !IsPowerOfTwo(g.bytesPerSector)) return false;
  if (!IsPowerOfTwo(g.sectorsPerCluster) || g.sectorsPerCluster > 128) return false;
  if (g.reservedSectors == 0 || g.fatCount == 0 || g.sectorsPerFat == 0) return false;

  const bool fat32 = fatSize16 == 0;
  if (fat32) {
    g.rootEntryCount = 0;
    g.rootCluster = r.U32(0x2C);
  }
  g.rootDirSectors = (g.rootEntryCount * 32 + g.bytesPerSector - 1) / g.bytesPerSector;
  g.rootDirSector = g.reservedSectors + uint64_t{g.fatCount} * g.sectorsPerFat;
  g.firstDataSector = g.rootDirSector + g.rootDirSectors;
  if (g.totalSectors <= g.firstDataSector) return false;

  const uint64_t dataClusters = (g.totalSectors - g.firstDataSector) / g.sectorsPerCluster;
  if (fat32)
    g.type = FatType::Fat32;
  else
    g.type = dataClusters < 4085 ? FatType::Fat12 : FatType::Fat16;
  // A damaged size field must not make the engine look past the FAT's end or
  // beyond the largest cluster number the format can hold.
  uint64_t clusters = std::min(dataClusters, ClustersTheFatHolds(g.type, g.FatBytes()));
  clusters = std::min<uint64_t>(clusters, 0x0FFFFFF5u);
  if (clusters == 0) return false;
  g.clusterCount = static_cast<uint32_t>(clusters);
  if (fat32 && !g.IsDataCluster(g.rootCluster)) return false;
  out = g;
  return true;
}

}  // namespace selvane
