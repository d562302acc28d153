// Whether an image file would be written onto the drive it copies.
#pragma once

#include <cstdint>
#include <string>

namespace selvane {

enum class DestinationConflict {
  None,
  // The path is the drive itself, one of its partitions, or the file behind a
  // loop drive: writing would overwrite the very data being copied.
  SameStorage,
  // The path lies on a file system mounted from the drive: the copy would
  // overwrite free space of the drive that may hold what the user wants back.
  OnSourceDrive,
};

struct DestinationCheck {
  DestinationConflict conflict = DestinationConflict::None;
  std::string detail;  // what the path is or lies on ("/dev/sdb1 mounted on /media/stick")
};

DestinationCheck CheckImageDestination(int32_t driveNumber, const std::string& imagePath);

}  // namespace selvane
