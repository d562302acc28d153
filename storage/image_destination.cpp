#include "storage/image_destination.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <filesystem>
#include <optional>

#include "platform/drive_registry.h"
#include "platform/file_handle.h"
#include "platform/mounts.h"
#include "platform/user_folders.h"

namespace fs = std::filesystem;

namespace selvane {
namespace {

// The drive (registry name) a block device belongs to, from its numbers.
std::optional<std::string> DiskOfDeviceNumbers(uint32_t major, uint32_t minor) {
  if (major == 0) return std::nullopt;  // anonymous devices (tmpfs, FUSE, btrfs subvolumes)
  std::error_code ec;
  fs::path folder = fs::canonical(
      fs::path(SysfsRoot()) / "dev" / "block" / (std::to_string(major) + ":" + std::to_string(minor)), ec);
  if (ec) return std::nullopt;
  if (fs::exists(folder / "partition", ec)) return folder.parent_path().filename().string();
  return folder.filename().string();
}

std::optional<std::string> DiskOfMount(const MountEntry& mount) {
  if (auto disk = DiskOfDeviceNumbers(mount.major, mount.minor)) return disk;
  if (!mount.source.empty() && mount.source[0] == '/')
    if (auto node = ResolveDeviceNode(mount.source)) return node->diskName;
  return std::nullopt;
}

}  // namespace

DestinationCheck CheckImageDestination(int32_t driveNumber, const std::string& imagePath) {
  DestinationCheck check;
  auto name = DriveName(driveNumber);
  if (!name) return check;
  std::error_code ec;
  const std::string driveNode = DevRoot() + "/" + *name;

  struct stat st {};
  if (::stat(imagePath.c_str(), &st) == 0) {
    if (S_ISBLK(st.st_mode)) {
      auto node = ResolveDeviceNode(imagePath);
      if ((node && node->diskName == *name) || DiskOfDeviceNumbers(major(st.st_rdev), minor(st.st_rdev)) == *name) {
        check.conflict = DestinationConflict::SameStorage;
        check.detail = imagePath + " is a device of the drive being copied";
        return check;
      }
    }
    // The drive's own node (in a test tree a link to an image file), or the file
    // a loop drive reads from.
    std::string backing;
    if (auto text = ReadSysfsText(DiskSysfsFolder(*name) + "/loop/backing_file")) backing = *text;
    for (const std::string& storage : {driveNode, backing}) {
      if (!storage.empty() && IsSameFile(storage, imagePath)) {
        check.conflict = DestinationConflict::SameStorage;
        check.detail = imagePath + (storage == backing ? " is the file behind " : " is ") + driveNode;
        return check;
      }
    }
  }

  fs::path parent = fs::weakly_canonical(fs::absolute(imagePath, ec), ec).parent_path();
  if (auto mount = FindMountOfPath(parent.string())) {
    if (DiskOfMount(*mount) == *name) {
      check.conflict = DestinationConflict::OnSourceDrive;
      check.detail = mount->source + " mounted on " + mount->mountPoint;
    }
  }
  return check;
}

}  // namespace selvane
