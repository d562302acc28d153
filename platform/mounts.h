// Mounted file systems, read from /proc/self/mountinfo.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/result_codes.h"

namespace selvane {

struct MountEntry {
  uint32_t major = 0;
  uint32_t minor = 0;
  std::string mountPoint;
  std::string fsType;
  std::string source;
};

std::vector<MountEntry> ReadMounts();

// The first mount of the device with these numbers.
std::optional<MountEntry> FindMountOfDevice(uint32_t major, uint32_t minor);

// The mount that holds `path` (the longest mount point that is a prefix of its
// canonical form), or nothing.
std::optional<MountEntry> FindMountOfPath(const std::string& path);

// Device numbers from a sysfs "dev" attribute ("8:17").
bool ReadDeviceNumbers(const std::string& sysfsDevFile, uint32_t& major, uint32_t& minor);

// Total and free bytes (free as available to the user) of a mounted file system.
ResultCode GetMountSpace(const std::string& mountPoint, uint64_t& totalBytes, uint64_t& freeBytes);

// Writes the cached data of the file system mounted at `mountPoint` to its
// device; does nothing when it cannot be opened.
void SyncFileSystem(const std::string& mountPoint);

}  // namespace selvane
