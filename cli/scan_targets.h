// What the scanning commands make of a source named on the command line: the
// volumes to scan (every partition of a whole drive, one partition chosen with
// --partition, or the source as a whole), error texts a user can act on, and
// where the source is mounted.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/result_codes.h"
#include "storage/source.h"

namespace selvane::cli {

// One volume to scan.
struct ScanTarget {
  std::string label;        // as shown to the user
  uint16_t sourceId = 0;    // written into every record's VolumeLetter
  bool image = false;       // opened as an image file (volume at byte 0)
  std::string imagePath;    // the image file (also of a partition of an image)
  std::string devicePath;   // node of a drive or partition ("/dev/sdb1")
  uint32_t partition = 0;   // number in the partition table; 0 for a whole source
  int32_t driveNumber = -1; // the drive, or the image attached as a drive
  uint64_t firstSector = 0;
  uint64_t sectorCount = 0;
  uint32_t sectorSize = 512;
};

// The volumes of a source. partition 0: an image or a partition is one volume,
// a whole drive is each of its partitions (or the drive itself when it has
// none). partition N: that partition of a drive or of a whole-disk image (MBR
// or GPT). False with a message when the partition does not exist.
bool ScanTargetsOf(const SourceSpec& source, uint32_t partition, std::vector<ScanTarget>& targets,
                   std::string& error);

// "partitions 1 (FAT32 …)": the partitions of a whole-disk image or a drive, as
// a hint for a user who scanned the whole of it in fast mode; "" when it has none.
std::string PartitionHint(const SourceSpec& source);

// Why a source cannot be opened, with what to do about it.
std::string OpenErrorText(const std::string& path, ResultCode rc);

// Where the volumes of a source are mounted (all mount points of the device,
// its partitions, loop devices backed by an image, and FUSE mounts of an image).
std::vector<std::string> SourceMountPoints(const SourceSpec& source);

// A checksum of the first 64 KiB of a volume: a later run tells whether the
// volume changed since it was scanned. 0 when it cannot be read.
uint64_t VolumeFingerprint(const ScanTarget& target);

// Reads the partition table of the source with libblkid: numbers, first
// sectors and lengths in 512-byte units; extended MBR containers left out.
struct ListedPartition {
  uint32_t number = 0;
  uint64_t start512 = 0;
  uint64_t size512 = 0;
};
std::vector<ListedPartition> PartitionsOf(const SourceSpec& source);

}  // namespace selvane::cli

namespace selvane::cli {

// Where the volume of a target is mounted (see SourceMountPoints).
std::vector<std::string> TargetMountPoints(const ScanTarget& target);

}  // namespace selvane::cli
