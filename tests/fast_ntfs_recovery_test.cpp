// The fast NTFS engine on synthetic volumes: the folder tree it rebuilds from
// deleted records (parents in use, deleted, reused, cyclic), names, the intact
// flag, damaged records, copying files and folders out, the allocation bitmap,
// and cancelling a scan.
#include <gtest/gtest.h>

#include <cstdlib>
#include <deque>
#include <map>
#include <set>

#include "engine/fast_ntfs_recovery.h"
#include "engine/recovery_factory.h"
#include "results/scan_history.h"
#include "support/ntfs_builder.h"
#include "support/test_support.h"

namespace selvane {
namespace {

using test::FileNameSpec;
using test::MftRecordBuilder;
using test::RunSpec;

constexpr uint16_t kDir = 0x0003;         // in use, directory
constexpr uint16_t kDeletedDir = 0x0002;  // directory, not in use
constexpr uint16_t kFile = 0x0001;        // in use
constexpr uint16_t kDeleted = 0x0000;

// Scan logs of the test go to a folder of their own.
class ScopedDataDir {
 public:
  ScopedDataDir() {
    ::setenv("SELVANE_DATA_DIR", dir_.path().c_str(), 1);
    CScanHistory::ResetForTests();
  }
  ~ScopedDataDir() {
    ::unsetenv("SELVANE_DATA_DIR");
    CScanHistory::ResetForTests();
  }
  const test::TempDir& dir() const { return dir_; }

 private:
  test::TempDir dir_;
};

std::vector<uint8_t> Pattern(size_t size, uint8_t seed) {
  std::vector<uint8_t> bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(seed + i * 31 + (i >> 8));
  return bytes;
}

// A volume with 4 KiB clusters: boot sector, MFT from cluster 4, $Bitmap after
// it, and data clusters counted from `data` on.
struct Geometry {
  uint32_t bytesPerSector;
  uint32_t sectorsPerCluster;
  uint32_t recordSize;
  const char* name;
};

class SyntheticVolume {
 public:
  explicit SyntheticVolume(Geometry g, uint32_t records = 64, uint64_t clusters = 200)
      : image_(g.bytesPerSector, g.sectorsPerCluster, clusters, 4, records, g.recordSize), records_(records) {
    const uint64_t mftClusters = (uint64_t{records} * image_.recordSize() + 4095) / 4096;
    bitmapCluster_ = 4 + mftClusters;
    data = bitmapCluster_ + 2;
    image_.PutStandardMftRecord();
    Put(MftRecordBuilder(5, kDir, image_.recordSize()).FileName({.parent = 5, .name = u".", .nameSpace = 3}));
    SetBitmap(std::vector<uint8_t>((clusters + 7) / 8, 0xFF));
  }

  void Put(const MftRecordBuilder& record, uint32_t number) { image_.PutRecord(number, record.Build()); }
  void Put(const MftRecordBuilder& record) { Put(record, NumberOf(record)); }
  void PutRaw(uint32_t number, const std::vector<uint8_t>& stored) { image_.PutRecord(number, stored); }
  void PutData(uint64_t cluster, const std::vector<uint8_t>& bytes) { image_.PutData(cluster, bytes); }
  void SetBitmap(const std::vector<uint8_t>& bits, uint64_t realSize = 0) {
    image_.PutData(bitmapCluster_, bits);
    Put(MftRecordBuilder(6, kFile, image_.recordSize())
            .FileName({.name = u"$Bitmap", .nameSpace = 3})
            .NonResidentData({{1, static_cast<int64_t>(bitmapCluster_)}}, realSize ? realSize : bits.size()));
  }
  MftRecordBuilder Record(uint32_t number, uint16_t flags) const {
    return MftRecordBuilder(number, flags, image_.recordSize());
  }
  uint32_t recordSize() const { return image_.recordSize(); }

  std::string Write(const test::TempDir& dir, const std::string& name = "volume.img") {
    const std::string path = dir / name;
    image_.WriteTo(path);
    return path;
  }

