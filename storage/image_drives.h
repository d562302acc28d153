// Image files opened like drives, so that one partition of a whole-disk image
// is scanned exactly like a partition of a real drive: the engines' OpenPartition
// takes a drive number, a first sector and a sector count, and OpenDriveHandle
// opens the image file for a number handed out here.
//
// The numbers lie above every drive number of the registry. Each is derived from
// the image's absolute path, size and modification time, so the scan history
// (which remembers partitions by drive number, first sector and sector count)
// tells partitions of different images apart and never resumes a scan of an
// image that changed since.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace selvane {

inline constexpr int32_t kFirstImageDriveNumber = 0x40000000;

// The drive number under which `imagePath` opens as a drive in this process
// (the same number for the same unchanged file); -1 when the file cannot be
// found.
int32_t AttachImageAsDrive(const std::string& imagePath);

// The image file behind a drive number handed out by AttachImageAsDrive.
std::optional<std::string> AttachedImagePath(int32_t driveNumber);

}  // namespace selvane
