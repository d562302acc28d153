#include "storage/disk_enumerator.h"

#include <linux/hdreg.h>
#include <sys/ioctl.h>

#include <algorithm>
#include <filesystem>

#include "platform/block_probe.h"
#include "platform/drive_registry.h"
#include "platform/mounts.h"
#include "platform/text.h"
#include "platform/user_folders.h"
#include "storage/disk_device.h"

namespace fs = std::filesystem;

namespace selvane {
namespace {

// Cylinder layout used where the drive does not tell its own: 255 heads of 63
// sectors, the first track left free.
constexpr uint64_t kDefaultSectorsPerTrack = 63;
constexpr uint64_t kDefaultSectorsPerCylinder = 255 * 63;

struct DriveLayout {
  uint32_t sectorSize = 512;
  uint64_t totalSectors = 0;
  uint64_t sectorsPerCylinder = kDefaultSectorsPerCylinder;
  uint64_t firstUsableSector = kDefaultSectorsPerTrack;
};

DriveLayout ReadLayout(const DiskDevice& drive) {
  DriveLayout layout;
  layout.sectorSize = GetDriveSectorSize(drive);
  layout.totalSectors = drive.totalSectors;
  hd_geometry geometry{};
  if (drive.handle.IsBlockDevice() && ::ioctl(drive.handle.fd(), HDIO_GETGEO, &geometry) == 0 && geometry.heads != 0 &&
      geometry.sectors != 0) {
    layout.sectorsPerCylinder = uint64_t{geometry.heads} * geometry.sectors;
    layout.firstUsableSector = geometry.sectors;
  }
  return layout;
}

uint8_t TypeFromFileSystem(const std::string& name, uint8_t tableType) {
  if (CompareNoCase(name, "NTFS") == 0) return 0x07;
  if (CompareNoCase(name, "FAT32") == 0) return 0x0B;
  if (CompareNoCase(name, "FAT") == 0) return 0x06;
  return tableType;
}

// Where the device with the sysfs folder `folder` and node `node` is mounted,
// and the size and free space its file system reports. Without a mount the
// volume counts as its partition length with nothing known free.
void FillSpace(const std::string& folder, const std::string& node, PartitionRecord& record) {
  uint32_t major = 0, minor = 0;
  const bool haveNumbers = ReadDeviceNumbers(folder + "/dev", major, minor);
  std::optional<MountEntry> mount;
  if (haveNumbers) mount = FindMountOfNode(major, minor, node);
  uint64_t total = 0, free = 0;
  if (mount && GetFileSystemSpace(mount->mountPoint, total, free) == kSuccess && total != 0) {
    record.mountPoint = mount->mountPoint;
    record.totalBytes = total;
    record.freeBytes = std::min(free, total);
  } else {
    if (mount) record.mountPoint = mount->mountPoint;
    record.totalBytes = record.sectorCount;  // still bytes here
    record.freeBytes = 0;
  }
  record.usedBytes = record.totalBytes - record.freeBytes;
}

// The file system of a partition: probed on its own node when that is a block
// device, else inside the drive at the partition's offset (which also serves
// drives presented as image files).
FileSystemInfo ProbePartition(const DiskDevice& drive, uint32_t sectorSize, const std::string& node, uint64_t offset,
                              uint64_t length) {
  FileSystemInfo info;
  FileHandle own;
  if (OpenFile(node, OpenMode::ReadOnly, own) == kSuccess && own.IsBlockDevice() &&
      ProbeFileSystem(own, 0, 0, sectorSize, info))
    return info;
  ProbeFileSystem(drive.handle, offset, length, sectorSize, info);
  return info;
}

// The volumes of one drive, positions and lengths in bytes.
std::vector<PartitionRecord> EnumerateVolumesOfDrive(int32_t driveNumber, const std::string& name,
                                                     const DiskDevice& drive, const DriveLayout& layout,
                                                     uint64_t sequence) {
  std::vector<PartitionRecord> volumes;
  const std::string diskFolder = DiskSysfsFolder(name);
  const std::string diskNode = DevRoot() + "/" + name;
  auto makeRecord = [&](int32_t partitionNumber) {
    PartitionRecord record;
    record.diskNumber = driveNumber;
    record.partitionNumber = partitionNumber;
    record.diskName = name;
    record.diskSequence = sequence;
    return record;
  };
  auto keep = [&](PartitionRecord& record, const FileSystemInfo& info, uint8_t tableType, const std::string& folder) {
    record.fileSystem = FileSystemDisplayName(info);
    record.label = info.label;
    record.partitionType = TypeFromFileSystem(record.fileSystem, tableType);
    // A volume that is neither known to the partition table nor named by a
    // recognised file system is not listed.
    if (record.partitionType == 0) return;
    FillSpace(folder, record.devicePath, record);
    volumes.push_back(std::move(record));
  };

  PartitionTable table;
  ProbePartitionTable(drive.handle, layout.sectorSize, table);
  const auto partitions = ListPartitions(name);

  if (partitions.empty()) {
    // A stick formatted without a partition table holds one volume on the whole drive.
    if (!table.type.empty()) return volumes;
    FileSystemInfo info;
    if (!ProbeFileSystem(drive.handle, 0, 0, layout.sectorSize, info) || info.type.empty()) return volumes;
    PartitionRecord record = makeRecord(0);
    record.firstSector = 0;
    record.sectorCount = layout.totalSectors * layout.sectorSize;
    record.devicePath = diskNode;
    keep(record, info, 0, diskFolder);
    return volumes;
  }

  // Only MBR tables give a type byte; on GPT and other tables the type comes
  // from the file system alone.
  for (const auto& part : partitions) {
    uint8_t tableType = 0;
    bool container = false;
    for (const auto& entry : table.entries) {
      if (entry.start512 != part.start512) continue;
      tableType = entry.mbrType;
      container = entry.extended;
      break;
    }
    if (container) continue;  // the MBR's extended container holds logical volumes, it is none itself
    PartitionRecord record = makeRecord(static_cast<int32_t>(part.number));
    record.firstSector = part.start512 * 512;
    record.sectorCount = part.size512 * 512;
    record.devicePath = DevRoot() + "/" + part.name;
    const FileSystemInfo info =
        ProbePartition(drive, layout.sectorSize, record.devicePath, record.firstSector, record.sectorCount);
    keep(record, info, tableType, diskFolder + "/" + part.name);
  }
  return volumes;
}

PartitionRecord UnallocatedRecord(const PartitionRecord& driveRow, uint64_t first, uint64_t end, uint32_t sectorSize) {
  PartitionRecord record;
  record.partitionType = 0;
  record.diskNumber = driveRow.diskNumber;
  record.partitionNumber = 0;
  record.firstSector = first;
  record.sectorCount = end - first;
  record.totalBytes = record.freeBytes = record.sectorCount * sectorSize;
  record.usedBytes = 0;
  record.devicePath = driveRow.devicePath;
  record.diskName = driveRow.diskName;
  record.diskSequence = driveRow.diskSequence;
  return record;
}

void SortByFirstSector(std::vector<PartitionRecord>& records) {
  std::stable_sort(records.begin(), records.end(),
                   [](const PartitionRecord& a, const PartitionRecord& b) { return a.firstSector < b.firstSector; });
}

// Turns a drive's byte positions into sectors and adds a record for every gap
// of more than a cylinder before, between and after its volumes.
void AddUnallocatedSpace(std::vector<PartitionRecord>& records, const DriveLayout& layout,
                         const PartitionRecord& driveRow) {
  for (auto& record : records) {
    record.firstSector /= layout.sectorSize;
    record.sectorCount /= layout.sectorSize;
  }
  std::vector<PartitionRecord> gaps;
  uint64_t cursor = layout.firstUsableSector;
  for (const auto& record : records) {
    if (record.firstSector > cursor && record.firstSector - cursor > layout.sectorsPerCylinder)
      gaps.push_back(UnallocatedRecord(driveRow, cursor, record.firstSector, layout.sectorSize));
    // Overlapping entries of a damaged table must not pull the cursor back.
    cursor = std::max(cursor, record.firstSector + record.sectorCount);
  }
  if (layout.totalSectors > cursor && layout.totalSectors - cursor > layout.sectorsPerCylinder)
    gaps.push_back(UnallocatedRecord(driveRow, cursor, layout.totalSectors, layout.sectorSize));
  records.insert(records.end(), gaps.begin(), gaps.end());
}

}  // namespace

bool EnumerateDisks(DiskEnumerator& enumerator) {
  enumerator.disks.clear();
  enumerator.unreadable.clear();
  enumerator.cursorDisk = enumerator.cursorIndex = 0;

  std::error_code ec;
  if (!fs::is_directory(fs::path(SysfsRoot()) / "block", ec)) return false;

  const auto names = ListDriveNames();
  for (size_t i = 0; i < names.size(); ++i) {
    const int32_t driveNumber = static_cast<int32_t>(i);
    DiskDevice drive;
    if (ResultCode rc = OpenPhysicalDrive(driveNumber, drive); rc != kSuccess) {
      enumerator.unreadable.push_back({driveNumber, names[i], rc});
      continue;
    }
    // The drive may have changed between listing and opening; the name it was
    // opened under is the one that counts.
    const std::string& name = drive.driveName;
    const DriveLayout layout = ReadLayout(drive);
    const uint64_t sequence = ReadSysfsNumber(DiskSysfsFolder(name) + "/diskseq").value_or(0);

    PartitionRecord driveRow;
    driveRow.diskNumber = driveNumber;
    driveRow.devicePath = DevRoot() + "/" + name;
    driveRow.diskName = name;
    driveRow.diskSequence = sequence;

    auto records = EnumerateVolumesOfDrive(driveNumber, name, drive, layout, sequence);
    if (records.empty()) {
      // A drive without volumes (a new disk, a wiped or foreign one) is one row.
      if (layout.totalSectors == 0) continue;
      records.push_back(UnallocatedRecord(driveRow, 0, layout.totalSectors, layout.sectorSize));
    } else {
      SortByFirstSector(records);
      AddUnallocatedSpace(records, layout, driveRow);
      SortByFirstSector(records);
    }
    enumerator.bytesPerSector = static_cast<int32_t>(layout.sectorSize);
    enumerator.disks[driveNumber] = std::move(records);
  }

  // No drive letters exist here: every record gets its 1-based position in
  // NextPartition order as its number.
  uint16_t n = 1;
  for (auto& [disk, records] : enumerator.disks)
    for (auto& record : records) record.volumeId = n++;
  return true;
}

bool NextPartition(DiskEnumerator& enumerator, PartitionRecord& out) {
  auto it = enumerator.disks.lower_bound(enumerator.cursorDisk);
  while (it != enumerator.disks.end()) {
    if (it->first != enumerator.cursorDisk) {
      enumerator.cursorDisk = it->first;
      enumerator.cursorIndex = 0;
    }
    if (enumerator.cursorIndex >= 0 && static_cast<size_t>(enumerator.cursorIndex) < it->second.size()) {
      out = it->second[static_cast<size_t>(enumerator.cursorIndex++)];
      return true;
    }
    ++it;
  }
  return false;
}

void CopyAllPartitions(const DiskEnumerator& enumerator, std::vector<PartitionRecord>& out) {
  out.clear();
  for (const auto& [disk, records] : enumerator.disks) out.insert(out.end(), records.begin(), records.end());
}

void FindRemovedPartitions(DiskEnumerator& enumerator, const std::vector<PartitionRecord>& previous,
                           std::vector<PartitionRecord>& removed) {
  EnumerateDisks(enumerator);
  for (const auto& old : previous) {
    bool present = false;
    for (const auto& [disk, records] : enumerator.disks) {
      for (const auto& record : records) {
        if (record.diskName == old.diskName && record.diskSequence == old.diskSequence &&
            record.firstSector == old.firstSector) {
          present = true;
          break;
        }
      }
      if (present) break;
    }
    if (!present) removed.push_back(old);
  }
}

}  // namespace selvane