  uint64_t data = 0;

 private:
  static uint32_t NumberOf(const MftRecordBuilder& record) {
    auto bytes = record.BuildPlain();
    return bytes[0x2C] | (bytes[0x2D] << 8) | (bytes[0x2E] << 16) | (uint32_t{bytes[0x2F]} << 24);
  }
  test::NtfsImageBuilder image_;
  uint32_t records_;
  uint64_t bitmapCluster_ = 0;
};

// Every record reachable from the root through QueryFolder, by path.
std::map<std::string, ScanLogRecord> ListTree(IFileRecoveryParse& engine) {
  std::map<std::string, ScanLogRecord> tree;
  struct Pending {
    std::optional<ScanLogRecord> folder;
    std::string path;
    uint32_t depth;
  };
  std::deque<Pending> queue{{std::nullopt, "", 0}};
  while (!queue.empty() && tree.size() < 1000) {
    Pending p = queue.front();
    queue.pop_front();
    std::vector<ScanLogRecord> children;
    EXPECT_EQ(engine.QueryFolder(p.folder ? &*p.folder : nullptr, p.depth, children), kSuccess);
    for (const auto& child : children) {
      const std::string path = p.path + std::string(child.NameView()) + (child.IsFolderRecord() ? "/" : "");
      tree[path] = child;
      if (child.IsFolderRecord()) queue.push_back({child, path, p.depth + 1});
    }
  }
  return tree;
}

std::set<std::string> Paths(const std::map<std::string, ScanLogRecord>& tree) {
  std::set<std::string> paths;
  for (const auto& [path, record] : tree) paths.insert(path);
  return paths;
}

class FastNtfsTree : public testing::TestWithParam<Geometry> {
 protected:
  void SetUp() override {
    SyntheticVolume v(GetParam());
    const uint64_t d = v.data;
    // A live folder holding a deleted file.
    v.Put(v.Record(20, kDir).FileName({.name = u"Docs"}));
    v.Put(v.Record(30, kDeleted).FileName({.parent = 20, .name = u"a.txt"}).ResidentData({'h', 'e', 'l', 'l', 'o'}));
    // A deleted folder inside a deleted folder; freeing raised their sequence numbers.
    v.Put(v.Record(21, kDeletedDir).SequenceNumber(2).FileName({.name = u"Old"}));
    v.Put(v.Record(22, kDeletedDir).SequenceNumber(2).FileName({.parent = 21, .name = u"Sub"}));
    v.Put(v.Record(31, kDeleted).FileName({.parent = 22, .name = u"b.bin"}).NonResidentData({{2, int64_t(d)}}, 6000));
    v.PutData(d, Pattern(6000, 1));
    // A deleted folder holding no deleted file.
    v.Put(v.Record(27, kDeletedDir).SequenceNumber(2).FileName({.name = u"Empty"}));
    // A parent record reused by a file.
    v.Put(v.Record(23, kFile).SequenceNumber(2).FileName({.name = u"newfile.txt"}));
    v.Put(v.Record(32, kDeleted).FileName({.parent = 23, .name = u"c.txt"}).ResidentData({'c'}));
    // A parent record reused by a new folder: old references go to a lost folder.
    v.Put(v.Record(24, kDir).SequenceNumber(2).FileName({.name = u"New"}));
    v.Put(v.Record(33, kDeleted).FileName({.parent = 24, .parentSequence = 1, .name = u"d.txt"}).ResidentData({'d'}));
    v.Put(v.Record(34, kDeleted).FileName({.parent = 24, .parentSequence = 2, .name = u"e.txt"}).ResidentData({'e'}));
    // Names: DOS then Win32, POSIX then DOS.
    v.Put(v.Record(35, kDeleted)
              .FileName({.name = u"LONGNA~1.TXT", .nameSpace = 2})
              .FileName({.name = u"long name.txt", .nameSpace = 1})
              .ResidentData({'l'}));
    v.Put(v.Record(36, kDeleted)
              .FileName({.name = u"posix.txt", .nameSpace = 0})
              .FileName({.name = u"POSIX~1.TXT", .nameSpace = 2})
              .ResidentData({'p'}));
    v.Put(v.Record(37, kDeleted).FileName({.name = u"empty.txt", .realSize = 5}).ResidentData({}));
    v.Put(v.Record(38, kDeleted).FileName({.name = u"noext"}).ResidentData({'x'}));
    // A deleted record among the file system's own records is never listed.
    v.Put(v.Record(8, kDeleted).FileName({.name = u"ghost.txt"}).ResidentData({'g'}));
    // Damaged records: skipped, the rest of the scan unharmed.
    auto broken = v.Record(39, kDeleted).FileName({.name = u"broken.txt"}).ResidentData({'b'}).Build();
    const uint32_t first = broken[0x14];
    broken[first + 4] = 0xF8, broken[first + 5] = 0xFF;  // length far past the bytes in use
    v.PutRaw(39, broken);
    auto spilling = v.Record(42, kDeleted).FileName({.name = u"gone.txt"}).ResidentData({'g'}).Build();
    spilling[0x19] = 0x40;  // bytes in use: 16 KiB, beyond the record
    v.PutRaw(42, spilling);
    // Two folders that name each other as parent.
    v.Put(v.Record(25, kDir).FileName({.parent = 26, .name = u"Loop1"}));
    v.Put(v.Record(26, kDir).FileName({.parent = 25, .name = u"Loop2"}));
    v.Put(v.Record(40, kDeleted).FileName({.parent = 25, .name = u"cycle.txt"}).ResidentData({'y'}));
    // Fragmented: a run, a sparse run, then two clusters before the first.
    v.Put(v.Record(41, kDeleted)
              .FileName({.name = u"frag.bin"})
              .NonResidentData({{1, int64_t(d + 10)}, {1, 0, true}, {2, -7}}, 4 * 4096 - 100));
    v.PutData(d + 10, Pattern(4096, 7));
    v.PutData(d + 3, Pattern(8192, 9));
    path_ = v.Write(data_.dir());
    engine_ = CreateRecoveryForImage(path_, 1001, ScanMode::Fast);
    ASSERT_NE(engine_, nullptr);
    ASSERT_EQ(engine_->Scan(""), kSuccess);
    tree_ = ListTree(*engine_);
  }

