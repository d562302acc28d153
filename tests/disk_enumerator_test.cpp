#include "storage/disk_enumerator.h"

#include <gtest/gtest.h>

#include "support/disk_builder.h"
#include "support/test_support.h"

namespace selvane {
namespace {

using test::DiskImageBuilder;
using test::FakeSysfs;
using test::TableEntry;
using test::TempDir;

// What a test expects of one row.
struct Row {
  uint16_t number;
  uint8_t type;
  int32_t partitionNumber;
  uint64_t first;
  uint64_t count;
  std::string fileSystem;
  std::string label;
};

void ExpectRows(const std::vector<PartitionRecord>& records, const std::vector<Row>& rows) {
  ASSERT_EQ(records.size(), rows.size());
  for (size_t i = 0; i < rows.size(); ++i) {
    SCOPED_TRACE("row " + std::to_string(i));
    EXPECT_EQ(records[i].volumeId, rows[i].number);
    EXPECT_EQ(records[i].partitionType, rows[i].type);
    EXPECT_EQ(records[i].partitionNumber, rows[i].partitionNumber);
    EXPECT_EQ(records[i].firstSector, rows[i].first);
    EXPECT_EQ(records[i].sectorCount, rows[i].count);
    EXPECT_EQ(records[i].fileSystem, rows[i].fileSystem);
    EXPECT_EQ(records[i].label, rows[i].label);
  }
}

std::vector<PartitionRecord> Enumerate() {
  DiskEnumerator enumerator;
  EXPECT_TRUE(EnumerateDisks(enumerator));
  std::vector<PartitionRecord> all;
  CopyAllPartitions(enumerator, all);
  return all;
}

class DiskEnumeration : public ::testing::Test {
 protected:
  TempDir dir;
  FakeSysfs sysfs{dir.path() / "root"};

