// The commands against a real block device: a disk image attached as a loop
// device with its partitions. Needs root and losetup; skips itself elsewhere.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <thread>

#include "platform/device_monitor.h"
#include "support/disk_builder.h"
#include "support/test_support.h"

namespace fs = std::filesystem;

namespace selvane {
namespace {

using test::RunShell;
using test::TempDir;

bool HaveTool(const std::string& name) { return RunShell("command -v " + name + " >/dev/null 2>&1").exitCode == 0; }

// A loop device with partitions, detached (and its mount undone) in every case.
class LoopDisk {
 public:
  ~LoopDisk() {
    if (!mountPoint.empty()) RunShell("umount '" + mountPoint + "' 2>/dev/null");
    for (const auto& node : madeNodes) ::unlink(node.c_str());
    if (!device.empty()) RunShell("losetup -d " + device + " 2>/dev/null");
  }

  // Attaches `image`; on failure says why in `why`.
  bool Attach(const std::string& image, std::string& why) {
    auto attached = RunShell("losetup -f --show -P '" + image + "' 2>/dev/null");
    if (attached.exitCode != 0 || attached.out.empty()) {
      why = "losetup cannot attach a loop device here";
      return false;
    }
    device = attached.out.substr(0, attached.out.find('\n'));
    name = fs::path(device).filename().string();
    // Without udev the kernel may not have read the table yet.
    if (!fs::exists("/sys/block/" + name + "/" + name + "p1")) RunShell("partx -a " + device + " 2>/dev/null");
    for (int p = 1; p <= 3; ++p) {
      const std::string part = name + "p" + std::to_string(p);
      if (!fs::exists("/sys/block/" + name + "/" + part)) {
        why = "the kernel shows no partitions of " + device;
        return false;
      }
      if (!fs::exists("/dev/" + part)) {
        std::ifstream in("/sys/block/" + name + "/" + part + "/dev");
        unsigned major = 0, minor = 0;
        char colon = 0;
        in >> major >> colon >> minor;
        if (::mknod(("/dev/" + part).c_str(), S_IFBLK | 0600, makedev(major, minor)) != 0) {
          why = "cannot make the node /dev/" + part;
          return false;
        }
        madeNodes.push_back("/dev/" + part);
      }
    }
    return true;
  }

  std::string device, name, mountPoint;
  std::vector<std::string> madeNodes;
};

std::vector<std::string> LinesWith(const std::string& text, const std::string& needle) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (line.find(needle) != std::string::npos) lines.push_back(line);
    start = end + 1;
  }
  return lines;
}

std::string Field(const std::string& line, const std::string& key) {
  const std::string marker = "\"" + key + "\":";
  size_t at = line.find(marker);
  if (at == std::string::npos) return "<missing>";
  at += marker.size();
  if (line[at] == '"') return line.substr(at + 1, line.find('"', at + 1) - at - 1);
  return line.substr(at, line.find_first_of(",}", at) - at);
}