  std::vector<uint8_t> Recover(const std::string& path) {
    const std::string out = scratch_ / "out.bin";
    EXPECT_EQ(engine_->RecoverItem(tree_.at(path), out, 0), kSuccess);
    return test::ReadFile(out);
  }

  ScopedDataDir data_;
  test::TempDir scratch_;
  std::string path_;
  std::unique_ptr<IFileRecoveryParse> engine_;
  std::map<std::string, ScanLogRecord> tree_;
};

TEST_P(FastNtfsTree, RebuildsTheFolderTree) {
  EXPECT_EQ(Paths(tree_), (std::set<std::string>{
                              "Docs/",
                              "Docs/a.txt",
                              "LostFolder23/",
                              "LostFolder23/c.txt",
                              "LostFolder24/",
                              "LostFolder24/d.txt",
                              "Loop2/",
                              "Loop2/Loop1/",
                              "Loop2/Loop1/cycle.txt",
                              "New/",
                              "New/e.txt",
                              "Old/",
                              "Old/Sub/",
                              "Old/Sub/b.bin",
                              "empty.txt",
                              "frag.bin",
                              "long name.txt",
                              "noext",
                              "posix.txt",
                          }));
  // Everything in the log is in the tree: no orphans, nothing else listed.
  EXPECT_EQ(engine_->GetRecordCount(), tree_.size());
  for (const auto& [path, record] : tree_) {
    std::string folder;
    EXPECT_EQ(engine_->QueryFolderPath(record, folder), kSuccess);
    const std::string expected = path.substr(0, path.rfind('/', path.size() - 2) + 1);
    EXPECT_EQ(folder, record.IsFolderRecord() ? expected : path.substr(0, path.rfind('/') + 1)) << path;
  }
}

TEST_P(FastNtfsTree, RecordFields) {
  const ScanLogRecord& a = tree_.at("Docs/a.txt");
  EXPECT_EQ(a.ItemId, 30u);
  EXPECT_EQ(a.FileSize, 5u);
  EXPECT_EQ(a.EngineCode, kEngineFastNtfs);
  EXPECT_EQ(a.VolumeLetter, 1001);
  EXPECT_EQ(a.ClusterBytes, 4096u);
  EXPECT_EQ(a.PartitionStart, 0u);
  EXPECT_EQ(a.LocationSector, (4 * 4096 + 30ull * GetParam().recordSize) / GetParam().bytesPerSector);
  EXPECT_EQ(tree_.at("Old/Sub/b.bin").FileSize, 6000u);
  EXPECT_EQ(tree_.at("Old/").IsFolder, 1u);
  EXPECT_EQ(tree_.at("LostFolder23/").ClusterBytes, kNoClusterSize);
  // Intact: an empty resident file is not; a name without extension is not checked.
  EXPECT_EQ(tree_.at("empty.txt").Intact, 0u);
  EXPECT_EQ(tree_.at("empty.txt").FileSize, 0u);
  EXPECT_EQ(tree_.at("noext").Intact, 1u);
  EXPECT_EQ(tree_.at("Docs/a.txt").Intact, 1u);
}

TEST_P(FastNtfsTree, RecoversFilesByteForByte) {
  EXPECT_EQ(Recover("Docs/a.txt"), (std::vector<uint8_t>{'h', 'e', 'l', 'l', 'o'}));
  EXPECT_EQ(Recover("Old/Sub/b.bin"), Pattern(6000, 1));
  std::vector<uint8_t> frag = Pattern(4096, 7);
  frag.resize(8192, 0);  // the sparse run reads as zeros
  std::vector<uint8_t> tail = Pattern(8192, 9);
  frag.insert(frag.end(), tail.begin(), tail.end() - 100);
  EXPECT_EQ(Recover("frag.bin"), frag);
  EXPECT_EQ(Recover("empty.txt"), std::vector<uint8_t>{});
}

TEST_P(FastNtfsTree, OverwritesAnExistingDestinationWithoutAStaleTail) {
  const std::string out = scratch_ / "existing.txt";
  test::WriteFile(out, std::vector<uint8_t>(10000, 'z'));
  EXPECT_EQ(engine_->RecoverItem(tree_.at("Docs/a.txt"), out, 0), kSuccess);
  EXPECT_EQ(test::ReadFile(out), (std::vector<uint8_t>{'h', 'e', 'l', 'l', 'o'}));
}

TEST_P(FastNtfsTree, ReportsEachFileOnceWithItsResult) {
  std::vector<std::pair<std::string, ResultCode>> finals;
  engine_->SetCallbacks(nullptr,
                        [&](int32_t percent, int32_t scale, ResultCode error, const std::string& path) {
                          if (percent * scale / 100 == 100) finals.push_back({path, error});
                          return 0;
                        },
                        100);
  const std::string folder = scratch_ / "Old";
  EXPECT_EQ(engine_->RecoverItem(tree_.at("Old/"), folder, 0), kSuccess);
  ASSERT_EQ(finals.size(), 1u);
  EXPECT_EQ(finals[0], std::make_pair(folder + "/Sub/b.bin", kSuccess));
  EXPECT_EQ(test::ReadFile(folder + "/Sub/b.bin"), Pattern(6000, 1));

  // A record whose MFT slot holds no file any more: one final report with an error.
  finals.clear();
  ScanLogRecord gone = tree_.at("Docs/a.txt");
  gone.ItemId = 60;
  gone.LocationSector = (4 * 4096 + 60ull * GetParam().recordSize) / GetParam().bytesPerSector;
  EXPECT_EQ(engine_->RecoverItem(gone, scratch_ / "gone.txt", 0), kFileNotFound);
  ASSERT_EQ(finals.size(), 1u);
  EXPECT_EQ(finals[0].second, kFileNotFound);
}

TEST_P(FastNtfsTree, ReadsItemDataForThePreview) {
  std::vector<uint8_t> buffer(100);
  std::string tempPath;
  uint32_t size = 0;
  std::vector<std::pair<int32_t, ResultCode>> reports;
  auto progress = [&](int32_t percent, ResultCode error) {
    reports.push_back({percent, error});
    return 0;
  };
  // No temporary file for this type: the data is copied, cut to the buffer.
  EXPECT_EQ(engine_->ReadItemData(tree_.at("Old/Sub/b.bin"), tempPath, buffer, size, progress), kSuccess);
  EXPECT_TRUE(tempPath.empty());
  EXPECT_EQ(size, 100u);
  std::vector<uint8_t> expected = Pattern(6000, 1);
  expected.resize(100);
  EXPECT_EQ(buffer, expected);
  ASSERT_FALSE(reports.empty());
  EXPECT_EQ(reports.back(), std::make_pair(100, kSuccess));
}

INSTANTIATE_TEST_SUITE_P(Geometries, FastNtfsTree,
                         testing::Values(Geometry{512, 8, 1024, "Sectors512"}, Geometry{4096, 1, 4096, "Sectors4096"},
                                         Geometry{512, 8, 4096, "Sectors512Records4096"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(FastNtfsPreview, PicturesGoToATemporaryFileInTheScanLogRoot) {
  ScopedDataDir data;
  SyntheticVolume v({512, 8, 1024, ""});
  v.Put(v.Record(30, kDeleted).FileName({.name = u"photo.jpg"}).NonResidentData({{1, int64_t(v.data)}}, 3000));
  // The start of a JPEG file, so that the content check takes it for one.
  std::vector<uint8_t> jpeg = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 'J', 'F', 'I', 'F', 0x00, 0x01,
                               0x01, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00, 0x00};
  std::vector<uint8_t> rest = Pattern(3000 - jpeg.size(), 4);
  jpeg.insert(jpeg.end(), rest.begin(), rest.end());
  v.PutData(v.data, jpeg);
  auto engine = CreateRecoveryForImage(v.Write(data.dir()), 1001, ScanMode::Fast);
  ASSERT_EQ(engine->Scan(""), kSuccess);
  std::vector<ScanLogRecord> found;
  ASSERT_EQ(engine->QueryFolder(nullptr, 0, found), kSuccess);
  ASSERT_EQ(found.size(), 1u);
  std::string tempPath;
  uint32_t size = 0;
  std::vector<uint8_t> buffer(16);
  ASSERT_EQ(engine->ReadItemData(found[0], tempPath, buffer, size, nullptr), kSuccess);
  EXPECT_EQ(tempPath, data.dir() / "ScanLog/tmp.jpg");
  EXPECT_EQ(test::ReadFile(tempPath), jpeg);
  EXPECT_EQ(size, 0u);
}

TEST(FastNtfsScan, StopKeepsWhatWasFoundInItsFolders) {
  ScopedDataDir data;
  // 2,048 records: two chunks of 1,024. One deleted file in each.
  SyntheticVolume v({512, 8, 1024, ""}, 2048, 700);
  v.Put(v.Record(50, kDir).FileName({.name = u"Dir"}));
  v.Put(v.Record(100, kDeleted).FileName({.parent = 50, .name = u"first.txt"}).ResidentData({'1'}));
  v.Put(v.Record(1500, kDeleted).FileName({.name = u"second.txt"}).ResidentData({'2'}));
  auto engine = CreateRecoveryForImage(v.Write(data.dir()), 1001, ScanMode::Fast);
  std::vector<int32_t> percents;
  engine->SetCallbacks(
      [&](int32_t percent, int32_t, int32_t, uint64_t, uint64_t, uint64_t) {
        percents.push_back(percent);
        return kScanStopCode;
      },
      nullptr, 100);
  CScanHistory::Instance().BeginNewScan();
  EXPECT_EQ(engine->Scan(""), kScanStopCode);
  EXPECT_EQ(percents, std::vector<int32_t>{50});
  // The file found before the stop is listed in its folder.
  EXPECT_EQ(Paths(ListTree(*engine)), (std::set<std::string>{"Dir/", "Dir/first.txt"}));

  percents.clear();
  engine->SetCallbacks(
      [&](int32_t percent, int32_t, int32_t, uint64_t, uint64_t, uint64_t) {
        percents.push_back(percent);
        return 0;
      },
      nullptr, 100);
  CScanHistory::Instance().BeginNewScan();
  EXPECT_EQ(engine->Scan(""), kSuccess);
  EXPECT_EQ(percents, (std::vector<int32_t>{50, 100, 100}));
  EXPECT_EQ(Paths(ListTree(*engine)), (std::set<std::string>{"Dir/", "Dir/first.txt", "second.txt"}));
}

TEST(FastNtfsScan, UnreadableMftGivesAnEmptyResult) {
  ScopedDataDir data;
  SyntheticVolume v({512, 8, 1024, ""});
  v.PutRaw(0, std::vector<uint8_t>(1024, 0));  // $MFT's own record wiped
  v.Put(v.Record(30, kDeleted).FileName({.name = u"x.txt"}).ResidentData({'x'}));
  auto engine = CreateRecoveryForImage(v.Write(data.dir()), 1001, ScanMode::Fast);
  int32_t last = -1;
  engine->SetCallbacks([&](int32_t percent, int32_t, int32_t, uint64_t, uint64_t, uint64_t) {
    last = percent;
    return 0;
  }, nullptr, 100);
  EXPECT_EQ(engine->Scan(""), kSuccess);
  EXPECT_EQ(last, 100);
  EXPECT_EQ(engine->GetRecordCount(), 0u);
}

TEST(FastNtfsScan, QueryWithoutFolderNeedsDepthZero) {
  ScopedDataDir data;
  SyntheticVolume v({512, 8, 1024, ""});
  auto engine = CreateRecoveryForImage(v.Write(data.dir()), 1001, ScanMode::Fast);
  ASSERT_EQ(engine->Scan(""), kSuccess);
  std::vector<ScanLogRecord> out;
  EXPECT_EQ(engine->QueryFolder(nullptr, 1, out), kInvalidParameter);
  uint32_t count = 0;
  EXPECT_EQ(engine->QueryFileCount(nullptr, 1, count), kInvalidParameter);
}

TEST(FastNtfsDrive, ScansAPartitionAtItsOffsetOnA4KiBSectorDrive) {
  ScopedDataDir data;
  test::TempDir dir;
  SyntheticVolume v({4096, 1, 4096, ""});
  v.Put(v.Record(30, kDeleted).FileName({.name = u"report.txt"}).ResidentData({'r', 'e', 'p'}));
  v.Put(v.Record(31, kDeleted).FileName({.name = u"pic.bin"}).NonResidentData({{2, int64_t(v.data)}}, 5000));
  v.PutData(v.data, Pattern(5000, 3));
  // The partition starts at drive sector 16 (64 KiB).
  std::vector<uint8_t> disk(16 * 4096, 0);
  const std::vector<uint8_t> volume = test::ReadFile(v.Write(dir));
  disk.insert(disk.end(), volume.begin(), volume.end());
  test::WriteFile(dir / "disk.img", disk);
  test::FakeSysfs sysfs(dir.path() / "root");
  sysfs.AddDisk("sdb", dir / "disk.img", disk.size() / 512, 4096, true, "usb1/1-1");
  sysfs.AddPartition("sdb", "sdb1", 1, 16 * 8, volume.size() / 512);

  auto engine = CreateRecoveryForDisk(0, 16, volume.size() / 4096, 1, ScanMode::Fast);
  ASSERT_NE(engine, nullptr);
  ASSERT_EQ(engine->Scan(""), kSuccess);
  auto tree = ListTree(*engine);
  ASSERT_EQ(Paths(tree), (std::set<std::string>{"pic.bin", "report.txt"}));
  EXPECT_EQ(tree.at("pic.bin").PartitionStart, 16u);
  EXPECT_EQ(tree.at("pic.bin").LocationSector, 16u + 4 + 31);
  EXPECT_EQ(tree.at("pic.bin").VolumeLetter, 1);
  const std::string out = dir / "pic.bin";
  ASSERT_EQ(engine->RecoverItem(tree.at("pic.bin"), out, 0), kSuccess);
  EXPECT_EQ(test::ReadFile(out), Pattern(5000, 3));

  // The command finds the partition of the drive by itself.
  const auto result = test::RunSelvane({"scan", sysfs.DevPath("sdb"), "--json"},
                                       "SELVANE_DATA_DIR=" + (data.dir() / "cli"));
  EXPECT_EQ(result.exitCode, 0) << result.err;
  EXPECT_NE(result.out.find("\"path\":\"/report.txt\""), std::string::npos) << result.out;
}

// Free clusters with 8 sectors a cluster; the volume has 128 clusters (1,024 sectors).
class FastNtfsFreeRuns : public testing::Test {
 protected:
  std::unique_ptr<IFileRecoveryParse> Open(uint64_t bitmapBytes) {
    SyntheticVolume v({512, 8, 1024, ""}, 64, 128);
    // Clusters 0-23 used, 24-31 free, 32-38 used, 39-47 free, 48-119 used,
    // 120-127 free, and a padding byte beyond the volume that reads free.
    std::vector<uint8_t> bits = {0xFF, 0xFF, 0xFF, 0x00, 0x7F, 0x00, 0xFF, 0xFF, 0xFF,
                                 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00};
    bits.resize(std::min<size_t>(bits.size(), bitmapBytes));
    v.SetBitmap(bits, bits.size());
    auto engine = CreateRecoveryForImage(v.Write(dir_), 1001, ScanMode::Fast);
    EXPECT_EQ(engine->LoadAllocationBitmap(), kSuccess);
    return engine;
  }
  test::TempDir dir_;
};

TEST_F(FastNtfsFreeRuns, FindsRunsAndStopsAtTheEnds) {
  auto engine = Open(17);
  struct Case {
    uint64_t sector, expectedSector, expectedCount;
  };
  const Case cases[] = {
      {0, 192, 64},      // first free cluster 24, eight of them
      {248, 248, 8},     // the last cluster of a free run: that cluster alone
      {250, 250, 6},     // inside a cluster: up to the run's end, not past it
      {312, 312, 72},    // 39-47
      {400, 960, 64},    // 120 on, cut at the end of the volume
      {1024, 1024, 0},   // the end itself
      {5000, 1024, 0},   // beyond the end
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sector);
    uint64_t sector = c.sector, count = 99;
    EXPECT_EQ(engine->FindFreeRun(sector, count), 1);
    EXPECT_EQ(sector, c.expectedSector);
    EXPECT_EQ(count, c.expectedCount);
  }
}

TEST_F(FastNtfsFreeRuns, NeverReadsBeyondTheLoadedBitmap) {
  auto engine = Open(10);  // covers clusters 0-79 only
  uint64_t sector = 700, count = 99;  // cluster 87
  EXPECT_EQ(engine->FindFreeRun(sector, count), 1);
  EXPECT_EQ(sector, 700u);
  EXPECT_EQ(count, 0u);
  sector = 400;  // allocated up to the end of what is known
  EXPECT_EQ(engine->FindFreeRun(sector, count), 1);
  EXPECT_EQ(sector, 400u);
  EXPECT_EQ(count, 0u);
}

}  // namespace
}  // namespace selvane
