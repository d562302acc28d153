#include <gtest/gtest.h>

#include <vector>

#include "engine/fat_allocation_bitmap.h"
#include "engine/fat_table.h"
#include "engine/fat_volume.h"
#include "support/fat_image_builder.h"
#include "support/test_support.h"

namespace selvane {
namespace {

struct BootFields {
  uint16_t bytesPerSector = 512;
  uint8_t sectorsPerCluster = 1;
  uint16_t reserved = 1;
  uint8_t fats = 2;
  uint16_t rootEntries = 224;
  uint16_t total16 = 2880;
  uint16_t fatSize16 = 9;
  uint32_t total32 = 0;
  uint32_t fatSize32 = 0;
  uint32_t rootCluster = 0;
};

std::vector<uint8_t> BootSector(const BootFields& f) {
  std::vector<uint8_t> b(512, 0);
  auto put16 = [&](size_t at, uint32_t v) {
    b[at] = static_cast<uint8_t>(v);
    b[at + 1] = static_cast<uint8_t>(v >> 8);
  };
  auto put32 = [&](size_t at, uint32_t v) {
    put16(at, v);
    put16(at + 2, v >> 16);
  };
  put16(0x0B, f.bytesPerSector);
  b[0x0D] = f.sectorsPerCluster;
  put16(0x0E, f.reserved);
  b[0x10] = f.fats;
  put16(0x11, f.rootEntries);
  put16(0x13, f.total16);
  put16(0x16, f.fatSize16);
  put32(0x20, f.total32);
  put32(0x24, f.fatSize32);
  put32(0x2C, f.rootCluster);
  b[510] = 0x55;
  b[511] = 0xAA;
  return b;
}

TEST(FatVolumeGeometry, LayoutOfCommonVolumes) {
  struct Case {
    const char* what;
    BootFields fields;
    FatType type;
    uint32_t rootDirSectors;
    uint64_t firstDataSector;
    uint32_t clusterCount;
    uint32_t rootCluster;
  };
  const Case cases[] = {
      // The 1.44 MB floppy: 14 root-directory sectors, data from sector 33.
      {"floppy", {}, FatType::Fat12, 14, 33, 2847, 0},
      {"FAT16 of 32 MiB", {512, 4, 4, 2, 512, 0, 64, 65536, 0, 0}, FatType::Fat16, 32, 164, 16343, 0},
      // FAT32 is told by its 16-bit FAT size 0; 128 sectors per cluster.
      {"FAT32, 64 KiB clusters", {512, 128, 32, 2, 0, 0, 0, 600000, 128, 2}, FatType::Fat32, 0, 288, 4685, 2},
      // A small volume counts as FAT12 by its clusters, whatever it calls itself.
      {"4085 clusters is FAT16", {512, 1, 1, 2, 16, 0, 16, 4085 + 34, 0, 0}, FatType::Fat16, 1, 34, 4085, 0},
      {"4084 clusters is FAT12", {512, 1, 1, 2, 16, 0, 16, 4084 + 34, 0, 0}, FatType::Fat12, 1, 34, 4084, 0},
      // A damaged total must not reach past what the FAT can describe.
      {"total larger than the FAT", {512, 1, 1, 2, 512, 0, 1, 0x7FFFFFFF, 0, 0}, FatType::Fat16, 32, 35, 254, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FatVolumeGeometry g;
    ASSERT_TRUE(ParseFatBootSector(BootSector(c.fields), g));
    EXPECT_EQ(g.type, c.type);
    EXPECT_EQ(g.rootDirSectors, c.rootDirSectors);
    EXPECT_EQ(g.firstDataSector, c.firstDataSector);
    EXPECT_EQ(g.rootDirSector, c.firstDataSector - c.rootDirSectors);
    EXPECT_EQ(g.clusterCount, c.clusterCount);
    EXPECT_EQ(g.rootCluster, c.rootCluster);
  }
}

TEST(FatVolumeGeometry, RefusesFieldsThatDescribeNoVolume) {
  struct Case {
    const char* what;
    BootFields fields;
  };
  const Case cases[] = {
      {"sector size 0", {0, 1, 1, 2, 224, 2880, 9}},
      {"sector size 600", {600, 1, 1, 2, 224, 2880, 9}},
      {"3 sectors per cluster", {512, 3, 1, 2, 224, 2880, 9}},
      {"no FAT", {512, 1, 1, 0, 224, 2880, 9}},
      {"no reserved sector", {512, 1, 0, 2, 224, 2880, 9}},
      {"metadata past the end", {512, 1, 1, 2, 224, 30, 9}},
      {"FAT32 root outside the volume", {512, 8, 32, 2, 0, 0, 0, 600000, 600, 0}},
  };
  for (const Case& c : cases) {
    FatVolumeGeometry g;
    EXPECT_FALSE(ParseFatBootSector(BootSector(c.fields), g)) << c.what;
  }
  FatVolumeGeometry g;
  EXPECT_FALSE(ParseFatBootSector(std::vector<uint8_t>(100, 0), g)) << "short buffer";
}

TEST(FatEntries, DecodeTwelveSixteenAndThirtyTwoBitEntries) {
  // FAT12 clusters 2 and 3 share three bytes: 0x345 and 0xABC.
  const std::vector<uint8_t> fat12 = {0xF0, 0xFF, 0xFF, 0x45, 0xC3, 0xAB};
  const std::vector<uint8_t> fat16 = {0xF8, 0xFF, 0xFF, 0xFF, 0x34, 0x12};
  const std::vector<uint8_t> fat32 = {0, 0, 0, 0, 0, 0, 0, 0, 0x78, 0x56, 0x34, 0xF2};
  struct Case {
    const std::vector<uint8_t>* bytes;
    FatType type;
    uint32_t cluster;
    uint32_t value;
  };
  const Case cases[] = {
      {&fat12, FatType::Fat12, 2, 0x345},
      {&fat12, FatType::Fat12, 3, 0xABC},
      {&fat12, FatType::Fat12, 1, 0xFFF},
      {&fat16, FatType::Fat16, 2, 0x1234},
      {&fat32, FatType::Fat32, 2, 0x02345678},  // the top four bits are not part of the entry
  };
  for (const Case& c : cases) {
    ByteReader r(*c.bytes);
    EXPECT_EQ(DecodeFatEntry(r, FatEntryOffset(c.cluster, c.type), c.cluster, c.type), c.value)
        << "cluster " << c.cluster;
  }
}

TEST(FatEntries, ClassifyEndsBadClustersAndValuesBeyondTheVolume) {
  FatVolumeGeometry g;
  g.type = FatType::Fat12;
  g.clusterCount = 100;  // clusters 2..101
  EXPECT_EQ(ClassifyFatEntry(0, g), FatLink::Free);
  EXPECT_EQ(ClassifyFatEntry(1, g), FatLink::End);
  EXPECT_EQ(ClassifyFatEntry(2, g), FatLink::Next);
  EXPECT_EQ(ClassifyFatEntry(101, g), FatLink::Next);
  EXPECT_EQ(ClassifyFatEntry(102, g), FatLink::End);
  EXPECT_EQ(ClassifyFatEntry(0xFF7, g), FatLink::End);
  EXPECT_EQ(ClassifyFatEntry(0xFFF, g), FatLink::End);
}

class FatTableTest : public ::testing::Test {
 protected:
  void Open(test::FatImageBuilder& builder) {
    builder.Save(dir / "v.img");
    ASSERT_EQ(OpenImageFile(dir / "v.img", device), kSuccess);
    geometry = builder.Geometry();
    table.Attach(&device, geometry, geometry.reservedSectors);
  }
  test::TempDir dir;
  DiskDevice device;
  FatVolumeGeometry geometry;
  CFatTable table;
};

TEST_F(FatTableTest, NextClusterRulesForLiveAndDeletedData) {
  test::FatImageSpec spec;
  spec.type = FatType::Fat12;
  spec.sectorsPerCluster = 1;
  spec.totalSectors = 2880;
  spec.rootEntries = 224;
  spec.reservedSectors = 1;
  test::FatImageBuilder b(spec);
  b.Chain({3, 5, 4});   // a live chain through odd and even entries
  b.Chain({9});          // cluster 9 in use; 8, 10, 11 free
  b.Chain({12, 13});
  Open(b);

  uint32_t value = 0;
  ASSERT_EQ(table.NextFatEntry(3, value), kSuccess);
  EXPECT_EQ(value, 5u);
  EXPECT_EQ(table.NextDirectoryCluster(3), 5u);
  EXPECT_EQ(table.NextDirectoryCluster(5), 4u);
  EXPECT_EQ(table.NextDirectoryCluster(4), 0u) << "end of the chain";
  // A free entry continues a directory only into a free neighbour.
  EXPECT_EQ(table.NextDirectoryCluster(10), 11u);
  EXPECT_EQ(table.NextDirectoryCluster(8), 0u);
  // A file goes on at the next free cluster, past clusters in use.
  EXPECT_EQ(table.NextFileCluster(8), 10u);
  EXPECT_EQ(table.NextFileCluster(11), 14u);
  EXPECT_EQ(table.NextFileCluster(9), 10u) << "a chain that ends early continues at the next free cluster";
  EXPECT_EQ(table.NextFileCluster(3), 5u);
  EXPECT_EQ(table.NextFatEntry(geometry.MaxCluster() + 1, value), kInvalidParameter);
  EXPECT_EQ(table.NextFileCluster(geometry.MaxCluster()), 0u) << "nothing after the last cluster";
}

TEST_F(FatTableTest, WindowMovesOverAFatLargerThanSixteenMebibytes) {
  test::FatImageSpec spec;
  spec.type = FatType::Fat32;
  spec.sectorsPerCluster = 1;
  spec.totalSectors = 4'300'000 + 34'000;  // ~4.3 million clusters: a FAT of ~16.5 MiB
  spec.reservedSectors = 32;
  test::FatImageBuilder b(spec);
  const uint32_t far = 4'250'000;  // entry beyond the first 16 MiB
  b.SetFat(7, far);
  b.SetFat(far, 8);
  b.SetFat(8, b.EndMark());
  Open(b);
  ASSERT_GT(geometry.FatBytes(), kFatWindowBytes);

  uint32_t value = 0;
  ASSERT_EQ(table.NextFatEntry(7, value), kSuccess);
  EXPECT_EQ(value, far);
  ASSERT_EQ(table.NextFatEntry(far, value), kSuccess);
  EXPECT_EQ(value, 8u);
  ASSERT_EQ(table.NextFatEntry(8, value), kSuccess) << "the window moves back";
  EXPECT_EQ(value, 0x0FFFFFFFu);
}

TEST(FatAllocationBitmap, FreeRunsFollowTheBitmap) {
  // Clusters 2..11: used, used, free, free, used, free x5. Data from sector 100, 4 sectors per cluster.
  FatAllocationBitmap bitmap;
  bitmap.Assign({true, true, false, false, true, false, false, false, false, false});
  struct Case {
    const char* what;
    uint64_t sector;
    uint64_t expectSector;
    uint64_t expectCount;
  };
  const uint64_t end = 100 + 10 * 4 + 3;  // three sectors after the last cluster
  const Case cases[] = {
      {"before the data area counts as its start", 0, 108, 8},
      {"a used cluster moves to the next free one", 101, 108, 8},
      {"inside a free run keeps its offset", 110, 110, 6},
      {"the last run reaches the end of the volume", 117, 120, end - 120},
      {"after the last cluster is free", 141, 141, 2},
      {"at the end", end, end, 0},
      {"beyond the end", end + 5, end, 0},
  };
  for (const Case& c : cases) {
    uint64_t sector = c.sector, count = 99;
    bitmap.FindFreeRun(sector, count, 100, 4, end);
    EXPECT_EQ(sector, c.expectSector) << c.what;
    EXPECT_EQ(count, c.expectCount) << c.what;
  }
}

}  // namespace
}  // namespace selvane
