// One row of the disk list: a volume on a drive, a stretch of unpartitioned
// space, or a whole drive that holds no volume.
#pragma once

#include <cstdint>
#include <string>

namespace selvane {

// volumeId of a record while the enumeration has not numbered it yet.
inline constexpr uint16_t kUnnumberedVolume = '*';

struct PartitionRecord {
  // Source identifier handed to the factory and written into every scan log
  // record. Linux has no drive letters, so every record is numbered: its 1-based
  // position among all records of all drives, in NextPartition order.
  uint16_t volumeId = kUnnumberedVolume;
  // MBR type of the partition, overridden from the file system: 7 NTFS, 0x0B
  // FAT32, 6 FAT. 0 for unallocated space.
  uint8_t partitionType = 0;
  int32_t diskNumber = -1;       // drive N of the drive registry
  int32_t partitionNumber = -1;  // number in the partition table; 0 for unallocated space or a whole drive
  uint64_t totalBytes = 0;       // as the mounted file system reports it, else the partition length
  uint64_t usedBytes = 0;        // totalBytes - freeBytes
  uint64_t freeBytes = 0;        // every free byte of a mounted file system; 0 when unknown
  uint64_t firstSector = 0;      // in the drive's sectors, absolute on the drive
  uint64_t sectorCount = 0;      // in the drive's sectors
  std::string fileSystem;        // "NTFS", "FAT32", "FAT", "exFAT", "ext4", … ; empty for unallocated space
  std::string devicePath;        // node of the volume ("/dev/sdb1"); the drive's node for unallocated space
  std::string mountPoint;        // where the volume is mounted; empty when it is not
  std::string label;             // volume label (UTF-8); empty for unallocated space
  // The drive the record lies on: its registry name ("sdb") and the kernel's
  // sequence number of that attachment (0 when unknown). Drive numbers move when
  // an earlier drive goes away; name and sequence tell the same drive apart
  // from a new one.
  std::string diskName;
  uint64_t diskSequence = 0;

  // Volumes are kept only with a partition type, so type 0 marks free space.
  bool IsUnallocated() const { return partitionType == 0; }
};

}  // namespace selvane
