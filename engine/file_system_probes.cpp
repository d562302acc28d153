#include "engine/file_system_probes.h"

#include "engine/byte_reader.h"

namespace selvane {
namespace {

bool HasBootSignature(const ByteReader& r) { return r.U8(510) == 0x55 && r.U8(511) == 0xAA; }

bool IsFatClusterSize(uint8_t spc) {
  return spc == 1 || spc == 2 || spc == 4 || spc == 8 || spc == 16 || spc == 32 || spc == 64 || spc == 128;
}

}  // namespace

bool IsNtfsBootSector(std::span<const uint8_t> sector) {
  ByteReader r(sector);
  if (!r.Fits(0, 512)) return false;
  if (!r.Equals(3, "NTFS    ")) return false;
  if (r.U16(0x0B) % 512 != 0) return false;
  if (r.U16(0x0E) != 0) return false;
  uint8_t spc = r.U8(0x0D);
  if (spc == 128 || !IsFatClusterSize(spc)) return false;
  if (r.U64(0x28) == 0) return false;
  for (size_t offset : {0x10, 0x11, 0x12, 0x13, 0x14, 0x16, 0x17, 0x20, 0x21, 0x22, 0x23})
    if (r.U8(offset) != 0) return false;
  return HasBootSignature(r);
}

bool IsLockedVolume(std::span<const uint8_t> sector) {
  ByteReader r(sector);
  if (!r.Fits(0, 512)) return false;
  if (r.Equals(3, "-FVE-FS-")) return true;
  for (size_t i = 0; i < 8; ++i)
    if (r.U8(0x1E0 + i) != 0x78) return false;
  for (size_t i = 0; i < 19; ++i)
    if (r.U8(0x1E8 + i) != 0xFF) return false;
  return r.U8(0x1FB) == 0x00 && r.U8(0x1FC) == 0x1F && r.U8(0x1FD) == 0x2C;
}

bool IsFat16BootSector(std::span<const uint8_t> sector) {
  ByteReader r(sector);
  if (!r.Fits(0, 512)) return false;
  return r.U8(0x10) != 0 && (r.U16(0x13) != 0 || r.U32(0x20) != 0) && IsFatClusterSize(r.U8(0x0D)) &&
         r.U16(0x16) >= 1 && HasBootSignature(r);
}

bool IsFat32BootSector(std::span<const uint8_t> sector) {
  ByteReader r(sector);
  if (!r.Fits(0, 512)) return false;
  return r.Equals(0x52, "FAT32   ") && r.U8(0x10) != 0 && r.U32(0x20) != 0 && IsFatClusterSize(r.U8(0x0D)) &&
         r.U32(0x24) != 0 && HasBootSignature(r);
}

bool IsFatBootSector(std::span<const uint8_t> sector) {
  ByteReader r(sector);
  if (!r.Fits(0, 512) || IsLockedVolume(sector)) return false;
  uint32_t sectorsPerFat = r.U16(0x16) != 0 ? r.U16(0x16) : r.U32(0x24);
  uint32_t totalSectors = r.U32(0x20) != 0 ? r.U32(0x20) : r.U16(0x13);
  uint32_t bytesPerSector = r.U16(0x0B);
  uint32_t sectorsPerCluster = r.U8(0x0D);
  if (bytesPerSector == 0 || sectorsPerCluster == 0 || bytesPerSector % 512 != 0) return false;
  uint32_t rootSectors = (uint32_t{r.U16(0x11)} * 32) / bytesPerSector;
  // Unsigned 32-bit arithmetic on purpose: a volume whose metadata exceeds its
  // size wraps to a huge count and is refused by the limit below.
  uint32_t clusters =
      (totalSectors - rootSectors - uint32_t{r.U8(0x10)} * sectorsPerFat - r.U16(0x0E)) / sectorsPerCluster;
  if (clusters >= 0x0FFFFFF0u) return false;
  if (clusters < 65525) return IsFat16BootSector(sector) || IsFat32BootSector(sector);
  return IsFat32BootSector(sector) || IsFat16BootSector(sector);
}

bool IsExtSuperblock(std::span<const uint8_t> superblock) {
  ByteReader r(superblock);
  if (!r.Fits(0, 1024)) return false;
  if (r.U16(0x38) != 0xEF53) return false;
  uint32_t blocks = r.U32(0x04), inodes = r.U32(0x00), blocksPerGroup = r.U32(0x20), inodesPerGroup = r.U32(0x28);
  if (blocks == 0 || inodes == 0 || blocksPerGroup == 0 || inodesPerGroup == 0) return false;
  uint32_t firstInode = r.U32(0x54);
  if (firstInode <= 2) return false;
  uint32_t firstDataBlock = r.U32(0x14);
  if ((blocks - firstDataBlock - 1) / blocksPerGroup + 1 != (inodes - 1) / inodesPerGroup + 1) return false;
  uint32_t logBlockSize = r.U32(0x18);
  bool oneKiB = logBlockSize == 0;  // 1024 << log == 1024
  if (firstDataBlock != (oneKiB ? 1u : 0u)) return false;
  return inodes > firstInode;
}

FileSystemKind ClassifyVolume(std::span<const uint8_t> firstBytes) {
  if (IsNtfsBootSector(firstBytes)) return FileSystemKind::Ntfs;
  if (IsFatBootSector(firstBytes)) return FileSystemKind::Fat;
  if (firstBytes.size() >= 2048 && IsExtSuperblock(firstBytes.subspan(1024, 1024))) return FileSystemKind::Ext;
  return FileSystemKind::Unknown;
}

const char* FileSystemKindName(FileSystemKind kind) {
  switch (kind) {
    case FileSystemKind::Ntfs: return "ntfs";
    case FileSystemKind::Fat: return "fat";
    case FileSystemKind::Ext: return "ext";
    case FileSystemKind::Unknown: break;
  }
  return "unknown";
}

}  // namespace selvane
