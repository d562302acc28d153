#include "storage/partition_mounts.h"

#include "platform/drive_registry.h"
#include "platform/mounts.h"
#include "storage/disk_device.h"

namespace selvane {

std::string MountPointOfPartition(int32_t driveNumber, uint64_t firstSector) {
  auto name = DriveName(driveNumber);
  if (!name) return {};
  DiskDevice drive;
  if (OpenDriveHandle(driveNumber, drive) != kSuccess) return {};
  const uint64_t sectorSize = GetDriveSectorSize(drive);

  std::string devFile;
  if (firstSector == 0) devFile = DiskSysfsFolder(*name) + "/dev";
  for (const auto& part : ListPartitions(*name))
    if (part.start512 * 512 == firstSector * sectorSize) devFile = DiskSysfsFolder(*name) + "/" + part.name + "/dev";
  uint32_t major = 0, minor = 0;
  if (devFile.empty() || !ReadDeviceNumbers(devFile, major, minor)) return {};
  auto mount = FindMountOfDevice(major, minor);
  return mount ? mount->mountPoint : std::string();
}

}  // namespace selvane