TEST(LoopDevice, DisksAndImagesOfARealBlockDevice) {
  if (::geteuid() != 0) GTEST_SKIP() << "attaching a loop device needs root";
  if (!HaveTool("losetup") || !HaveTool("partx")) GTEST_SKIP() << "losetup and partx are not installed";

  // 64 MiB: FAT32 at 2,048, a gap of 18,432 sectors, NTFS, a Linux volume, and
  // 36,864 sectors of free space at the end.
  TempDir dir;
  test::DiskImageBuilder disk(dir / "disk.img", 131072);
  disk.WriteMbr({{0x0C, 2048, 20480}, {0x07, 40960, 20480}, {0x83, 61440, 32768}});
  disk.WriteAtSector(2048, test::FatVolumeHead(32, 20480, "LOOPFAT"));
  disk.WriteAtSector(40960, test::NtfsVolumeHead(20480, u"LOOPNTFS"));

  DeviceMonitor monitor;
  LoopDisk loop;
  std::string why;
  if (!loop.Attach(disk.path(), why)) GTEST_SKIP() << why;

  const bool ext4 =
      HaveTool("mkfs.ext4") && RunShell("mkfs.ext4 -q -F -L LOOPEXT -E lazy_itable_init=0,lazy_journal_init=0 /dev/" +
                                        loop.name + "p3 >/dev/null 2>&1")
                                       .exitCode == 0;

  auto listed = test::RunSelvane({"disks", "--all", "--json"});
  ASSERT_EQ(listed.exitCode, 0) << listed.err;
  auto rows = LinesWith(listed.out, "\"disk\":\"" + loop.name + "\"");
  ASSERT_EQ(rows.size(), 5u) << listed.out;
  struct Expected {
    const char* kind;
    const char* first;
    const char* count;
    const char* fileSystem;
    const char* label;
    const char* partition;
  };
  const Expected expected[] = {
      {"volume", "2048", "20480", "FAT32", "LOOPFAT", "p1"},
      {"unallocated", "22528", "18432", "", "", ""},
      {"volume", "40960", "20480", "NTFS", "LOOPNTFS", "p2"},
      {"volume", "61440", "32768", ext4 ? "ext4" : "", ext4 ? "LOOPEXT" : "", "p3"},
      {"unallocated", "94208", "36864", "", "", ""},
  };
  const long firstNumber = std::stol(Field(rows[0], "number"));
  for (size_t i = 0; i < rows.size(); ++i) {
    SCOPED_TRACE(rows[i]);
    EXPECT_EQ(std::stol(Field(rows[i], "number")), firstNumber + static_cast<long>(i));
    EXPECT_EQ(Field(rows[i], "kind"), expected[i].kind);
    EXPECT_EQ(Field(rows[i], "first_sector"), expected[i].first);
    EXPECT_EQ(Field(rows[i], "sector_count"), expected[i].count);
    EXPECT_EQ(Field(rows[i], "file_system"), expected[i].fileSystem);
    EXPECT_EQ(Field(rows[i], "label"), expected[i].label);
    EXPECT_EQ(Field(rows[i], "device"), *expected[i].partition ? loop.device + expected[i].partition : "");
  }

  auto whole = test::RunSelvane({"image", loop.device, dir / "whole.img"});
  ASSERT_EQ(whole.exitCode, 0) << whole.err;
  EXPECT_EQ(test::Sha256OfFile(dir / "whole.img"), test::Sha256OfFile(disk.path()));

  auto part = test::RunSelvane({"image", loop.device + "p1", dir / "p1.img"});
  ASSERT_EQ(part.exitCode, 0) << part.err;
  auto range = RunShell("dd if='" + disk.path() + "' bs=512 skip=2048 count=20480 2>/dev/null | sha256sum");
  EXPECT_EQ(test::Sha256OfFile(dir / "p1.img"), range.out.substr(0, 64));

  auto ontoSource = test::RunSelvane({"image", loop.device, disk.path(), "--force"});
  EXPECT_EQ(ontoSource.exitCode, 2) << ontoSource.err;

  // Mounted: sizes from the file system, and no image onto it without --force.
  const std::string mountPoint = dir / "mnt";
  fs::create_directory(mountPoint);
  if (ext4 && RunShell("mount /dev/" + loop.name + "p3 '" + mountPoint + "' 2>/dev/null").exitCode == 0) {
    loop.mountPoint = mountPoint;
    auto mounted = LinesWith(test::RunSelvane({"disks", "--all", "--json"}).out, loop.device + "p3");
    ASSERT_EQ(mounted.size(), 1u);
    EXPECT_EQ(Field(mounted[0], "mount_point"), mountPoint);
    struct statvfs st {};
    ASSERT_EQ(::statvfs(mountPoint.c_str(), &st), 0);
    EXPECT_EQ(Field(mounted[0], "total_bytes"), std::to_string(uint64_t{st.f_blocks} * st.f_frsize));
    const uint64_t free = std::stoull(Field(mounted[0], "free_bytes"));
    EXPECT_GT(free, 0u);
    EXPECT_LE(free, uint64_t{st.f_blocks} * st.f_frsize);

    auto refused = test::RunSelvane({"image", loop.device + "p1", mountPoint + "/p1.img"});
    EXPECT_EQ(refused.exitCode, 2);
    EXPECT_NE(refused.err.find("--force"), std::string::npos) << refused.err;
    EXPECT_FALSE(fs::exists(mountPoint + "/p1.img"));
  } else {
    std::printf("note: the mounted case was not checked (no mkfs.ext4 or no mount here)\n");
  }

  // The partitions' arrival, when this system delivers device events at all.
  if (monitor.IsActive()) {
    bool seen = false;
    for (int i = 0; i < 20 && !seen; ++i)
      for (const auto& event : monitor.Poll(100))
        if (event.change == DeviceChange::Added && event.name == loop.name + "p1" && !event.isDisk) seen = true;
    if (!seen) std::printf("note: no device events reach this system (no uevents in this namespace)\n");
  }
}

TEST(DeviceMonitor, StartsOrSaysWhyAndPollsWithoutEvents) {
  DeviceMonitor monitor;
  if (!monitor.IsActive()) {
    EXPECT_FALSE(monitor.error().empty());
    EXPECT_EQ(monitor.fd(), -1);
  } else {
    EXPECT_TRUE(monitor.error().empty());
    EXPECT_GE(monitor.fd(), 0);
  }
  // Nothing is plugged in during the test; whatever the system did before
  // must not block or crash the poll.
  for (const auto& event : monitor.Poll(0)) EXPECT_FALSE(event.name.empty());
}

}  // namespace
}  // namespace selvane
