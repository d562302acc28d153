#include "engine/recovery_factory.h"

#include <vector>

#include "engine/fast_ext_recovery.h"
#include "engine/fast_fat_recovery.h"
#include "engine/fast_ntfs_recovery.h"
#include "engine/file_system_probes.h"
#include "engine/professional_recovery.h"
#include "results/scan_history.h"
#include "results/scan_log.h"
#include "storage/disk_device.h"
#include "storage/partition_mounts.h"

namespace selvane {

std::unique_ptr<IFileRecoveryParse> MakeEngine(FileSystemKind kind, ScanMode mode) {
  if (mode == ScanMode::Professional) {
    // The deep scan whatever the volume holds; it runs the fast engine of the
    // volume first and makes it through this factory.
    FastEngineMaker fast;
    fast.forDisk = [](int32_t driveNumber, uint64_t firstSector, uint64_t sectorCount, uint16_t sourceId) {
      return CreateRecoveryForDisk(driveNumber, firstSector, sectorCount, sourceId, ScanMode::Fast);
    };
    fast.forImage = [](const std::string& imagePath, uint16_t imageNumber) {
      return CreateRecoveryForImage(imagePath, imageNumber, ScanMode::Fast);
    };
    return std::make_unique<CProfessionalRecovery>(std::move(fast));
  }
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

namespace {

// A fast engine, opened on its source, continues the log of the earlier scan.
ResultCode ReopenFastLog(IFileRecoveryParse& engine, const std::string& folder) {
  CScanHistory& history = CScanHistory::Instance();
  if (history.SelectScanFolder(folder) != kSuccess) return kPathNotFound;
  std::string log;
  if (history.FindLogFile(kFastLogPrefix, log, history.GetScanFolder()) != kSuccess || log.empty())
    return kFileNotFound;
  return engine.Scan(log);
}

}  // namespace

std::unique_ptr<IFileRecoveryParse> ReopenScanOfDisk(int32_t driveNumber, uint64_t firstSector, uint64_t sectorCount,
                                                     uint16_t sourceId, ScanMode mode, const std::string& folder,
                                                     ResultCode& result) {
  if (mode == ScanMode::Professional) {
    auto deep = std::unique_ptr<CProfessionalRecovery>(
        static_cast<CProfessionalRecovery*>(MakeEngine(FileSystemKind::Unknown, mode).release()));
    result = deep->ReopenPartition(driveNumber, firstSector, sectorCount, sourceId, folder);
    if (result != kSuccess) return nullptr;
    return deep;
  }
  auto engine = CreateRecoveryForDisk(driveNumber, firstSector, sectorCount, sourceId, mode);
  if (!engine) {
    result = kReadFault;
    return nullptr;
  }
  result = ReopenFastLog(*engine, folder);
  if (result != kSuccess) return nullptr;
  return engine;
}

std::unique_ptr<IFileRecoveryParse> ReopenScanOfImage(const std::string& imagePath, uint16_t imageNumber,
                                                      ScanMode mode, const std::string& folder, ResultCode& result) {
  if (mode == ScanMode::Professional) {
    auto deep = std::unique_ptr<CProfessionalRecovery>(
        static_cast<CProfessionalRecovery*>(MakeEngine(FileSystemKind::Unknown, mode).release()));
    result = deep->ReopenImage(imagePath, imageNumber, folder);
    if (result != kSuccess) return nullptr;
    return deep;
  }
  auto engine = CreateRecoveryForImage(imagePath, imageNumber, mode);
  if (!engine) {
    result = kReadFault;
    return nullptr;
  }
  result = ReopenFastLog(*engine, folder);
  if (result != kSuccess) return nullptr;
  return engine;
}

}  // namespace selvane
