#include <gtest/gtest.h>

#include "engine/fast_ext_recovery.h"
#include "engine/recovery_factory.h"
#include "support/test_support.h"

namespace selvane {
namespace {

using test::TempDir;

// A volume image whose first 16 KiB hold an ext superblock at offset 1,024.
std::vector<uint8_t> ExtImage(size_t size) {
  std::vector<uint8_t> b(size, 0);
  auto put32 = [&](size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = (v >> (8 * i)) & 0xFF;
  };
  const size_t sb = 1024;
  put32(sb + 0x00, 2048);
  put32(sb + 0x04, 8192);
  put32(sb + 0x14, 1);
  put32(sb + 0x20, 8192);
  put32(sb + 0x28, 2048);
  b[sb + 0x38] = 0x53;
  b[sb + 0x39] = 0xEF;
  put32(sb + 0x54, 11);
  return b;
}

TEST(RecoveryFactory, ExtVolumeInFastModeGivesAnEngineThatFindsNothing) {
  TempDir dir;
  test::WriteFile(dir / "ext.img", ExtImage(64 * 1024));
  auto engine = CreateRecoveryForImage(dir / "ext.img", 1, ScanMode::Fast);
  ASSERT_NE(engine, nullptr);
  EXPECT_NE(dynamic_cast<CFastExtRecovery*>(engine.get()), nullptr);
  EXPECT_EQ(engine->Scan(""), kSuccess);
  EXPECT_EQ(engine->GetRecordCount(), 0u);
  std::vector<ScanLogRecord> found;
  EXPECT_EQ(engine->QueryCategory(".other", found), kSuccess);
  EXPECT_TRUE(found.empty());
}

TEST(RecoveryFactory, NoFastEngineForUnknownShortOrMissingImages) {
  TempDir dir;
  test::WriteFile(dir / "zero.img", std::vector<uint8_t>(64 * 1024, 0));
  test::WriteFile(dir / "short.img", ExtImage(16 * 1024 - 1));
  EXPECT_EQ(CreateRecoveryForImage(dir / "zero.img", 1, ScanMode::Fast), nullptr);
  EXPECT_EQ(CreateRecoveryForImage(dir / "short.img", 1, ScanMode::Fast), nullptr);
  EXPECT_EQ(CreateRecoveryForImage(dir / "missing.img", 1, ScanMode::Fast), nullptr);
}

TEST(RecoveryFactory, PartitionOfADriveIsClassifiedAtItsFirstSector) {
  TempDir dir;
  // A drive with 4 KiB sectors whose partition starts at drive sector 4.
  std::vector<uint8_t> disk(4 * 4096, 0);
  auto volume = ExtImage(64 * 1024);
  disk.insert(disk.end(), volume.begin(), volume.end());
  test::WriteFile(dir / "disk.img", disk);
  test::FakeSysfs sysfs(dir.path() / "root");
  sysfs.AddDisk("sdb", dir / "disk.img", disk.size() / 512, 4096, true, "usb1/1-1");

  auto engine = CreateRecoveryForDisk(0, 4, 16, 1, ScanMode::Fast);
  ASSERT_NE(engine, nullptr);
  EXPECT_NE(dynamic_cast<CFastExtRecovery*>(engine.get()), nullptr);
  EXPECT_EQ(CreateRecoveryForDisk(0, 0, 20, 1, ScanMode::Fast), nullptr) << "sector 0 holds nothing known";
  EXPECT_EQ(CreateRecoveryForDisk(0, 5, 16, 1, ScanMode::Fast), nullptr) << "read past the end of the drive";
  EXPECT_EQ(CreateRecoveryForDisk(3, 4, 16, 1, ScanMode::Fast), nullptr) << "no such drive";
}

}  // namespace
}  // namespace selvane
