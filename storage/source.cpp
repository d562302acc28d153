#include "storage/source.h"

#include <sys/stat.h>

#include "platform/drive_registry.h"
#include "storage/disk_device.h"

namespace selvane {

ResultCode ResolveSource(const std::string& path, SourceSpec& out) {
  out = SourceSpec{};
  out.path = path;
  // Opening first gives the user the real reason a source cannot be read.
  FileHandle probe;
  if (ResultCode rc = OpenFile(path, OpenMode::ReadOnly, probe); rc != kSuccess) return rc;
  struct stat st {};
  if (::fstat(probe.fd(), &st) != 0) return LastResult();
  if (S_ISDIR(st.st_mode)) return kAccessDenied;

  if (auto node = ResolveDeviceNode(path)) {
    DiskDevice drive;
    if (OpenPhysicalDrive(node->driveNumber, drive) == kSuccess) {
      out.driveNumber = node->driveNumber;
      out.driveName = node->diskName;
      out.sectorSize = GetDriveSectorSize(drive);
      if (node->partition) {
        out.kind = SourceKind::Partition;
        out.firstSector = node->partition->start512 * 512 / out.sectorSize;
        out.sectorCount = node->partition->size512 * 512 / out.sectorSize;
      } else {
        out.kind = SourceKind::Drive;
        out.sectorCount = drive.totalSectors;
      }
      return kSuccess;
    }
  }
  uint64_t size = 0;
  if (ResultCode rc = probe.Size(size); rc != kSuccess) return rc;
  out.kind = SourceKind::Image;
  out.imagePath = path;
  out.sectorCount = size / 512;
  return kSuccess;
}

ResultCode ReadSourceHead(const SourceSpec& source, uint8_t* buffer, size_t count) {
  DiskDevice device;
  ResultCode rc = source.kind == SourceKind::Image ? OpenImageFile(source.imagePath, device)
                                                   : OpenDriveHandle(source.driveNumber, device);
  if (rc != kSuccess) return rc;
  ssize_t n = device.handle.ReadAt(buffer, count, source.firstSector * source.sectorSize);
  if (n < 0) return LastResult();
  if (static_cast<size_t>(n) != count) return kReadFault;
  return kSuccess;
}

}  // namespace selvane
