#include <fcntl.h>
#include <gtest/gtest.h>

#include <fstream>

#include "platform/drive_registry.h"
#include "platform/read_faults.h"
#include "storage/disk_device.h"
#include "support/test_support.h"

namespace selvane {
namespace {

using test::TempDir;

std::vector<uint8_t> Pattern(size_t size) {
  std::vector<uint8_t> bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(i * 7 + i / 512);
  return bytes;
}

TEST(ReadSectors, BoundsAreCheckedBeforeReading) {
  TempDir dir;
  test::WriteFile(dir / "disk.img", Pattern(8 * 512));
  DiskDevice device;
  ASSERT_EQ(OpenImageFile(dir / "disk.img", device), kSuccess);
  ASSERT_EQ(device.totalSectors, 8u);

  std::vector<uint8_t> buffer(4 * 512, 0xEE);
  uint32_t read = 99;
  EXPECT_EQ(ReadSectors(4, device, buffer.data(), 4, 512, read), kSuccess) << "a read ending at the end";
  EXPECT_EQ(read, 4u);
  EXPECT_EQ(buffer[0], Pattern(8 * 512)[4 * 512]);

  std::fill(buffer.begin(), buffer.end(), 0xEE);
  EXPECT_EQ(ReadSectors(4, device, buffer.data(), 5, 512, read), kInvalidParameter);
  EXPECT_EQ(read, 0u);
  EXPECT_EQ(buffer[0], 0xEE) << "nothing read past the end";
  EXPECT_EQ(ReadSectors(1, device, buffer.data(), UINT64_MAX, 512, read), kInvalidParameter);
  EXPECT_EQ(ReadSectors(-1, device, buffer.data(), 0, 512, read), kInvalidParameter);
}

TEST(ReadSectors, ReadsLargerThanOneChunkArriveWhole) {
  TempDir dir;
  auto bytes = Pattern(300 * 512);
  test::WriteFile(dir / "disk.img", bytes);
  DiskDevice device;
  ASSERT_EQ(OpenImageFile(dir / "disk.img", device), kSuccess);
  std::vector<uint8_t> buffer(300 * 512);
  uint32_t read = 0;
  ASSERT_EQ(ReadSectors(300, device, buffer.data(), 0, 512, read), kSuccess);
  EXPECT_EQ(read, 300u);
  EXPECT_EQ(buffer, bytes);
}

TEST(ReadSectors, TruncatedImageCountsWholeSectorsOnly) {
  TempDir dir;
  test::WriteFile(dir / "disk.img", Pattern(8 * 512));
  DiskDevice device;
  ASSERT_EQ(OpenImageFile(dir / "disk.img", device), kSuccess);
  // The file shrinks after opening, leaving 2.5 sectors from sector 4 on.
  ASSERT_EQ(::truncate((dir / "disk.img").c_str(), 6 * 512 + 256), 0);
  std::vector<uint8_t> buffer(4 * 512);
  uint32_t read = 99;
  EXPECT_EQ(ReadSectors(4, device, buffer.data(), 4, 512, read), kReadFault);
  EXPECT_EQ(read, 2u);
}

TEST(OpenImageFile, SizeIsWholeSectorsOfTheFile) {
  TempDir dir;
  test::WriteFile(dir / "small.img", std::vector<uint8_t>(1000, 1));
  DiskDevice device;
  ASSERT_EQ(OpenImageFile(dir / "small.img", device), kSuccess);
  EXPECT_EQ(device.totalSectors, 1u);
  EXPECT_EQ(OpenImageFile(dir / "missing.img", device), kFileNotFound);
  EXPECT_FALSE(device.handle.IsOpen());
}

TEST(OpenImageFile, SourceIsOpenedWithoutWriteAccess) {
  TempDir dir;
  test::WriteFile(dir / "disk.img", Pattern(4096));
  DiskDevice device;
  ASSERT_EQ(OpenImageFile(dir / "disk.img", device), kSuccess);
  EXPECT_EQ(OpenFlagsOf(device.handle) & O_ACCMODE, O_RDONLY);
  // The kernel's own view of the descriptor agrees.
  std::ifstream fdinfo("/proc/self/fdinfo/" + std::to_string(device.handle.fd()));
  std::string key, flags;
  while (fdinfo >> key >> flags && key != "flags:") {
  }
  ASSERT_EQ(key, "flags:");
  EXPECT_EQ(std::stoi(flags, nullptr, 8) & O_ACCMODE, O_RDONLY);
}

TEST(ReadFully, ZeroBytesReadsNothing) {
  TempDir dir;
  test::WriteFile(dir / "f", Pattern(100));
  FileHandle handle;
  ASSERT_EQ(OpenFile(dir / "f", OpenMode::ReadOnly, handle), kSuccess);
  size_t read = 7;
  EXPECT_EQ(ReadFully(handle, nullptr, 0, read), kSuccess);
  EXPECT_EQ(read, 0u);
  std::vector<uint8_t> buffer(200);
  EXPECT_EQ(ReadFully(handle, buffer.data(), 200, read), kReadFault);
  EXPECT_EQ(read, 100u);
}

class FakeDrives : public ::testing::Test {
 protected:
  void SetUp() override {
    test::WriteFile(dir_ / "usb.img", Pattern(64 * 512));
    test::WriteFile(dir_ / "sd.img", Pattern(64 * 512));
    test::WriteFile(dir_ / "fixed.img", Pattern(64 * 512));
    test::WriteFile(dir_ / "stick.img", Pattern(64 * 512));
    test::WriteFile(dir_ / "big.img", Pattern(64 * 512));
    sysfs_.AddDisk("sda", dir_ / "fixed.img", 64, 512, false, "ata1/host0/target0:0:0/0:0:0:0");
    sysfs_.AddDisk("sdb", dir_ / "usb.img", 64, 4096, false, "usb1/1-1/1-1:1.0/host6/target6:0:0/6:0:0:0");
    sysfs_.AddDisk("sdc", dir_ / "stick.img", 64, 512, true, "ata2/host1/target1:0:0/1:0:0:0");
    sysfs_.AddDisk("mmcblk0", dir_ / "sd.img", 64, 512, false, "mmc_host/mmc0/mmc0:0001");
    sysfs_.AddDisk("sdaa", dir_ / "big.img", 64, 512, false, "ata3/host2/target2:0:0/2:0:0:0");
    sysfs_.AddDisk("ram0", "", 64, 512, false, "virtual");
  }
  TempDir dir_;
  test::FakeSysfs sysfs_{dir_.path() / "root"};
};

TEST_F(FakeDrives, DrivesAreNumberedInNaturalNameOrder) {
  EXPECT_EQ(ListDriveNames(), (std::vector<std::string>{"mmcblk0", "sda", "sdaa", "sdb", "sdc"}));
  EXPECT_EQ(DriveName(1), "sda");
  EXPECT_FALSE(DriveName(5).has_value());
  EXPECT_FALSE(DriveName(-1).has_value());
}

TEST_F(FakeDrives, ExternalDrivesAreRemovableOrOnUsbOrSd) {
  struct Case {
    int drive;
    bool external;
  } cases[] = {{0, true} /* mmc */, {1, false} /* ata */, {2, false}, {3, true} /* usb */, {4, true} /* removable */,
               {5, false} /* no such drive */};
  for (const auto& c : cases) EXPECT_EQ(IsExternalDrive(c.drive), c.external) << "drive " << c.drive;
}

TEST_F(FakeDrives, DriveSizeIsCountedInItsOwnSectors) {
  DiskDevice drive;
  ASSERT_EQ(OpenPhysicalDrive(3, drive), kSuccess);  // sdb: 4096-byte sectors
  EXPECT_EQ(GetDriveSectorSize(drive), 4096u);
  EXPECT_EQ(drive.totalSectors, 64u * 512 / 4096);
  EXPECT_EQ(OpenFlagsOf(drive.handle) & O_ACCMODE, O_RDONLY);
  uint64_t length = 0;
  EXPECT_EQ(GetPhysicalDriveLength(3, length), kSuccess);
  EXPECT_EQ(length, 64u * 512);
  EXPECT_EQ(OpenPhysicalDrive(9, drive), kFileNotFound);
}

TEST_F(FakeDrives, PartitionNodesResolveToTheirDrive) {
  sysfs_.AddPartition("sdb", "sdb1", 1, 16, 48);
  auto node = ResolveDeviceNode(sysfs_.DevPath("sdb1"));
  ASSERT_TRUE(node.has_value());
  EXPECT_EQ(node->driveNumber, 3);
  ASSERT_TRUE(node->partition.has_value());
  EXPECT_EQ(node->partition->start512, 16u);
  auto disk = ResolveDeviceNode(sysfs_.DevPath("sda"));
  ASSERT_TRUE(disk.has_value());
  EXPECT_EQ(disk->driveNumber, 1);
  EXPECT_FALSE(disk->partition.has_value());
  // An image that merely shares a drive's name is not that drive.
  test::WriteFile(dir_ / "sda", Pattern(512));
  EXPECT_FALSE(ResolveDeviceNode(dir_ / "sda").has_value());
}

}  // namespace
}  // namespace selvane

namespace selvane {
namespace {

TEST(ReadSectors, SimulatedBadAreaStopsTheReadAfterTheGoodSectors) {
  test::TempDir dir;
  std::vector<uint8_t> bytes(64 * 512, 0x5A);
  test::WriteFile(dir / "disk.img", bytes);
  DiskDevice device;
  ASSERT_EQ(OpenImageFile(dir / "disk.img", device), kSuccess);
  AddReadFault(dir / "disk.img", 10 * 512, 12 * 512);
  std::vector<uint8_t> buffer(8 * 512);
  uint32_t read = 0;
  EXPECT_EQ(ReadSectors(8, device, buffer.data(), 4, 512, read), kReadFault);
  EXPECT_EQ(read, 6u) << "sectors 4-9 arrive, 10 is bad";
  EXPECT_EQ(ReadSectors(2, device, buffer.data(), 10, 512, read), kReadFault);
  EXPECT_EQ(read, 0u);
  EXPECT_EQ(ReadSectors(8, device, buffer.data(), 12, 512, read), kSuccess) << "after the bad area";
  ClearReadFaults();
  EXPECT_EQ(ReadSectors(8, device, buffer.data(), 4, 512, read), kSuccess);
}

}  // namespace
}  // namespace selvane
