#include "engine/recovery_factory.h"

#include <vector>

#include "engine/fast_ext_recovery.h"
#include "engine/fast_fat_recovery.h"
#include "engine/fast_ntfs_recovery.h"
#include "engine/file_system_probes.h"
#include "storage/disk_device.h"
#include "storage/partition_mounts.h"

namespace selvane {

std::unique_ptr<IFileRecoveryParse> MakeEngine(FileSystemKind kind, ScanMode mode) {
  if (mode == ScanMode::Professional) return nullptr;  // the deep scan is not built yet
  switch (kind) {
    case FileSystemKind::Ext: return std::make_unique<CFastExtRecovery>();
    case FileSystemKind::Fat: return std::make_unique<CFastFatRecovery>();
    case FileSystemKind::Ntfs: return std::make_unique<CFastNtfsRecovery>();
    case FileSystemKind::Unknown: break;
  }
  return nullptr;
}

std::unique_ptr<IFileRecoveryParse> CreateRecoveryForDisk(int32_t driveNumber, uint64_t firstSector,
                                                          uint64_t sectorCount, uint16_t sourceId, ScanMode mode) {
  DiskDevice drive;
  if (OpenDriveHandle(driveNumber, drive) != kSuccess) return nullptr;
  FlushVolume(MountPointOfPartition(driveNumber, firstSector));
  const uint32_t sectorSize = GetDriveSectorSize(drive);

  std::vector<uint8_t> head(kProbeBytes);
  ssize_t n = drive.handle.ReadAt(head.data(), head.size(), firstSector * sectorSize);
  if (n != static_cast<ssize_t>(head.size())) return nullptr;

  auto engine = MakeEngine(ClassifyVolume(head), mode);
  if (engine) engine->OpenPartition(driveNumber, firstSector, sectorCount, sourceId);
  return engine;
}

std::unique_ptr<IFileRecoveryParse> CreateRecoveryForImage(const std::string& imagePath, uint16_t imageNumber,
                                                           ScanMode mode) {
  FileHandle image;
  if (OpenFile(imagePath, OpenMode::ReadOnly, image) != kSuccess) return nullptr;
  std::vector<uint8_t> head(kProbeBytes);
  ssize_t n = image.ReadAt(head.data(), head.size(), 0);
  if (n != static_cast<ssize_t>(head.size())) return nullptr;

  auto engine = MakeEngine(ClassifyVolume(head), mode);
  if (engine) engine->OpenImage(imagePath, imageNumber);
  return engine;
}

}  // namespace selvane
