// What a user names on the command line, resolved to what the engines open:
// an image file, a whole drive, or a partition of a drive.
#pragma once

#include <cstdint>
#include <string>

#include "platform/result_codes.h"

namespace selvane {

enum class SourceKind { Image, Drive, Partition };

struct SourceSpec {
  SourceKind kind = SourceKind::Image;
  std::string path;          // as given
  std::string imagePath;     // the file opened as an image (Image only)
  int32_t driveNumber = -1;  // Drive and Partition
  std::string driveName;     // "sdb"
  uint64_t firstSector = 0;  // in drive sectors; 0 for a drive or an image
  uint64_t sectorCount = 0;  // in drive sectors (512-byte sectors for an image)
  uint32_t sectorSize = 512;
};

// Resolves a path: a regular file is an image; a block device known to the
// drive registry is a drive or a partition of one; another block device is read
// like an image. Errors: the file's open error (2, 5, …).
ResultCode ResolveSource(const std::string& path, SourceSpec& out);

// Reads `count` bytes from the start of the source's volume.
ResultCode ReadSourceHead(const SourceSpec& source, uint8_t* buffer, size_t count);

}  // namespace selvane
