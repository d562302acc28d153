// NTFS record access: geometry, update sequence repair, run lists, the
// attribute walk over damaged records, and following attribute lists.
#include <gtest/gtest.h>

#include "engine/ntfs_record.h"
#include "engine/ntfs_volume_access.h"
#include "support/ntfs_builder.h"
#include "support/test_support.h"

namespace selvane {
namespace {

using test::EncodeRuns;
using test::MftRecordBuilder;
using test::RunSpec;

// A non-resident attribute header whose mapping pairs are `pairs`.
std::vector<uint8_t> AttributeWithPairs(const std::vector<uint8_t>& pairs) {
  std::vector<uint8_t> a(0x40, 0);
  a[0x20] = 0x40;
  a.insert(a.end(), pairs.begin(), pairs.end());
  return a;
}

struct RunListCase {
  const char* what;
  std::vector<uint8_t> pairs;
  bool complete;
  std::vector<MftRun> runs;
};

TEST(NtfsRunList, DecodesRunHeaders) {
  const std::vector<RunListCase> cases = {
      {"32 clusters at delta 16", {0x11, 0x20, 0x10, 0x00}, true, {{32, 16, false}}},
      {"5 clusters at delta -16", {0x11, 0x05, 0xF0, 0x00}, true, {{5, -16, false}}},
      {"sparse run has no offset field", {0x01, 0x08, 0x11, 0x04, 0x20, 0x00}, true, {{8, 0, true}, {4, 32, false}}},
      {"two-byte length and three-byte negative delta",
       {0x32, 0x00, 0x01, 0x00, 0x00, 0xFF, 0x00},
       true,
       {{256, -65536, false}}},
      {"length field of size 0 ends the list as damaged", {0x11, 0x02, 0x05, 0x10, 0x00}, false, {{2, 5, false}}},
      {"field beyond the attribute", {0x11, 0x02, 0x05, 0x44, 0x01}, false, {{2, 5, false}}},
      {"no terminator", {0x11, 0x02, 0x05}, false, {{2, 5, false}}},
      {"nine-byte field", {0x91, 0x01, 1, 2, 3, 4, 5, 6, 7, 8, 9, 0}, false, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<uint8_t> attribute = AttributeWithPairs(c.pairs);
    std::vector<MftRun> runs;
    EXPECT_EQ(DecodeRunList(ByteReader(attribute), runs), c.complete);
    ASSERT_EQ(runs.size(), c.runs.size());
    for (size_t i = 0; i < runs.size(); ++i) {
      EXPECT_EQ(runs[i].clusterCount, c.runs[i].clusterCount);
      EXPECT_EQ(runs[i].lcnDelta, c.runs[i].lcnDelta);
      EXPECT_EQ(runs[i].sparse, c.runs[i].sparse);
    }
  }
}

TEST(NtfsRunList, AbsoluteClustersAndRebasedExtents) {
  // 10 clusters at 100, sparse 3, 5 clusters at 100 - 40 = 60 (a sparse run does not move the base).
  const std::vector<MftRun> runs = {{10, 100, false}, {3, 0, true}, {5, -40, false}};
  ExtentWalker walker(runs);
  ClusterExtent e;
  std::vector<std::pair<uint64_t, bool>> seen;
  while (walker.Next(e)) seen.push_back({e.firstCluster, e.sparse});
  EXPECT_FALSE(walker.damaged());
  EXPECT_EQ(seen, (std::vector<std::pair<uint64_t, bool>>{{100, false}, {0, true}, {60, false}}));

  // A second extent counts from cluster 0 again; merged, it stays at its clusters.
  std::vector<MftRun> merged;
  int64_t last = 0;
  ASSERT_TRUE(AppendExtentRuns(runs, merged, last));
  ASSERT_TRUE(AppendExtentRuns(std::vector<MftRun>{{7, 500, false}}, merged, last));
  ExtentWalker mergedWalker(merged);
  std::vector<uint64_t> firsts;
  while (mergedWalker.Next(e))
    if (!e.sparse) firsts.push_back(e.firstCluster);
  EXPECT_EQ(firsts, (std::vector<uint64_t>{100, 60, 500}));

  // A run before cluster 0 is damage, not a huge cluster number.
  const std::vector<MftRun> beforeZero = {{1, 4, false}, {1, -5, false}};
  ExtentWalker bad(beforeZero);
  ASSERT_TRUE(bad.Next(e));
  EXPECT_FALSE(bad.Next(e));
  EXPECT_TRUE(bad.damaged());
}

TEST(NtfsFixups, RepairsEveryStrideOfSmallAndLargeRecords) {
  for (uint32_t size : {1024u, 4096u}) {
    SCOPED_TRACE(size);
    // Put resident data across every stride end so that a missed stride shows.
    std::vector<uint8_t> value(size - 0x200);
    for (size_t i = 0; i < value.size(); ++i) value[i] = static_cast<uint8_t>(i * 7 + 3);
    MftRecordBuilder builder(40, 1, size);
    builder.FileName({.name = u"f.bin"}).ResidentData(value);
    std::vector<uint8_t> stored = builder.Build();
    ASSERT_NE(stored, builder.BuildPlain());
    ASSERT_TRUE(ApplyFixups(stored));
    EXPECT_EQ(stored, builder.BuildPlain());
  }
}

TEST(NtfsFixups, RefusesAnArrayThatDoesNotFitTheRecord) {
  std::vector<uint8_t> stored = MftRecordBuilder(40, 1, 1024).FileName({.name = u"a"}).Build();
  // A 1 KiB record read as if records were 4 KiB: the array has too few entries.
  std::vector<uint8_t> large(4096, 0);
  std::copy(stored.begin(), stored.end(), large.begin());
  const std::vector<uint8_t> before = large;
  EXPECT_FALSE(ApplyFixups(large));
  EXPECT_EQ(large, before);
  // An array offset that points at the end of the first stride.
  stored[0x04] = 0xFE, stored[0x05] = 0x01;
  EXPECT_FALSE(ApplyFixups(stored));
}

TEST(NtfsGeometry, RecordSizeFollowsTheBootSector) {
  struct Case {
    uint16_t bytesPerSector;
    uint8_t sectorsPerCluster;
    uint8_t clustersPerRecord;
    bool ok;
    uint32_t recordSize, sectorsPerRecord;
  };
  const Case cases[] = {
      {512, 8, 0xF6, true, 1024, 2},   // 2^10
      {0, 8, 0xF6, true, 1024, 2},     // 0 bytes per sector means 512
      {4096, 1, 0x01, true, 4096, 1},  // one 4 KiB cluster per record
      {512, 8, 0xF4, true, 4096, 8},   // 4 KiB records on 512-byte sectors
      {512, 1, 0x00, true, 1024, 2},   // no usable field: 1 KiB on 512-byte sectors
      {4096, 1, 0xF6, true, 4096, 1},  // a record smaller than a sector: one sector
      {512, 128, 0xF6, false, 0, 0},   // 128 sectors per cluster is not read
      {512, 0, 0xF6, false, 0, 0},
      {512, 3, 0xF6, false, 0, 0},
      {1000, 1, 0xF6, false, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.bytesPerSector << "/" << int{c.sectorsPerCluster} << "/"
                                    << int{c.clustersPerRecord});
    std::vector<uint8_t> boot(512, 0);
    boot[0x0B] = static_cast<uint8_t>(c.bytesPerSector), boot[0x0C] = static_cast<uint8_t>(c.bytesPerSector >> 8);
    boot[0x0D] = c.sectorsPerCluster;
    boot[0x40] = c.clustersPerRecord;
    boot[0x30] = 4;
    NtfsGeometry g;
    ASSERT_EQ(ReadNtfsGeometry(boot, g), c.ok);
    if (!c.ok) continue;
    EXPECT_EQ(g.recordSize, c.recordSize);
    EXPECT_EQ(g.sectorsPerRecord, c.sectorsPerRecord);
    EXPECT_EQ(g.mftCluster, 4u);
  }
}

MftFileSummary Summarize(const std::vector<uint8_t>& plain, RecordParse expected) {
  MftFileSummary s;
  EXPECT_EQ(SummarizeFileRecord(plain, s), expected);
  return s;
}

std::string NameOf(const MftFileSummary& s) { return std::string(s.fileName.name.begin(), s.fileName.name.end()); }

std::string Utf16Le(std::u16string_view text) {
  std::string out;
  for (char16_t c : text) out += {static_cast<char>(c & 0xFF), static_cast<char>(c >> 8)};
  return out;
}

TEST(NtfsRecordSummary, NamesFollowTheWin32Rule) {
  auto dosThenWin32 = MftRecordBuilder(30, 0)
                          .FileName({.parent = 40, .name = u"LONGNA~1.TXT", .nameSpace = kFileNameDos})
                          .FileName({.parent = 40, .name = u"long name.txt", .nameSpace = kFileNameWin32})
                          .BuildPlain();
  MftFileSummary s = Summarize(dosThenWin32, RecordParse::Ok);
  EXPECT_EQ(s.fileName.parentRecord, 40u);
  EXPECT_EQ(NameOf(s), Utf16Le(u"long name.txt"));

  auto posixThenDos = MftRecordBuilder(30, 0)
                          .FileName({.name = u"posix", .nameSpace = kFileNamePosix})
                          .FileName({.name = u"POSIX~1", .nameSpace = kFileNameDos})
                          .BuildPlain();
  s = Summarize(posixThenDos, RecordParse::Ok);
  EXPECT_EQ(s.fileName.nameSpace, kFileNamePosix);
  EXPECT_EQ(NameOf(s), Utf16Le(u"posix"));
}

TEST(NtfsRecordSummary, DataSizesAndEmptyResidentData) {
  MftFileSummary s = Summarize(MftRecordBuilder(30, 0)
                                   .FileName({.name = u"empty.txt", .realSize = 99})
                                   .ResidentData({})
                                   .ResidentData({1, 2, 3}, u"stream")
                                   .BuildPlain(),
                               RecordParse::Ok);
  EXPECT_TRUE(s.data.present);
  EXPECT_TRUE(s.data.resident);
  EXPECT_EQ(s.data.realSize, 0u);

  s = Summarize(MftRecordBuilder(30, 0)
                    .FileName({.name = u"big.bin"})
                    .NonResidentData({{3, 100}}, 10000)
                    .BuildPlain(),
                RecordParse::Ok);
  EXPECT_FALSE(s.data.resident);
  EXPECT_EQ(s.data.realSize, 10000u);
}

TEST(NtfsRecordSummary, DamagedRecordsAreRefusedNotRead) {
  const std::vector<uint8_t> good = MftRecordBuilder(30, 0)
                                        .FileName({.name = u"a.txt"})
                                        .ResidentData({'x'})
                                        .BuildPlain();
  const uint32_t first = good[0x14];
  struct Damage {
    const char* what;
    size_t offset;
    std::vector<uint8_t> bytes;
    RecordParse expected;
  };
  const Damage damages[] = {
      {"attribute length past the bytes in use", first + 4, {0xF8, 0xFF, 0, 0}, RecordParse::Damaged},
      {"attribute length read as negative 16 bits", first + 4, {0xF8, 0xFF, 0xFF, 0xFF}, RecordParse::Damaged},
      {"attribute length shorter than a header", first + 4, {0x08, 0, 0, 0}, RecordParse::Damaged},
      {"bytes in use beyond the record", 0x18, {0x00, 0x10, 0, 0}, RecordParse::Damaged},
      {"first attribute beyond the bytes in use", 0x14, {0xF0, 0x03}, RecordParse::Damaged},
      {"name length past the value", first + 0x18 + 0x40, {0xFF}, RecordParse::Damaged},
      {"resident value length past the attribute", first + 0x10, {0xFF, 0x0F, 0, 0}, RecordParse::Damaged},
      {"length 0 ends the walk", first + 4, {0, 0, 0, 0}, RecordParse::Ok},
      {"not a FILE record", 0, {'B', 'A', 'A', 'D'}, RecordParse::NotFile},
  };
  for (const Damage& d : damages) {
    SCOPED_TRACE(d.what);
    std::vector<uint8_t> record = good;
    std::copy(d.bytes.begin(), d.bytes.end(), record.begin() + static_cast<ptrdiff_t>(d.offset));
    MftFileSummary s;
    EXPECT_EQ(SummarizeFileRecord(record, s), d.expected);
  }
}

// A volume image on disk with its access values.
struct TestVolume {
  test::TempDir dir;
  DiskDevice device;
  NtfsVolumeAccess access;

  explicit TestVolume(test::NtfsImageBuilder& image, std::vector<MftRun> mftRuns, uint64_t mftCluster) {
    const std::string path = dir / "volume.img";
    image.WriteTo(path);
    EXPECT_EQ(OpenImageFile(path, device), kSuccess);
    access.device = &device;
    NtfsGeometry g;
    EXPECT_TRUE(ReadNtfsGeometry(image.bytes(), g));
    access.bytesPerSector = g.bytesPerSector;
    access.sectorsPerCluster = g.sectorsPerCluster;
    access.recordSize = g.recordSize;
    access.sectorsPerRecord = g.sectorsPerRecord;
    access.mftFirstSector = mftCluster * g.sectorsPerCluster;
    access.mftRuns = std::move(mftRuns);
  }
};

TEST(NtfsVolumeAccessTest, MapsRecordsThroughTheMftRuns) {
  test::NtfsImageBuilder image(512, 1, 400, 16, 64);
  TestVolume v(image, {{8, 16, false}, {8, 100, false}}, 16);  // clusters 16-23, then 116-123
  // Records 0-3 lie in the first run; record 4 starts the second.
  EXPECT_EQ(MftRecordSector(v.access, 3), 16u + 6);
  EXPECT_EQ(MftRecordSector(v.access, 4), 116u);
  // Beyond every run: the partition's first sector, which holds no FILE record.
  v.access.partitionFirstSector = 0;
  EXPECT_EQ(MftRecordSector(v.access, 8), 0u);
  std::vector<MftRun> runs;
  EXPECT_EQ(GetAttributeRuns(v.access, MftRecordSector(v.access, 8), kAttrData, runs), kNtfsNotFileRecord);

  // The formatted-volume rule: one run of 0 clusters is a contiguous MFT.
  v.access.mftRuns = {{0, 16, false}};
  EXPECT_EQ(MftRecordSector(v.access, 100), 0u);
  v.access.emptyRunMeansContiguous = true;
  EXPECT_EQ(MftRecordSector(v.access, 100), 16u + 200);
}

TEST(NtfsVolumeAccessTest, ReadsARecordThatCrossesIntoTheNextRun) {
  // 512-byte clusters and 1 KiB records: record 3 has one sector in each run.
  test::NtfsImageBuilder image(512, 1, 400, 16, 64);
  auto record = MftRecordBuilder(3, 1).FileName({.name = u"split.txt"}).ResidentData({'o', 'k'}).Build();
  image.PutData(16 + 6, std::vector<uint8_t>(record.begin(), record.begin() + 512));
  image.PutData(200, std::vector<uint8_t>(record.begin() + 512, record.end()));
  TestVolume v(image, {{7, 16, false}, {9, 184, false}}, 16);
  std::vector<uint8_t> read(1024);
  ASSERT_EQ(ReadMftRecordByNumber(v.access, 3, read), kSuccess);
  EXPECT_EQ(read, record);
  EXPECT_EQ(ReadMftRecordByNumber(v.access, 20, read), kNtfsNotFileRecord);
}

TEST(NtfsVolumeAccessTest, ResidentDataResults) {
  test::NtfsImageBuilder image(512, 1, 400, 16, 16);
  image.PutRecord(1, MftRecordBuilder(1, 0).FileName({.name = u"empty"}).ResidentData({}).Build());
  image.PutRecord(2, MftRecordBuilder(2, 0).FileName({.name = u"three"}).ResidentData({7, 8, 9}).Build());
  image.PutRecord(3, MftRecordBuilder(3, 0).FileName({.name = u"far"}).NonResidentData({{1, 50}}, 10).Build());
  image.PutRecord(4, MftRecordBuilder(4, 0).FileName({.name = u"none"}).Build());
  TestVolume v(image, {{32, 16, false}}, 16);
  std::vector<uint8_t> buffer(1024);
  std::span<const uint8_t> data;
  EXPECT_EQ(ReadResidentData(v.access, MftRecordSector(v.access, 1), buffer, data), kSuccess);
  EXPECT_EQ(data.size(), 0u);
  EXPECT_EQ(ReadResidentData(v.access, MftRecordSector(v.access, 2), buffer, data), kSuccess);
  EXPECT_EQ(std::vector<uint8_t>(data.begin(), data.end()), (std::vector<uint8_t>{7, 8, 9}));
  EXPECT_EQ(ReadResidentData(v.access, MftRecordSector(v.access, 3), buffer, data), kNtfsNotResident);
  EXPECT_EQ(ReadResidentData(v.access, MftRecordSector(v.access, 4), buffer, data), kNtfsNotResident);
  EXPECT_EQ(ReadResidentData(v.access, MftRecordSector(v.access, 9), buffer, data), kNtfsNotResident);  // empty slot

  std::vector<MftRun> runs;
  EXPECT_EQ(GetAttributeRuns(v.access, MftRecordSector(v.access, 3), kAttrData, runs), kSuccess);
  ASSERT_EQ(runs.size(), 1u);
  EXPECT_EQ(runs[0].lcnDelta, 50);
  EXPECT_EQ(GetAttributeRuns(v.access, MftRecordSector(v.access, 4), kAttrData, runs), kNtfsAttributeNotFound);
}

// A file of three extents: the first in its base record 20, the others in
// extension records 21 and 22, reached through an attribute list.
class AttributeListTest : public testing::Test {
 protected:
  AttributeListTest() : image_(512, 1, 4000, 16, 32) {}

  std::vector<uint8_t> Entries() const {
    std::vector<uint8_t> e;
    for (auto part : {test::AttributeListEntry(0x10, 0, 20), test::AttributeListEntry(0x30, 0, 20),
                      test::AttributeListEntry(0x80, 0, 20), test::AttributeListEntry(0x80, 4, 21),
                      test::AttributeListEntry(0x80, 10, 22)})
      e.insert(e.end(), part.begin(), part.end());
    return e;
  }

  void PutExtensions(uint64_t base22) {
    image_.PutRecord(21, MftRecordBuilder(21, 0).BaseRecord(20).NonResidentData({{6, 1000}}, 0, 4).Build());
    image_.PutRecord(22, MftRecordBuilder(22, 0).BaseRecord(base22).NonResidentData({{2, 3000}}, 0, 10).Build());
  }

  AttributeRuns Collect(const std::vector<uint8_t>& base) {
    TestVolume v(image_, {{64, 16, false}}, 16);
    std::vector<uint8_t> plain = base;
    EXPECT_TRUE(ApplyFixups(plain));
    AttributeRuns runs;
    EXPECT_EQ(CollectAttributeRuns(v.access, plain, kAttrData, runs), kSuccess);
    return runs;
  }

  static std::vector<uint64_t> FirstClusters(const AttributeRuns& runs) {
    std::vector<uint64_t> out;
    ExtentWalker walker(runs.runs);
    ClusterExtent e;
    while (walker.Next(e)) out.push_back(e.firstCluster);
    return out;
  }

  test::NtfsImageBuilder image_;
};

TEST_F(AttributeListTest, ResidentListGathersEveryExtent) {
  PutExtensions(20);
  auto base = MftRecordBuilder(20, 0)
                  .AttributeList(Entries())
                  .FileName({.name = u"fragments.bin"})
                  .NonResidentData({{4, 500}}, 12 * 512)
                  .Build();
  AttributeRuns runs = Collect(base);
  EXPECT_TRUE(runs.complete);
  EXPECT_EQ(runs.realSize, 12u * 512);
  EXPECT_EQ(FirstClusters(runs), (std::vector<uint64_t>{500, 1000, 3000}));
  EXPECT_EQ(RunClusters(runs.runs), 12u);
}

TEST_F(AttributeListTest, NonResidentListIsReadFromItsClusters) {
  PutExtensions(20);
  std::vector<uint8_t> entries = Entries();
  image_.PutData(2000, entries);
  auto base = MftRecordBuilder(20, 0)
                  .NonResidentData({{1, 2000}}, entries.size(), 0, 0x20)
                  .FileName({.name = u"fragments.bin"})
                  .NonResidentData({{4, 500}}, 12 * 512)
                  .Build();
  AttributeRuns runs = Collect(base);
  EXPECT_TRUE(runs.complete);
  EXPECT_EQ(FirstClusters(runs), (std::vector<uint64_t>{500, 1000, 3000}));
}

TEST_F(AttributeListTest, ReusedExtensionRecordIsNotFollowed) {
  PutExtensions(77);  // record 22 now belongs to file 77
  auto base = MftRecordBuilder(20, 0)
                  .AttributeList(Entries())
                  .FileName({.name = u"fragments.bin"})
                  .NonResidentData({{4, 500}}, 12 * 512)
                  .Build();
  AttributeRuns runs = Collect(base);
  EXPECT_FALSE(runs.complete);
  EXPECT_EQ(FirstClusters(runs), (std::vector<uint64_t>{500, 1000}));
}

TEST_F(AttributeListTest, FirstExtentOutsideTheBaseRecord) {
  // The whole $DATA lives in extension records: the list is the only way to it.
  image_.PutRecord(21, MftRecordBuilder(21, 0).BaseRecord(20).NonResidentData({{4, 700}}, 8 * 512).Build());
  image_.PutRecord(22, MftRecordBuilder(22, 0).BaseRecord(20).NonResidentData({{4, 900}}, 0, 4).Build());
  std::vector<uint8_t> entries;
  for (auto part : {test::AttributeListEntry(0x30, 0, 20), test::AttributeListEntry(0x80, 0, 21),
                    test::AttributeListEntry(0x80, 4, 22)})
    entries.insert(entries.end(), part.begin(), part.end());
  auto base = MftRecordBuilder(20, 0).AttributeList(entries).FileName({.name = u"moved.bin"}).Build();
  AttributeRuns runs = Collect(base);
  EXPECT_TRUE(runs.complete);
  EXPECT_EQ(runs.realSize, 8u * 512);
  EXPECT_EQ(FirstClusters(runs), (std::vector<uint64_t>{700, 900}));
}

}  // namespace
}  // namespace selvane
