// Simulated unreadable areas, for testing how the program copes with a failing
// disk. Reads through FileHandle::ReadAt that touch a listed byte range of a
// listed file fail as a bad sector does (EIO), after delivering the bytes before
// it. Off unless a test adds a range or SELVANE_READ_FAULTS is set:
//   SELVANE_READ_FAULTS="/path/disk.img:1048576-1052672,/dev/sdb:0-512"
// (byte ranges, end exclusive). The check costs one relaxed load when off.
#pragma once

#include <cstdint>
#include <string>
#include <sys/types.h>

namespace selvane {

void AddReadFault(const std::string& path, uint64_t beginByte, uint64_t endByte);
void ClearReadFaults();

// How many of `count` bytes at `offset` of the file open as `fd` can be read
// before a simulated fault; count when none lies in the way.
size_t ReadableBeforeFault(int fd, uint64_t offset, size_t count);

}  // namespace selvane
