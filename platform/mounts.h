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

// The mount of a block device: by its numbers, or else by its node named as the
// mount's source (FUSE file systems such as ntfs-3g mount under numbers of
// their own).
std::optional<MountEntry> FindMountOfNode(uint32_t major, uint32_t minor, const std::string& nodePath);

// The mount that holds `path` (the longest mount point that is a prefix of its
// canonical form), or nothing.
std::optional<MountEntry> FindMountOfPath(const std::string& path);

// Device numbers from a sysfs "dev" attribute ("8:17").
bool ReadDeviceNumbers(const std::string& sysfsDevFile, uint32_t& major, uint32_t& minor);

// Total and free bytes (free as available to the user) of a mounted file system.
ResultCode GetMountSpace(const std::string& mountPoint, uint64_t& totalBytes, uint64_t& freeBytes);

// Total and free bytes of a mounted file system, free counting every free
// block including those reserved for the superuser.
ResultCode GetFileSystemSpace(const std::string& mountPoint, uint64_t& totalBytes, uint64_t& freeBytes);

// Writes the cached data of the file system mounted at `mountPoint` to its
// device; does nothing when it cannot be opened.
void SyncFileSystem(const std::string& mountPoint);

}  // namespace selvane
