// Which block devices are drives, and in which order. Drive N is the N-th
// whole-disk block device under <sysfs>/block in natural name order; its node
// is <dev>/<name>. Both roots come from SysfsRoot() and DevRoot(), so a test can
// present image files as drives through a fake tree.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace selvane {

struct SysfsPartition {
  std::string name;       // "sdb1"
  uint32_t number = 0;    // the "partition" attribute
  uint64_t start512 = 0;  // first sector in 512-byte units, as sysfs counts
  uint64_t size512 = 0;   // length in 512-byte units
};

// A device node resolved to its drive, and to its partition when it is one.
struct ResolvedDeviceNode {
  int driveNumber = -1;
  std::string diskName;
  std::optional<SysfsPartition> partition;
};

// Names of the whole disks ("sda", "nvme0n1", …) in drive-number order.
std::vector<std::string> ListDriveNames();

// Name of drive N, or nothing when there is no such drive.
std::optional<std::string> DriveName(int driveNumber);

// Device node path of drive N, or "" when there is no such drive.
std::string DriveNodePath(int driveNumber);

// Sysfs folder of a disk by name: <sysfs>/block/<name>.
std::string DiskSysfsFolder(const std::string& diskName);

// Partitions of a disk, ordered by their partition number.
std::vector<SysfsPartition> ListPartitions(const std::string& diskName);

// Logical block size from sysfs (queue/logical_block_size), 0 when unknown.
uint32_t SysfsLogicalBlockSize(const std::string& diskName);

// Size in 512-byte units from sysfs ("size"), 0 when unknown.
uint64_t SysfsSize512(const std::string& diskName);

// True when the disk is flagged removable or hangs below a USB or MMC/SD host.
bool SysfsIsExternal(const std::string& diskName);

// Resolves a node such as /dev/sdb or /dev/sdb1 (or a link to it) to its drive.
std::optional<ResolvedDeviceNode> ResolveDeviceNode(const std::string& path);

// Reads a decimal number from a sysfs attribute file.
std::optional<uint64_t> ReadSysfsNumber(const std::string& path);

// The first line of a sysfs attribute file, or nothing when it cannot be read.
std::optional<std::string> ReadSysfsText(const std::string& path);

// Natural order: runs of digits compare by value ("sd2" < "sd10").
bool NaturalLess(const std::string& a, const std::string& b);

}  // namespace selvane