  // A USB disk of `sectors` 512-byte sectors in the fake tree.
  DiskImageBuilder UsbDisk(const std::string& name, uint64_t sectors) {
    DiskImageBuilder disk(dir / (name + ".img"), sectors);
    sysfs.AddDisk(name, disk.path(), sectors, 512, true, "usb1/1-1/1-1:1.0/host6/target6:0:0/6:0:0:0");
    return disk;
  }
};

TEST_F(DiskEnumeration, UsbDiskWithOneNtfsVolumeAndSpaceAfterIt) {
  auto disk = UsbDisk("sdb", 100000);
  disk.WriteMbr({{0x07, 2048, 40000}});
  disk.WriteAtSector(2048, test::NtfsVolumeHead(40000, u"SELVANE_NTFS"));
  sysfs.AddPartition("sdb", "sdb1", 1, 2048, 40000);

  auto all = Enumerate();
  // No gap before 2,048: 2,048 - 63 is less than a cylinder of 16,065 sectors.
  ExpectRows(all, {{1, 0x07, 1, 2048, 40000, "NTFS", "SELVANE_NTFS"}, {2, 0, 0, 42048, 57952, "", ""}});
  const auto& volume = all[0];
  EXPECT_EQ(volume.diskNumber, 0);
  EXPECT_EQ(volume.diskName, "sdb");
  EXPECT_EQ(volume.devicePath, sysfs.DevPath("sdb1"));
  EXPECT_EQ(volume.mountPoint, "");
  EXPECT_EQ(volume.totalBytes, 40000u * 512) << "not mounted: the partition length";
  EXPECT_EQ(volume.freeBytes, 0u);
  EXPECT_EQ(volume.usedBytes, volume.totalBytes);
  const auto& space = all[1];
  EXPECT_EQ(space.totalBytes, 57952u * 512);
  EXPECT_EQ(space.freeBytes, space.totalBytes);
  EXPECT_EQ(space.usedBytes, 0u);
  EXPECT_EQ(space.devicePath, sysfs.DevPath("sdb"));
}

TEST_F(DiskEnumeration, GapsOfMoreThanACylinderBecomeRows) {
  // 20,480 - 63 is more than a cylinder; the gap between the volumes is one
  // cylinder exactly, which is not more than one; the tail is.
  auto disk = UsbDisk("sdb", 120000);
  disk.WriteMbr({{0x83, 20480, 10000}, {0x83, 30480 + 16065, 20000}});
  sysfs.AddPartition("sdb", "sdb1", 1, 20480, 10000);
  sysfs.AddPartition("sdb", "sdb2", 2, 30480 + 16065, 20000);
  ExpectRows(Enumerate(), {{1, 0, 0, 63, 20417, "", ""},
                           {2, 0x83, 1, 20480, 10000, "", ""},
                           {3, 0x83, 2, 46545, 20000, "", ""},
                           {4, 0, 0, 66545, 53455, "", ""}});
}

TEST_F(DiskEnumeration, DriveWithoutVolumesIsOneWholeDriveRow) {
  UsbDisk("sdb", 30000);  // brand new: all zero, no table
  auto wiped = UsbDisk("sdc", 40000);
  wiped.WriteGpt({});  // a table without partitions
  ExpectRows(Enumerate(), {{1, 0, 0, 0, 30000, "", ""}, {2, 0, 0, 0, 40000, "", ""}});
}

TEST_F(DiskEnumeration, PartitionTypeComesFromTableAndFileSystem) {
  // MBR: the table's type unless the file system names one of its own; the
  // extended container is no volume, the logical volume inside it is.
  auto mbr = UsbDisk("sdb", 400000);
  mbr.WriteMbr({{0x83, 2048, 20000}, {0x0C, 22528, 90000}, {0x07, 112640, 20000}, {0x05, 133120, 40000}});
  mbr.WriteAtSector(22528, test::FatVolumeHead(32, 90000, "STICK32"));
  mbr.WriteAtSector(112640, test::FatVolumeHead(16, 20000, "STICK16"));
  mbr.WriteEbr(133120, {0x83, 2048, 30000});
  mbr.WriteAtSector(135168, test::NtfsVolumeHead(30000, u"LOGICAL"));
  sysfs.AddPartition("sdb", "sdb1", 1, 2048, 20000);
  sysfs.AddPartition("sdb", "sdb2", 2, 22528, 90000);
  sysfs.AddPartition("sdb", "sdb3", 3, 112640, 20000);
  sysfs.AddPartition("sdb", "sdb4", 4, 133120, 2);  // how the kernel shows an extended container
  sysfs.AddPartition("sdb", "sdb5", 5, 135168, 30000);

  // GPT: no type byte; only NTFS, FAT32 and FAT volumes are listed.
  auto gpt = UsbDisk("sdc", 200000);
  gpt.WriteGpt({{0, 2048, 30000}, {0, 32768, 30000}, {0, 63488, 30000}});
  gpt.WriteAtSector(2048, test::NtfsVolumeHead(30000, u"GPT_NTFS"));
  gpt.WriteAtSector(63488, test::FatVolumeHead(16, 30000, "GPT_FAT"));
  sysfs.AddPartition("sdc", "sdc1", 1, 2048, 30000);
  sysfs.AddPartition("sdc", "sdc2", 2, 32768, 30000);
  sysfs.AddPartition("sdc", "sdc3", 3, 63488, 30000);

  ExpectRows(Enumerate(), {{1, 0x83, 1, 2048, 20000, "", ""},
                           {2, 0x0B, 2, 22528, 90000, "FAT32", "STICK32"},
                           {3, 0x06, 3, 112640, 20000, "FAT", "STICK16"},
                           {4, 0x07, 5, 135168, 30000, "NTFS", "LOGICAL"},
                           {5, 0, 0, 165168, 234832, "", ""},
                           {6, 0x07, 1, 2048, 30000, "NTFS", "GPT_NTFS"},
                           {7, 0, 0, 32048, 31440, "", ""},
                           {8, 0x06, 3, 63488, 30000, "FAT", "GPT_FAT"},
                           {9, 0, 0, 93488, 106512, "", ""}});
}

TEST_F(DiskEnumeration, VolumeOnTheWholeDriveWithoutTable) {
  auto stick = UsbDisk("sdb", 90000);
  stick.WriteAtSector(0, test::FatVolumeHead(32, 90000, "NOTABLE"));
  auto all = Enumerate();
  ExpectRows(all, {{1, 0x0B, 0, 0, 90000, "FAT32", "NOTABLE"}});
  EXPECT_EQ(all[0].devicePath, sysfs.DevPath("sdb"));
}

TEST_F(DiskEnumeration, SectorsCountInTheDrivesOwnSectorSize) {
  // A drive of 4,096-byte sectors: sysfs counts 512-byte units, the table and
  // the records count the drive's sectors.
  DiskImageBuilder disk(dir / "sdb.img", 800000);
  sysfs.AddDisk("sdb", disk.path(), 800000, 4096, true, "usb2/2-1");
  disk.WriteMbr({{0x83, 256, 50000}});
  sysfs.AddPartition("sdb", "sdb1", 1, 2048, 400000);
  ExpectRows(Enumerate(), {{1, 0x83, 1, 256, 50000, "", ""}, {2, 0, 0, 50256, 49744, "", ""}});
}

TEST_F(DiskEnumeration, EveryRowIsNumberedByItsPositionAcrossDrives) {
  DiskImageBuilder internal(dir / "sda.img", 50000);
  sysfs.AddDisk("sda", internal.path(), 50000, 512, false, "ata1/host0/target0:0:0/0:0:0:0");
  internal.WriteMbr({{0x83, 2048, 47952}});
  sysfs.AddPartition("sda", "sda1", 1, 2048, 47952);
  auto usb = UsbDisk("sdb", 100000);
  usb.WriteMbr({{0x07, 2048, 40000}});
  sysfs.AddPartition("sdb", "sdb1", 1, 2048, 40000);

  DiskEnumerator enumerator;
  ASSERT_TRUE(EnumerateDisks(enumerator));
  std::vector<PartitionRecord> walked;
  PartitionRecord record;
  while (NextPartition(enumerator, record)) walked.push_back(record);
  ASSERT_EQ(walked.size(), 3u);
  for (size_t i = 0; i < walked.size(); ++i) EXPECT_EQ(walked[i].volumeId, i + 1);
  EXPECT_EQ(walked[0].diskName, "sda");
  EXPECT_EQ(walked[1].diskName, "sdb");
  EXPECT_EQ(walked[2].diskNumber, 1);
  std::vector<PartitionRecord> copied;
  CopyAllPartitions(enumerator, copied);
  ASSERT_EQ(copied.size(), walked.size());
  EXPECT_EQ(copied[2].firstSector, walked[2].firstSector);
}

TEST_F(DiskEnumeration, RemovedPartitionsAreExactlyThoseOfTheUnpluggedDisk) {
  // Two sticks with the same layout; unplugging the first moves the second
  // down to its drive number.
  for (const char* name : {"sdb", "sdc"}) {
    auto disk = UsbDisk(name, 100000);
    disk.WriteMbr({{0x07, 2048, 40000}});
    sysfs.AddPartition(name, std::string(name) + "1", 1, 2048, 40000);
  }
  auto before = Enumerate();
  ASSERT_EQ(before.size(), 4u);

  sysfs.RemoveDisk("sdb");
  DiskEnumerator enumerator;
  std::vector<PartitionRecord> removed;
  FindRemovedPartitions(enumerator, before, removed);
  ASSERT_EQ(removed.size(), 2u);
  for (const auto& r : removed) EXPECT_EQ(r.diskName, "sdb");
  EXPECT_EQ(removed[0].firstSector, 2048u);
  EXPECT_EQ(removed[1].firstSector, 42048u);

  // Another stick arriving under the same name is a new attachment: the old
  // rows are gone even where the new stick has a volume at the same place.
  sysfs.SetDiskAttribute("sdc", "diskseq", "7");
  auto disk = UsbDisk("sdb", 100000);
  disk.WriteMbr({{0x07, 2048, 40000}});
  sysfs.AddPartition("sdb", "sdb1", 1, 2048, 40000);
  sysfs.SetDiskAttribute("sdb", "diskseq", "9");
  removed.clear();
  FindRemovedPartitions(enumerator, before, removed);
  EXPECT_EQ(removed.size(), 4u);
  removed.clear();
  auto now = Enumerate();
  FindRemovedPartitions(enumerator, now, removed);
  EXPECT_TRUE(removed.empty());
}

TEST(DiskEnumerationFailures, MissingBlockListListsNothing) {
  TempDir dir;
  FakeSysfs sysfs(dir.path() / "root");
  std::filesystem::remove_all(dir.path() / "root" / "sys" / "block");
  DiskEnumerator enumerator;
  EXPECT_FALSE(EnumerateDisks(enumerator));
  EXPECT_TRUE(enumerator.disks.empty());
}

}  // namespace
}  // namespace selvane
