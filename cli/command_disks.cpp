#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "cli/arguments.h"
#include "cli/commands.h"
#include "cli/json_writer.h"
#include "platform/drive_registry.h"
#include "results/formatting.h"
#include "storage/disk_device.h"
#include "storage/disk_enumerator.h"

namespace selvane::cli {

const char* const kDisksHelp =
    "Usage: selvane disks [--all] [--json]\n"
    "\n"
    "Lists the disks and what lies on them: one row per volume, per stretch of\n"
    "unpartitioned space larger than a cylinder, and one row for a whole disk that\n"
    "holds no volume. The number in the first column identifies the row; scans\n"
    "write it into their results.\n"
    "\n"
    "By default only external disks are listed (removable media, USB and SD card\n"
    "readers). Reading disks usually needs root: run it with sudo.\n"
    "\n"
    "Options:\n"
    "  --all    list every disk, internal ones too\n"
    "  --json   print one JSON object per row instead (JSON Lines); sizes in bytes,\n"
    "           sectors in the disk's own sector size\n"
    "\n"
    "Exit codes: 0 rows listed, 1 no disk to list, 2 usage error, 3 no disk could\n"
    "be read for lack of permission.\n"
    "\n"
    "Examples:\n"
    "  sudo selvane disks\n"
    "  sudo selvane disks --all --json\n";

namespace {

struct DiskFacts {
  std::string name;
  std::string node;
  std::string model;
  bool external = false;
  uint32_t sectorSize = 512;
  uint64_t totalSectors = 0;
};

std::string Trim(std::string text) {
  while (!text.empty() && (text.back() == ' ' || text.back() == '\n')) text.pop_back();
  size_t start = text.find_first_not_of(' ');
  return start == std::string::npos ? std::string() : text.substr(start);
}

DiskFacts FactsOf(int32_t diskNumber, const std::string& name) {
  DiskFacts facts;
  facts.name = name;
  facts.node = DriveNodePath(diskNumber);
  const std::string folder = DiskSysfsFolder(name);
  std::string vendor = Trim(ReadSysfsText(folder + "/device/vendor").value_or(""));
  std::string model = Trim(ReadSysfsText(folder + "/device/model").value_or(""));
  if (model.empty()) model = Trim(ReadSysfsText(folder + "/device/name").value_or(""));  // MMC/SD cards
  facts.model = vendor.empty() ? model : model.empty() ? vendor : vendor + " " + model;
  facts.external = IsExternalDrive(diskNumber);
  DiskDevice drive;
  if (OpenPhysicalDrive(diskNumber, drive) == kSuccess) {
    facts.sectorSize = GetDriveSectorSize(drive);
    facts.totalSectors = drive.totalSectors;
  }
  return facts;
}

// Labels and mount points come from the medium: no control bytes reach the terminal.
std::string Printable(const std::string& text) {
  if (text.empty()) return "-";
  std::string out = text;
  for (char& c : out)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
  return out;
}

std::string RowJson(const DiskFacts& disk, const PartitionRecord& r) {
  JsonObject json;
  json.Add("number", unsigned{r.volumeId})
      .Add("kind", r.IsUnallocated() ? "unallocated" : "volume")
      .Add("disk_number", r.diskNumber)
      .Add("disk", disk.name)
      .Add("disk_device", disk.node)
      .Add("disk_model", disk.model)
      .Add("external", disk.external)
      .Add("sector_size", disk.sectorSize)
      .Add("disk_sectors", disk.totalSectors)
      .Add("device", r.IsUnallocated() ? std::string() : r.devicePath)
      .Add("mount_point", r.mountPoint)
      .Add("file_system", r.fileSystem)
      .Add("label", r.label)
      .Add("partition_type", unsigned{r.partitionType})
      .Add("partition_number", r.partitionNumber)
      .Add("first_sector", r.firstSector)
      .Add("sector_count", r.sectorCount)
      .Add("total_bytes", r.totalBytes)
      .Add("used_bytes", r.usedBytes)
      .Add("free_bytes", r.freeBytes);
  return json.str();
}

void PrintDisk(const DiskFacts& disk, const std::vector<PartitionRecord>& rows) {
  std::string what = disk.external ? "external" : "internal";
  if (!disk.model.empty()) what = Printable(disk.model) + ", " + what;
  std::printf("%s  %s, %s (%llu sectors of %u bytes)\n", disk.node.c_str(), what.c_str(),
              FormatSize(static_cast<int64_t>(disk.totalSectors * disk.sectorSize)).c_str(),
              static_cast<unsigned long long>(disk.totalSectors), disk.sectorSize);
  std::printf("  %4s  %-16s %-18s %-6s %-14s %12s %12s %10s %10s %10s\n", "#", "device", "mount point", "fs", "label",
              "first sector", "sectors", "total", "used", "free");
  for (const auto& r : rows) {
    const bool free = r.IsUnallocated();
    // An unmounted volume's use is unknown: only its length is.
    const bool unknownUse = !free && r.mountPoint.empty();
    std::printf("  %4u  %-16s %-18s %-6s %-14s %12llu %12llu %10s %10s %10s\n", unsigned{r.volumeId},
                free ? "(unallocated)" : r.devicePath.c_str(), Printable(r.mountPoint).c_str(),
                free || r.fileSystem.empty() ? "-" : r.fileSystem.c_str(), Printable(r.label).c_str(),
                static_cast<unsigned long long>(r.firstSector), static_cast<unsigned long long>(r.sectorCount),
                FormatSize(static_cast<int64_t>(r.totalBytes)).c_str(),
                free         ? "-"
                : unknownUse ? "?"
                             : FormatSize(static_cast<int64_t>(r.usedBytes)).c_str(),
                unknownUse ? "?" : FormatSize(static_cast<int64_t>(r.freeBytes)).c_str());
  }
}

}  // namespace

int RunDisks(const std::vector<std::string>& args) {
  ParsedArguments parsed;
  std::string error;
  if (!ParseArguments(args, {"--all", "--json"}, {}, parsed, error) || !parsed.positional.empty()) {
    std::fprintf(stderr, "selvane disks: %s\nUsage: selvane disks [--all] [--json]\n",
                 error.empty() ? "takes no SOURCE" : error.c_str());
    return kExitUsage;
  }
  const bool all = parsed.Has("--all");
  const bool asJson = parsed.Has("--json");

  DiskEnumerator enumerator;
  if (!EnumerateDisks(enumerator)) {
    std::fprintf(stderr, "selvane disks: the system's list of block devices cannot be read\n");
    return kExitSourceUnreadable;
  }

  size_t listed = 0, hiddenInternal = 0;
  bool firstDisk = true;
  for (const auto& [diskNumber, rows] : enumerator.disks) {
    if (rows.empty()) continue;
    DiskFacts facts = FactsOf(diskNumber, rows.front().diskName);
    if (!all && !facts.external) {
      ++hiddenInternal;
      continue;
    }
    listed += rows.size();
    if (asJson) {
      for (const auto& r : rows) std::printf("%s\n", RowJson(facts, r).c_str());
    } else {
      if (!firstDisk) std::printf("\n");
      PrintDisk(facts, rows);
    }
    firstDisk = false;
  }

  // Drives that could not be read are named, so an empty list is never a
  // silent one.
  std::vector<std::string> denied;
  for (const auto& drive : enumerator.unreadable) {
    if (!all && !SysfsIsExternal(drive.name)) continue;
    const std::string node = DriveNodePath(drive.diskNumber);
    const std::string shown = node.empty() ? drive.name : node;
    if (drive.error == kAccessDenied)
      denied.push_back(shown);
    else if (drive.error == kNotReady)
      continue;  // a card reader without a card
    else
      std::fprintf(stderr, "selvane disks: %s cannot be read: %s\n", shown.c_str(), ResultMessage(drive.error).c_str());
  }
  if (!denied.empty()) {
    std::string names;
    for (const auto& n : denied) names += (names.empty() ? "" : ", ") + n;
    if (::geteuid() == 0)
      std::fprintf(stderr,
                   "selvane disks: permission denied reading %s, even to root\n"
                   "(a container or a security policy keeps the devices from this program).\n",
                   names.c_str());
    else
      std::fprintf(stderr,
                   "selvane disks: permission denied reading %s.\n"
                   "Reading disks needs root (\"sudo selvane disks%s\") or membership of the \"disk\" group.\n",
                   names.c_str(), all ? " --all" : "");
  }
  if (listed == 0) {
    if (!denied.empty()) {
      std::fprintf(stderr, "selvane disks: no disk listed because this program may not read the devices.\n");
      return kExitSourceUnreadable;
    }
    if (hiddenInternal && !asJson)
      std::fprintf(stderr, "No external disk found; \"selvane disks --all\" lists the internal ones too.\n");
    else if (!asJson)
      std::fprintf(stderr, "No disk found.\n");
    return kExitNothingFound;
  }
  return kExitOk;
}

}  // namespace selvane::cli
