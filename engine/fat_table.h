// Reading the first FAT of a volume through a 16 MiB window, and the rules by
// which the engine moves from one cluster to the next.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "engine/byte_reader.h"
#include "engine/fat_volume.h"
#include "platform/result_codes.h"
#include "storage/disk_device.h"

namespace selvane {

inline constexpr uint64_t kFatWindowBytes = 0x1000000;  // 16 MiB

// Byte offset of a cluster's entry in the FAT: 1.5, 2 or 4 bytes per entry.
constexpr uint64_t FatEntryOffset(uint32_t cluster, FatType type) {
  switch (type) {
    case FatType::Fat12: return uint64_t{cluster} + cluster / 2;
    case FatType::Fat16: return uint64_t{cluster} * 2;
    case FatType::Fat32: return uint64_t{cluster} * 4;
  }
  return 0;
}
// Bytes an entry covers from its offset.
constexpr uint32_t FatEntryWidth(FatType type) { return type == FatType::Fat32 ? 4 : 2; }

// The value of a cluster's entry from the FAT bytes at `offset` (FatEntryOffset
// relative to where `fat` begins): 12 bits (odd clusters take the high 12 bits
// of their two bytes), 16 bits, or the low 28 bits of a FAT32 entry.
uint32_t DecodeFatEntry(const ByteReader& fat, uint64_t offset, uint32_t cluster, FatType type);

// What an entry says about the cluster that follows.
enum class FatLink { Free, Next, End };
// Free for 0; Next for a data cluster of the volume; End for end marks, bad
// clusters, the reserved value 1 and anything beyond the volume.
FatLink ClassifyFatEntry(uint32_t value, const FatVolumeGeometry& geometry);

// The first FAT of an open volume, read through a window of at most 16 MiB that
// moves when an entry outside it is asked for. Not locked.
class CFatTable {
 public:
  // fatStartSector: absolute sector of the first FAT in bytesPerSector units.
  void Attach(const DiskDevice* device, const FatVolumeGeometry& geometry, uint64_t fatStartSector);
  bool IsAttached() const { return device_ != nullptr; }

  // The entry of a cluster. 87 for a cluster outside the volume; a read error
  // otherwise (30 when nothing was read).
  ResultCode NextFatEntry(uint32_t cluster, uint32_t& value);

  // The cluster after `cluster` in a directory: the FAT's successor, or for a
  // free entry (a deleted directory) the following cluster when it is free too.
  // 0 when there is none.
  uint32_t NextDirectoryCluster(uint32_t cluster);

  // The cluster after `cluster` in a file's data: the FAT's successor; when the
  // entry is free or ends the chain early (a deleted file, or a cluster another
  // file took over), the next free cluster after it. 0 when there is none.
  uint32_t NextFileCluster(uint32_t cluster);

  // Whether a cluster's entry is 0 (a read error counts as not free).
  bool IsFree(uint32_t cluster);

 private:
  ResultCode LoadWindow(uint64_t firstFatSector);

  const DiskDevice* device_ = nullptr;
  FatVolumeGeometry geometry_;
  uint64_t fatStart_ = 0;
  std::vector<uint8_t> window_;
  uint64_t windowSector_ = 0;  // first FAT sector (relative to the FAT) in the window
  uint64_t windowBytes_ = 0;   // valid bytes in the window
};

}  // namespace selvane
