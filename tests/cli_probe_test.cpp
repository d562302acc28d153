#include <gtest/gtest.h>

#include <filesystem>
#include <unistd.h>

#include "support/test_support.h"

namespace selvane {
namespace {

using test::RunSelvane;
using test::TempDir;

TEST(CliProbe, UsageErrorsExitWith2) {
  EXPECT_EQ(RunSelvane({"probe"}).exitCode, 2);
  EXPECT_EQ(RunSelvane({"probe", "a", "b"}).exitCode, 2);
  EXPECT_EQ(RunSelvane({"probe", "--bogus", "a"}).exitCode, 2);
  EXPECT_EQ(RunSelvane({"no-such-command"}).exitCode, 2);
}

TEST(CliProbe, UnreadableSourcesExitWith3AndSayWhy) {
  TempDir dir;
  test::WriteFile(dir / "short.img", std::vector<uint8_t>(8000, 0));
  auto shortImage = RunSelvane({"probe", dir / "short.img"});
  EXPECT_EQ(shortImage.exitCode, 3);
  EXPECT_NE(shortImage.err.find("shorter than 16 KiB"), std::string::npos) << shortImage.err;
  EXPECT_TRUE(shortImage.out.empty());

  auto missing = RunSelvane({"probe", dir / "missing.img"});
  EXPECT_EQ(missing.exitCode, 3);
  EXPECT_NE(missing.err.find("cannot find the file"), std::string::npos) << missing.err;
  EXPECT_EQ(std::count(missing.err.begin(), missing.err.end(), '\n'), 1) << "one line";
}

TEST(CliProbe, HelpAnswersWithAnExample) {
  auto help = RunSelvane({"probe", "--help"});
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_NE(help.out.find("Example"), std::string::npos);
  auto overview = RunSelvane({"--help"});
  EXPECT_EQ(overview.exitCode, 0);
  EXPECT_NE(overview.out.find("probe"), std::string::npos);
}

}  // namespace
}  // namespace selvane

namespace selvane {
namespace {

TEST(CliProbe, NamesTheFileSystemOfEveryFixture) {
  const std::pair<const char*, const char*> cases[] = {
      {"fat12.img", "fat"},      {"fat16.img", "fat"},     {"fat32.img", "fat"},
      {"fat32-128spc.img", "fat"}, {"ntfs.img", "ntfs"},   {"ntfs-4k.img", "ntfs"},
      {"ext4.img", "ext"},       {"bitlocker.img", "unknown"}, {"disk-mbr.img", "unknown"},
  };
  for (const auto& [fixture, kind] : cases) {
    std::string path = test::Fixture(fixture);
    ASSERT_FALSE(path.empty()) << fixture;
    auto result = RunSelvane({"probe", path});
    EXPECT_EQ(result.exitCode, 0) << fixture << ": " << result.err;
    EXPECT_EQ(result.out, std::string(kind) + "\n") << fixture;
  }
  auto shortImage = RunSelvane({"probe", test::Fixture("short.img")});
  EXPECT_EQ(shortImage.exitCode, 3);
}

TEST(CliProbe, JsonGivesTheBootSectorFacts) {
  auto result = RunSelvane({"probe", "--json", test::Fixture("fat12.img")});
  ASSERT_EQ(result.exitCode, 0) << result.err;
  EXPECT_NE(result.out.find("\"kind\":\"fat\""), std::string::npos) << result.out;
  EXPECT_NE(result.out.find("\"fat_bits\":12"), std::string::npos) << result.out;
  EXPECT_NE(result.out.find("\"root_entries\":224"), std::string::npos) << result.out;
  auto ntfs = RunSelvane({"probe", "--json", test::Fixture("ntfs-4k.img")});
  EXPECT_NE(ntfs.out.find("\"bytes_per_sector\":4096"), std::string::npos) << ntfs.out;
}

// Partitions of a real (loop) block device are read through their disk at the
// partition's first sector. Needs root and loop devices; skips otherwise.
TEST(CliProbe, PartitionDevicesOfALoopDisk) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to attach a loop device";
  std::string image = test::Fixture("disk-mbr.img");
  TempDir dir;
  std::string copy = dir / "disk.img";
  std::filesystem::copy_file(image, copy);
  auto attach = test::RunShell("losetup -f --show -P '" + copy + "' 2>/dev/null");
  if (attach.exitCode != 0 || attach.out.empty()) GTEST_SKIP() << "no loop device can be attached here";
  std::string loop = attach.out.substr(0, attach.out.find('\n'));
  struct Detach {
    std::string device;
    ~Detach() { test::RunShell("losetup -d '" + device + "' 2>/dev/null"); }
  } detach{loop};
  test::RunShell("partx -a '" + loop + "' 2>/dev/null");
  std::string name = loop.substr(loop.rfind('/') + 1);
  // Without udev the partition nodes may be missing: make them from sysfs.
  for (int n : {1, 2}) {
    std::string part = loop + "p" + std::to_string(n);
    test::RunShell("[ -b '" + part + "' ] || mknod '" + part + "' b $(tr ':' ' ' < /sys/class/block/" + name + "p" +
                   std::to_string(n) + "/dev) 2>/dev/null");
  }
  if (!std::filesystem::exists(loop + "p2")) GTEST_SKIP() << "the kernel did not create partitions of " << loop;
  EXPECT_EQ(RunSelvane({"probe", loop + "p1"}).out, "fat\n");
  EXPECT_EQ(RunSelvane({"probe", loop + "p2"}).out, "ntfs\n");
  EXPECT_EQ(RunSelvane({"probe", loop}).out, "unknown\n");
  auto json = RunSelvane({"probe", "--json", loop + "p1"});
  EXPECT_NE(json.out.find("\"source_kind\":\"partition\""), std::string::npos) << json.out;
  EXPECT_NE(json.out.find("\"first_sector\":2048"), std::string::npos) << json.out;
}

}  // namespace
}  // namespace selvane
