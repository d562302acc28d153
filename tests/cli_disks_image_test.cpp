#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "support/disk_builder.h"
#include "support/test_support.h"

namespace selvane {
namespace {

using test::DiskImageBuilder;
using test::FakeSysfs;
using test::RunSelvane;
using test::TempDir;

size_t CountLines(const std::string& text) { return static_cast<size_t>(std::count(text.begin(), text.end(), '\n')); }

// An internal disk with one Linux volume, and a USB stick with an NTFS volume
// at 2,048 and free space after it.
class DisksAndImageCommands : public ::testing::Test {
 protected:
  TempDir dir;
  FakeSysfs sysfs{dir.path() / "root"};

  void AddInternal() {
    DiskImageBuilder disk(dir / "sda.img", 50000);
    disk.WriteMbr({{0x83, 2048, 47952}});
    sysfs.AddDisk("sda", disk.path(), 50000, 512, false, "ata1/host0/target0:0:0/0:0:0:0");
    sysfs.AddPartition("sda", "sda1", 1, 2048, 47952);
  }
  void AddStick() {
    DiskImageBuilder disk(dir / "sdb.img", 100000);
    disk.WriteMbr({{0x07, 2048, 1000}});
    disk.WriteAtSector(2048, test::NtfsVolumeHead(1000, u"STICK"));
    sysfs.AddDisk("sdb", disk.path(), 100000, 512, true, "usb1/1-1/1-1:1.0/host6");
    sysfs.AddPartition("sdb", "sdb1", 1, 2048, 1000);
  }
};

TEST_F(DisksAndImageCommands, DisksListsExternalDrivesUnlessAllAreAsked) {
  AddInternal();
  AddStick();
  auto external = RunSelvane({"disks", "--json"});
  EXPECT_EQ(external.exitCode, 0) << external.err;
  ASSERT_EQ(CountLines(external.out), 2u) << external.out;
  EXPECT_NE(
      external.out.find("{\"number\":2,\"kind\":\"volume\",\"disk_number\":1,\"disk\":\"sdb\",\"disk_device\":\"" +
                        sysfs.DevPath("sdb") + "\""),
      std::string::npos)
      << external.out;
  for (const char* field : {"\"file_system\":\"NTFS\"", "\"label\":\"STICK\"", "\"partition_type\":7",
                            "\"first_sector\":2048,\"sector_count\":1000", "\"total_bytes\":512000",
                            "\"kind\":\"unallocated\"", "\"first_sector\":3048,\"sector_count\":96952"})
    EXPECT_NE(external.out.find(field), std::string::npos) << field;
  EXPECT_EQ(external.out.find("\"disk\":\"sda\""), std::string::npos);

  auto all = RunSelvane({"disks", "--all"});
  EXPECT_EQ(all.exitCode, 0) << all.err;
  EXPECT_NE(all.out.find(sysfs.DevPath("sda1")), std::string::npos) << all.out;
  EXPECT_NE(all.out.find("STICK"), std::string::npos);
  EXPECT_NE(all.out.find("(unallocated)"), std::string::npos);
}

TEST_F(DisksAndImageCommands, EmptyListSaysWhy) {
  AddInternal();
  auto result = RunSelvane({"disks"});
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_EQ(result.out, "");
  EXPECT_NE(result.err.find("--all"), std::string::npos) << result.err;
}

TEST_F(DisksAndImageCommands, UnreadableDrivesAreNamedWithTheReason) {
  AddStick();
  std::filesystem::permissions(dir / "sdb.img",
                               std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  // Root reads any file: run the program as an unprivileged user then.
  std::string asUser;
  if (::geteuid() == 0) {
    if (test::RunShell("command -v setpriv >/dev/null").exitCode != 0) GTEST_SKIP() << "setpriv is not installed";
    asUser = "setpriv --reuid=65534 --regid=65534 --clear-groups";
  }
  auto result = RunSelvane({"disks"}, asUser);
  EXPECT_EQ(result.exitCode, 3) << result.err;
  EXPECT_EQ(result.out, "");
  EXPECT_NE(result.err.find("permission denied reading " + sysfs.DevPath("sdb")), std::string::npos) << result.err;
  EXPECT_NE(result.err.find("sudo selvane disks"), std::string::npos) << result.err;
}

TEST_F(DisksAndImageCommands, ImageOfAPartitionIsItsSectors) {
  AddStick();
  auto result = RunSelvane({"image", sysfs.DevPath("sdb1"), dir / "stick.img"});
  ASSERT_EQ(result.exitCode, 0) << result.err;
  EXPECT_NE(result.out.find("selvane scan"), std::string::npos) << result.out;
  auto image = test::ReadFile(dir / "stick.img");
  auto disk = test::ReadFile(dir / "sdb.img");
  ASSERT_EQ(image.size(), 512000u);
  EXPECT_TRUE(std::equal(image.begin(), image.end(), disk.begin() + 2048 * 512));
}

TEST_F(DisksAndImageCommands, ImageRefusesTheSourceAndNonDrives) {
  AddStick();
  const auto before = test::Sha256OfFile(dir / "sdb.img");
  for (const std::string& target : {dir / "sdb.img", sysfs.DevPath("sdb")}) {
    auto result = RunSelvane({"image", sysfs.DevPath("sdb"), target, "--force"});
    EXPECT_EQ(result.exitCode, 2) << target;
    EXPECT_NE(result.err.find("refusing"), std::string::npos) << result.err;
  }
  EXPECT_EQ(test::Sha256OfFile(dir / "sdb.img"), before);

  auto fromFile = RunSelvane({"image", dir / "sdb.img", dir / "copy.img"});
  EXPECT_EQ(fromFile.exitCode, 2);
  EXPECT_NE(fromFile.err.find("scan it directly"), std::string::npos) << fromFile.err;
  auto missing = RunSelvane({"image", dir / "none", dir / "copy.img"});
  EXPECT_EQ(missing.exitCode, 3);
  EXPECT_EQ(RunSelvane({"image", sysfs.DevPath("sdb")}).exitCode, 2);
}

}  // namespace
}  // namespace selvane
