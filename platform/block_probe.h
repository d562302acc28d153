// What libblkid finds on a disk: its partition table, and the file system that
// starts at a given place. Both work on block devices and on image files, so a
// test tree whose drives are image files is probed the same way as real disks.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/file_handle.h"

namespace selvane {

struct PartitionTableEntry {
  uint32_t number = 0;    // partition number as the table gives it
  uint64_t start512 = 0;  // in 512-byte units, absolute on the disk
  uint64_t size512 = 0;
  uint8_t mbrType = 0;    // the type byte of an MBR ("dos") entry; 0 for other tables
  bool extended = false;  // an MBR extended container, not a volume
};

struct PartitionTable {
  std::string type;  // "dos", "gpt", … ; "" when the disk has no table
  std::vector<PartitionTableEntry> entries;
};

struct FileSystemInfo {
  std::string type;     // libblkid's name: "vfat", "ntfs", "exfat", "ext4", … ; "" when none found
  std::string version;  // "FAT32", "FAT16", … where the file system tells
  std::string label;    // UTF-8
};

// Reads the partition table of the disk open in `disk`. False when libblkid
// cannot read the device; true with an empty type when there is no table.
bool ProbePartitionTable(const FileHandle& disk, uint32_t sectorSize, PartitionTable& out);

// Looks for a file system in the byte range [offset, offset + size) of the
// device open in `device` (size 0: up to its end). False when the device
// cannot be read; true with an empty type when no file system was recognised.
bool ProbeFileSystem(const FileHandle& device, uint64_t offset, uint64_t size, uint32_t sectorSize,
                     FileSystemInfo& out);

// The name a user knows the file system by: "NTFS", "FAT32", "FAT" (12 and 16),
// "exFAT", else libblkid's name as it stands.
std::string FileSystemDisplayName(const FileSystemInfo& info);

}  // namespace selvane
