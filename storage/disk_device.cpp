#include "storage/disk_device.h"

#include <linux/fs.h>
#include <linux/hdreg.h>
#include <sys/ioctl.h>

#include "platform/drive_registry.h"
#include "storage/image_drives.h"

#include <algorithm>
#include "platform/mounts.h"
#include "platform/user_folders.h"

namespace selvane {
namespace {

// The sector size of a drive: the kernel's logical block size for a block
// device, the sysfs attribute for a drive presented by a (test) sysfs tree.
ResultCode QuerySectorSize(const DiskDevice& drive, uint32_t& sectorSize) {
  if (drive.handle.IsBlockDevice()) {
    int size = 0;
    if (::ioctl(drive.handle.fd(), BLKSSZGET, &size) != 0) return LastResult();
    if (size <= 0) return kInvalidFunction;
    sectorSize = static_cast<uint32_t>(size);
    return kSuccess;
  }
  if (!drive.handle.IsOpen()) return kInvalidHandle;
  uint32_t fromSysfs = drive.driveName.empty() ? 0 : SysfsLogicalBlockSize(drive.driveName);
  sectorSize = fromSysfs ? fromSysfs : 512;
  return kSuccess;
}

ResultCode QueryLength(const DiskDevice& drive, uint64_t& bytes) {
  if (drive.handle.IsBlockDevice()) return drive.handle.Size(bytes);
  if (!drive.driveName.empty()) {
    if (uint64_t size512 = SysfsSize512(drive.driveName)) {
      bytes = size512 * 512;
      return kSuccess;
    }
  }
  return drive.handle.Size(bytes);
}

}  // namespace

ResultCode OpenDriveHandle(int driveNumber, DiskDevice& out) {
  out = DiskDevice{};
  // An image file opened as a drive: 512-byte sectors and the file's length.
  if (auto image = AttachedImagePath(driveNumber)) return OpenFile(*image, OpenMode::ReadOnly, out.handle);
  auto name = DriveName(driveNumber);
  if (!name) return kFileNotFound;
  out.driveName = *name;
  return OpenFile(DevRoot() + "/" + *name, OpenMode::ReadOnly, out.handle);
}

ResultCode OpenPhysicalDrive(int driveNumber, DiskDevice& out) {
  if (ResultCode rc = OpenDriveHandle(driveNumber, out); rc != kSuccess) return rc;
  uint32_t sectorSize = 0;
  if (ResultCode rc = QuerySectorSize(out, sectorSize); rc != kSuccess) return rc;
  uint64_t length = 0;
  if (QueryLength(out, length) == kSuccess) out.totalSectors = length / sectorSize;
  if (out.totalSectors == 0 && out.handle.IsBlockDevice()) {
    hd_geometry geometry{};
    if (::ioctl(out.handle.fd(), HDIO_GETGEO, &geometry) == 0)
      out.totalSectors = uint64_t{geometry.heads} * geometry.sectors * geometry.cylinders;
  }
  return kSuccess;
}

ResultCode OpenImageFile(const std::string& path, DiskDevice& out) {
  out = DiskDevice{};
  if (ResultCode rc = OpenFile(path, OpenMode::ReadOnly, out.handle); rc != kSuccess) return rc;
  uint64_t size = 0;
  if (ResultCode rc = out.handle.Size(size); rc != kSuccess) return rc;
  out.totalSectors = size / 512;
  return kSuccess;
}

ResultCode ReadSectors(int32_t sectorCount, const DiskDevice& device, void* buffer, uint64_t firstSector,
                       uint32_t sectorSize, uint32_t& sectorsRead) {
  sectorsRead = 0;
  if (sectorCount < 0 || sectorSize == 0) return kInvalidParameter;
  uint64_t count = static_cast<uint64_t>(sectorCount);
  if (firstSector > device.totalSectors || count > device.totalSectors - firstSector) return kInvalidParameter;
  if (!device.handle.IsOpen()) return kInvalidHandle;

  const uint64_t total = count * sectorSize;
  const uint64_t base = firstSector * sectorSize;
  auto* out = static_cast<uint8_t*>(buffer);
  uint64_t done = 0;
  ResultCode rc = kSuccess;
  while (done < total) {
    size_t chunk = static_cast<size_t>(std::min<uint64_t>(total - done, kMaxReadChunk));
    ssize_t n = device.handle.ReadAt(out + done, chunk, base + done);
    if (n <= 0) {
      rc = kReadFault;
      break;
    }
    done += static_cast<uint64_t>(n);
  }
  sectorsRead = static_cast<uint32_t>(done / sectorSize);
  return rc;
}

ResultCode ReadFully(const FileHandle& handle, void* buffer, size_t byteCount, size_t& bytesRead) {
  bytesRead = 0;
  auto* out = static_cast<uint8_t*>(buffer);
  while (bytesRead < byteCount) {
    size_t chunk = std::min(byteCount - bytesRead, kMaxReadChunk);
    ssize_t n = handle.Read(out + bytesRead, chunk);
    if (n <= 0) return kReadFault;
    bytesRead += static_cast<size_t>(n);
  }
  return kSuccess;
}

uint32_t GetDriveSectorSize(const DiskDevice& drive) {
  uint32_t size = 512;
  if (QuerySectorSize(drive, size) != kSuccess) return 512;
  return size;
}

void FlushVolume(const std::string& mountPoint) {
  if (!mountPoint.empty()) SyncFileSystem(mountPoint);
}

ResultCode GetPhysicalDriveLength(int driveNumber, uint64_t& bytes) {
  DiskDevice drive;
  if (ResultCode rc = OpenDriveHandle(driveNumber, drive); rc != kSuccess) return rc;
  return QueryLength(drive, bytes);
}

bool IsExternalDrive(int driveNumber) {
  auto name = DriveName(driveNumber);
  if (!name) return false;
  DiskDevice drive;
  if (OpenDriveHandle(driveNumber, drive) != kSuccess) return false;
  return SysfsIsExternal(*name);
}

ResultCode GetVolumeFileSystemName(const std::string& mountPoint, std::string& name) {
  auto mount = FindMountOfPath(mountPoint);
  if (!mount || mount->mountPoint != mountPoint) return kPathNotFound;
  name = mount->fsType;
  return kSuccess;
}

ResultCode GetDriveFreeBytes(const std::string& mountPoint, uint64_t& bytes) {
  uint64_t total = 0;
  return GetMountSpace(mountPoint, total, bytes);
}

ResultCode GetFileSizeByPath(const std::string& path, uint64_t& size) {
  FileHandle handle;
  if (ResultCode rc = OpenFile(path, OpenMode::ReadOnly, handle); rc != kSuccess) return rc;
  return handle.Size(size);
}

}  // namespace selvane
