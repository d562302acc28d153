// The disk list: every volume on every drive, the unpartitioned stretches
// between and after them, and a whole-drive row for a drive without volumes.
// Positions come from sysfs, file systems and labels from libblkid, sizes and
// free space from the mounted file system when there is one.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/result_codes.h"
#include "storage/partition_record.h"

namespace selvane {

// A drive the enumeration could not open, with the reason (5 when the program
// lacks permission to read devices).
struct UnreadableDrive {
  int32_t diskNumber = -1;
  std::string name;
  ResultCode error = kSuccess;
};

// The result of one enumeration; lives for one refresh of the list.
struct DiskEnumerator {
  int32_t bytesPerSector = 512;                           // sector size of the last drive read
  int32_t cursorDisk = 0;                                 // drive number NextPartition is at
  int32_t cursorIndex = 0;                                // record index within that drive
  std::map<int32_t, std::vector<PartitionRecord>> disks;  // by drive number, each by firstSector
  std::vector<UnreadableDrive> unreadable;
};

// Builds the list afresh. False when the system's list of block devices cannot
// be read (nothing is listed then).
bool EnumerateDisks(DiskEnumerator& enumerator);

// The next record, drive by drive in ascending drive number and within a drive
// by ascending firstSector; false at the end.
bool NextPartition(DiskEnumerator& enumerator, PartitionRecord& out);

// Every record in NextPartition order (out is emptied first).
void CopyAllPartitions(const DiskEnumerator& enumerator, std::vector<PartitionRecord>& out);

// Enumerates again and appends to `removed` every record of `previous` whose
// drive and first sector the new list no longer has. Drives are matched by
// name and attachment, not by number: the numbers of later drives move down
// when an earlier one goes away.
void FindRemovedPartitions(DiskEnumerator& enumerator, const std::vector<PartitionRecord>& previous,
                           std::vector<PartitionRecord>& removed);

}  // namespace selvane
