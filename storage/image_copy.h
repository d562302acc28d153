// Copying a whole drive or one partition, sector by sector, into a raw image
// file: the copied bytes in order, no header, no trailer. Byte i of the image is
// byte firstSector x sectorSize + i of the drive.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "platform/file_handle.h"
#include "platform/result_codes.h"
#include "storage/disk_device.h"

namespace selvane {

// Progress after every chunk copied. secondsLeft is -1 until the first
// estimate (after five seconds). A nonzero result stops the copy, which returns
// that value (kScanStopCode by convention).
using ImageProgressCallback =
    std::function<int32_t(int32_t percent, uint64_t sectorsDone, uint64_t sectorsTotal, int32_t secondsLeft)>;

// The state of one copy.
struct ImageCopyJob {
  int32_t sectorSize = 512;  // bytes per sector of the drive
  uint64_t firstSector = 0;  // first drive sector copied
  uint64_t sectorCount = 0;  // sectors to copy; 0 = the whole drive
  DiskDevice drive;          // the source, read-only
  FileHandle image;          // the image file being written
  ImageProgressCallback progress;
  // Milliseconds of a steady clock; the system's when empty (tests set a fake one).
  std::function<uint64_t()> clockMs;
  // Go on past sectors that cannot be read, writing zeros in their place.
  bool skipBad = false;
  // Sectors written to the image so far: the length of a partial image.
  uint64_t sectorsCopied = 0;
  // Unreadable sectors written as zeros (with skipBad), and the first of them.
  uint64_t sectorsSkipped = 0;
  uint64_t firstSkipped = 0;
};

// Fills the job (keeping skipBad) and opens both sides: the drive read-only,
// and the image file created or cut to length 0. Refuses (87) to write the
// image onto the drive's own node or, for a loop device, its backing file.
ResultCode OpenImageCopy(ImageCopyJob& job, int32_t driveNumber, uint64_t firstSector, uint64_t sectorCount,
                         const std::string& imagePath, ImageProgressCallback progress);

// Runs a whole copy: 64 KiB reads and writes strictly in order, progress after
// every chunk. Returns 0, the system error that ended it (30 for a read error,
// after writing the whole sectors that chunk delivered), or the callback's
// nonzero value. With skipBad a chunk that fails is read again sector by
// sector and each unreadable sector becomes zeros in the image, counted in
// sectorsSkipped (one pass, no retries of a bad sector, as a first rescue
// pass does); the copy then returns 0 even though sectors were skipped.
// Always closes both sides; a partial image stays as long as what was copied.
ResultCode CopyDiskToImage(ImageCopyJob& job, int32_t driveNumber, uint64_t firstSector, uint64_t sectorCount,
                           const std::string& imagePath, ImageProgressCallback progress);

// Reads sectorCount whole sectors at byte `offset` in calls of at most 64 KiB.
// 0, or 30 when a call fails or returns nothing; sectorsRead counts the whole
// sectors that arrived.
ResultCode ReadWholeSectors(uint32_t sectorCount, const FileHandle& handle, uint64_t offset, void* buffer,
                            uint32_t sectorSize, uint32_t& sectorsRead);

// Writes sectorCount whole sectors at the current position, repeating for what
// a call left unwritten. 0 or the system error; sectorsWritten counts whole
// sectors written.
ResultCode WriteWholeSectors(const FileHandle& handle, const void* buffer, uint32_t sectorCount, uint32_t sectorSize,
                             uint32_t& sectorsWritten);

}  // namespace selvane
