#include "platform/drive_registry.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include "platform/file_handle.h"
#include "platform/user_folders.h"

namespace fs = std::filesystem;

namespace selvane {
namespace {

bool StartsWith(const std::string& s, const char* prefix) { return s.rfind(prefix, 0) == 0; }

// Virtual devices that never hold a user's data: RAM disks, compressed swap,
// device-mapper and md stacks, optical drives, and loop devices without a file.
bool IsDriveName(const std::string& name, const fs::path& folder) {
  if (StartsWith(name, "ram") || StartsWith(name, "zram") || StartsWith(name, "dm-") ||
      StartsWith(name, "md") || StartsWith(name, "sr") || StartsWith(name, "fd") ||
      StartsWith(name, "nbd"))
    return false;
  if (StartsWith(name, "loop")) {
    std::error_code ec;
    return fs::exists(folder / "loop" / "backing_file", ec);
  }
  return true;
}

std::string ReadFirstLine(const fs::path& path) {
  std::ifstream in(path);
  std::string line;
  std::getline(in, line);
  return line;
}

}  // namespace

bool NaturalLess(const std::string& a, const std::string& b) {
  size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    if (std::isdigit(static_cast<unsigned char>(a[i])) && std::isdigit(static_cast<unsigned char>(b[j]))) {
      size_t i2 = i, j2 = j;
      while (i2 < a.size() && std::isdigit(static_cast<unsigned char>(a[i2]))) ++i2;
      while (j2 < b.size() && std::isdigit(static_cast<unsigned char>(b[j2]))) ++j2;
      std::string da = a.substr(i, i2 - i), db = b.substr(j, j2 - j);
      da.erase(0, std::min(da.find_first_not_of('0'), da.size() - 1));
      db.erase(0, std::min(db.find_first_not_of('0'), db.size() - 1));
      if (da.size() != db.size()) return da.size() < db.size();
      if (da != db) return da < db;
      i = i2;
      j = j2;
    } else {
      if (a[i] != b[j]) return a[i] < b[j];
      ++i;
      ++j;
    }
  }
  return (a.size() - i) < (b.size() - j);
}

std::optional<uint64_t> ReadSysfsNumber(const std::string& path) {
  std::string line = ReadFirstLine(path);
  if (line.empty() || !std::isdigit(static_cast<unsigned char>(line[0]))) return std::nullopt;
  return std::strtoull(line.c_str(), nullptr, 10);
}

std::optional<std::string> ReadSysfsText(const std::string& path) {
  std::ifstream in(path);
  std::string line;
  if (!in || !std::getline(in, line)) return std::nullopt;
  return line;
}

std::vector<std::string> ListDriveNames() {
  std::vector<std::string> names;
  std::error_code ec;
  fs::path root = fs::path(SysfsRoot()) / "block";
  for (const auto& entry : fs::directory_iterator(root, ec)) {
    std::string name = entry.path().filename().string();
    if (IsDriveName(name, entry.path())) names.push_back(name);
  }
  std::sort(names.begin(), names.end(), NaturalLess);
  return names;
}

std::optional<std::string> DriveName(int driveNumber) {
  if (driveNumber < 0) return std::nullopt;
  auto names = ListDriveNames();
  if (static_cast<size_t>(driveNumber) >= names.size()) return std::nullopt;
  return names[static_cast<size_t>(driveNumber)];
}

std::string DriveNodePath(int driveNumber) {
  auto name = DriveName(driveNumber);
  return name ? DevRoot() + "/" + *name : std::string();
}

std::string DiskSysfsFolder(const std::string& diskName) { return SysfsRoot() + "/block/" + diskName; }

std::vector<SysfsPartition> ListPartitions(const std::string& diskName) {
  std::vector<SysfsPartition> parts;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(DiskSysfsFolder(diskName), ec)) {
    auto number = ReadSysfsNumber((entry.path() / "partition").string());
    if (!number) continue;
    SysfsPartition p;
    p.name = entry.path().filename().string();
    p.number = static_cast<uint32_t>(*number);
    p.start512 = ReadSysfsNumber((entry.path() / "start").string()).value_or(0);
    p.size512 = ReadSysfsNumber((entry.path() / "size").string()).value_or(0);
    parts.push_back(std::move(p));
  }
  std::sort(parts.begin(), parts.end(), [](const auto& a, const auto& b) { return a.number < b.number; });
  return parts;
}

uint32_t SysfsLogicalBlockSize(const std::string& diskName) {
  auto value = ReadSysfsNumber(DiskSysfsFolder(diskName) + "/queue/logical_block_size");
  return value ? static_cast<uint32_t>(*value) : 0;
}

uint64_t SysfsSize512(const std::string& diskName) {
  return ReadSysfsNumber(DiskSysfsFolder(diskName) + "/size").value_or(0);
}

bool SysfsIsExternal(const std::string& diskName) {
  std::string folder = DiskSysfsFolder(diskName);
  if (ReadSysfsNumber(folder + "/removable").value_or(0) == 1) return true;
  std::error_code ec;
  fs::path real = fs::canonical(folder, ec);
  if (ec) return false;
  std::string text = real.string();
  return text.find("/usb") != std::string::npos || text.find("/mmc") != std::string::npos;
}

std::optional<ResolvedDeviceNode> ResolveDeviceNode(const std::string& path) {
  std::error_code ec;
  fs::path given(path);
  fs::path real = fs::canonical(given, ec);
  if (ec) return std::nullopt;

  // Names the node may go by: its own, the one a link points at, and for a real
  // block device the sysfs folder that its device numbers name.
  std::vector<std::string> candidates = {given.filename().string(), real.filename().string()};
  struct stat st {};
  if (::stat(real.c_str(), &st) == 0 && S_ISBLK(st.st_mode)) {
    fs::path link = fs::path(SysfsRoot()) / "dev" / "block" /
                    (std::to_string(major(st.st_rdev)) + ":" + std::to_string(minor(st.st_rdev)));
    fs::path folder = fs::canonical(link, ec);
    if (!ec) candidates.insert(candidates.begin(), folder.filename().string());
  }

  // A name counts only when the registry's node for it is this very file.
  auto isThisNode = [&](const std::string& name) { return IsSameFile(DevRoot() + "/" + name, path); };
  auto names = ListDriveNames();
  for (const auto& candidate : candidates) {
    for (size_t i = 0; i < names.size(); ++i) {
      if (names[i] == candidate && isThisNode(candidate))
        return ResolvedDeviceNode{static_cast<int>(i), names[i], std::nullopt};
      for (auto& part : ListPartitions(names[i]))
        if (part.name == candidate && isThisNode(candidate))
          return ResolvedDeviceNode{static_cast<int>(i), names[i], part};
    }
  }
  return std::nullopt;
}

}  // namespace selvane
