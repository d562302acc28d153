#include "cli/scan_targets.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <filesystem>
#include <fstream>
#include <set>

#include "platform/block_probe.h"
#include "platform/drive_registry.h"
#include "platform/file_handle.h"
#include "platform/mounts.h"
#include "platform/user_folders.h"
#include "storage/disk_device.h"
#include "storage/image_drives.h"

namespace selvane::cli {
namespace fs = std::filesystem;

namespace {

// Image sources are numbered from 1001, as the program numbers image files.
constexpr uint16_t kFirstImageNumber = 1001;

std::string AbsolutePath(const std::string& path) {
  std::error_code ec;
  const fs::path absolute = fs::absolute(path, ec);
  return ec ? path : absolute.lexically_normal().string();
}

bool IsBlockDevice(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISBLK(st.st_mode);
}

}  // namespace

std::vector<ListedPartition> PartitionsOf(const SourceSpec& source) {
  std::vector<ListedPartition> out;
  if (source.kind == SourceKind::Partition) return out;
  if (source.kind == SourceKind::Drive) {
    for (const SysfsPartition& p : ListPartitions(source.driveName)) out.push_back({p.number, p.start512, p.size512});
    if (!out.empty()) return out;
  }
  DiskDevice device;
  const ResultCode rc = source.kind == SourceKind::Image ? OpenImageFile(source.imagePath, device)
                                                         : OpenDriveHandle(source.driveNumber, device);
  if (rc != kSuccess) return out;
  PartitionTable table;
  if (!ProbePartitionTable(device.handle, source.kind == SourceKind::Image ? 512 : source.sectorSize, table))
    return out;
  for (const PartitionTableEntry& entry : table.entries)
    if (!entry.extended && entry.size512 > 0) out.push_back({entry.number, entry.start512, entry.size512});
  return out;
}

bool ScanTargetsOf(const SourceSpec& source, uint32_t partition, std::vector<ScanTarget>& targets,
                   std::string& error) {
  targets.clear();
  if (partition != 0) {
    if (source.kind == SourceKind::Partition) {
      error = source.path + " is a partition already; --partition chooses one of a whole disk or disk image";
      return false;
    }
    const auto partitions = PartitionsOf(source);
    for (const ListedPartition& p : partitions) {
      if (p.number != partition) continue;
      ScanTarget t;
      t.partition = p.number;
      if (source.kind == SourceKind::Image) {
        t.imagePath = AbsolutePath(source.imagePath);
        t.driveNumber = AttachImageAsDrive(t.imagePath);
        DiskDevice device;
        t.sectorSize = OpenDriveHandle(t.driveNumber, device) == kSuccess ? GetDriveSectorSize(device) : 512;
        t.label = fs::path(source.path).filename().string() + " partition " + std::to_string(p.number);
        t.sourceId = kFirstImageNumber;
      } else {
        t.driveNumber = source.driveNumber;
        t.sectorSize = source.sectorSize;
        t.devicePath = source.path;
        t.label = source.path + " partition " + std::to_string(p.number);
        t.sourceId = static_cast<uint16_t>(p.number);
        for (const SysfsPartition& s : ListPartitions(source.driveName))
          if (s.number == p.number) t.label = t.devicePath = DevRoot() + "/" + s.name;
      }
      t.firstSector = p.start512 * 512 / t.sectorSize;
      t.sectorCount = p.size512 * 512 / t.sectorSize;
      targets.push_back(t);
      return true;
    }
    error = source.path + " has no partition " + std::to_string(partition);
    if (const std::string hint = PartitionHint(source); !hint.empty())
      error += "; it holds " + hint;
    else
      error += "; it holds no partition table";
    return false;
  }

  if (source.kind == SourceKind::Image) {
    ScanTarget t;
    t.label = fs::path(source.path).filename().string();
    t.sourceId = kFirstImageNumber;
    t.image = true;
    // The history knows an image by its path: the same file under any name.
    t.imagePath = AbsolutePath(source.imagePath);
    t.sectorCount = source.sectorCount;
    targets.push_back(t);
    return true;
  }
  auto partitionTarget = [&](const SysfsPartition& p) {
    ScanTarget t;
    t.label = t.devicePath = DevRoot() + "/" + p.name;
    t.sourceId = static_cast<uint16_t>(p.number);
    t.partition = p.number;
    t.driveNumber = source.driveNumber;
    t.sectorSize = source.sectorSize;
    t.firstSector = p.start512 * 512 / source.sectorSize;
    t.sectorCount = p.size512 * 512 / source.sectorSize;
    return t;
  };
  const auto partitions = ListPartitions(source.driveName);
  if (source.kind == SourceKind::Partition) {
    for (const auto& p : partitions)
      if (p.start512 * 512 == source.firstSector * source.sectorSize) {
        ScanTarget t = partitionTarget(p);
        t.label = t.devicePath = source.path;
        targets.push_back(t);
        return true;
      }
  } else {
    for (const auto& p : partitions) targets.push_back(partitionTarget(p));
    if (!targets.empty()) return true;
  }
  ScanTarget t;
  t.label = t.devicePath = source.path;
  t.sourceId = 1;
  t.driveNumber = source.driveNumber;
  t.sectorSize = source.sectorSize;
  t.firstSector = source.firstSector;
  t.sectorCount = source.sectorCount;
  targets.push_back(t);
  return true;
}

std::string PartitionHint(const SourceSpec& source) {
  const auto partitions = PartitionsOf(source);
  if (partitions.empty()) return {};
  std::string text = partitions.size() == 1 ? "partition " : "partitions ";
  for (size_t i = 0; i < partitions.size(); ++i) {
    if (i) text += i + 1 == partitions.size() ? " and " : ", ";
    text += std::to_string(partitions[i].number);
  }
  return text;
}

std::string OpenErrorText(const std::string& path, ResultCode rc) {
  const bool device = IsBlockDevice(path) || path.rfind("/dev/", 0) == 0;
  if (rc == kFileNotFound || rc == kPathNotFound)
    return path + ": no such file or device" +
           (device ? std::string("; \"selvane disks --all\" lists the disks there are") : std::string());
  if (rc == kAccessDenied)
    return path + ": permission denied" +
           (device ? std::string("; reading a disk needs root: run as root (sudo) or join the disk group")
                   : std::string("; check the file's permissions"));
  if (rc == kNotReady) return path + ": no medium in the drive";
  return path + ": " + ResultMessage(rc);
}

std::vector<std::string> SourceMountPoints(const SourceSpec& source) {
  std::set<std::pair<uint32_t, uint32_t>> devices;
  auto addDevice = [&](const std::string& devFile) {
    uint32_t major = 0, minor = 0;
    if (ReadDeviceNumbers(devFile, major, minor)) devices.insert({major, minor});
  };
  auto addDiskAndPartitions = [&](const std::string& disk) {
    addDevice(DiskSysfsFolder(disk) + "/dev");
    for (const auto& p : ListPartitions(disk)) addDevice(DiskSysfsFolder(disk) + "/" + p.name + "/dev");
  };
  if (source.kind == SourceKind::Image) {
    struct stat st {};
    if (::stat(source.imagePath.c_str(), &st) == 0 && S_ISBLK(st.st_mode))
      devices.insert({::major(st.st_rdev), ::minor(st.st_rdev)});
    std::error_code ec;
    const fs::path image = fs::weakly_canonical(source.imagePath, ec);
    for (const auto& entry : fs::directory_iterator(SysfsRoot() + "/block", ec)) {
      const std::string name = entry.path().filename().string();
      if (name.rfind("loop", 0) != 0) continue;
      std::ifstream backing(entry.path() / "loop" / "backing_file");
      std::string file;
      if (std::getline(backing, file) && !file.empty() && fs::path(file) == image) addDiskAndPartitions(name);
    }
  } else if (source.kind == SourceKind::Drive) {
    // Any mount on the drive is inside a whole-drive source.
    addDiskAndPartitions(source.driveName);
  } else {
    addDevice(DiskSysfsFolder(source.driveName) + "/dev");
    for (const auto& p : ListPartitions(source.driveName))
      if (p.start512 * 512 == source.firstSector * source.sectorSize)
        addDevice(DiskSysfsFolder(source.driveName) + "/" + p.name + "/dev");
  }
  // A FUSE driver (ntfs-3g) mounts an image file directly: its source is the file.
  std::error_code ec;
  const fs::path image = source.kind == SourceKind::Image ? fs::weakly_canonical(source.imagePath, ec) : fs::path();
  std::vector<std::string> mountPoints;
  for (const auto& mount : ReadMounts()) {
    const bool sameFile = !image.empty() && !mount.source.empty() && mount.source[0] == '/' &&
                          fs::weakly_canonical(mount.source, ec) == image;
    if (devices.count({mount.major, mount.minor}) || sameFile) mountPoints.push_back(mount.mountPoint);
  }
  return mountPoints;
}

uint64_t VolumeFingerprint(const ScanTarget& target) {
  DiskDevice device;
  const ResultCode rc =
      target.image ? OpenImageFile(target.imagePath, device) : OpenDriveHandle(target.driveNumber, device);
  if (rc != kSuccess) return 0;
  std::vector<uint8_t> head(65536);
  const ssize_t n = device.handle.ReadAt(head.data(), head.size(), target.firstSector * target.sectorSize);
  if (n <= 0) return 0;
  uint64_t hash = 0xCBF29CE484222325ull;
  for (ssize_t i = 0; i < n; ++i) hash = (hash ^ head[static_cast<size_t>(i)]) * 0x100000001B3ull;
  return hash;
}

}  // namespace selvane::cli

namespace selvane::cli {

std::vector<std::string> TargetMountPoints(const ScanTarget& target) {
  SourceSpec spec;
  if (!target.imagePath.empty()) {
    spec.kind = SourceKind::Image;
    spec.path = spec.imagePath = target.imagePath;
    return SourceMountPoints(spec);
  }
  if (ResolveSource(target.devicePath, spec) != kSuccess) return {};
  return SourceMountPoints(spec);
}

}  // namespace selvane::cli
