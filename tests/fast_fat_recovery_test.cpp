#include "engine/fast_fat_recovery.h"
#include "engine/fat_time.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <set>

#include "platform/read_faults.h"
#include "support/data_dir.h"
#include "support/fat_image_builder.h"
#include "support/test_support.h"

namespace selvane {
namespace {

using test::FatEntryBytes;
using test::FatImageBuilder;
using test::FatImageSpec;
using test::LongNameEntries;
using test::PatternBytes;
using test::ShortEntry;

constexpr uint8_t kArchive = 0x20, kDirectory = 0x10;

FatImageSpec SpecFor(FatType type) {
  FatImageSpec spec;
  spec.type = type;
  switch (type) {
    case FatType::Fat12:  // a 1.44 MB floppy: 14 root-directory sectors
      spec.sectorsPerCluster = 1;
      spec.totalSectors = 2880;
      spec.rootEntries = 224;
      spec.reservedSectors = 1;
      break;
    case FatType::Fat16:
      spec.sectorsPerCluster = 2;
      spec.totalSectors = 16384;
      spec.rootEntries = 512;
      break;
    case FatType::Fat32:
      spec.sectorsPerCluster = 1;
      spec.totalSectors = 70000;  // more than 65,536 clusters: cluster numbers with a high word
      spec.reservedSectors = 32;
      break;
  }
  return spec;
}

// Files a scan must find, by name, with their contents.
struct Expected {
  std::map<std::string, std::vector<uint8_t>> files;
};

// A volume holding each case of the walk once: a deleted 8.3 file and a deleted
// long-named one, a live folder with one deleted file and one without, a
// deleted folder tree whose entries are not marked deleted, a read-only
// deleted file, a deleted empty file, a directory continued in a second
// cluster that is not adjacent, and live files that must not be listed.
class MixedVolume {
 public:
  explicit MixedVolume(FatType type) : b(SpecFor(type)) {
    const auto& g = b.Geometry();
    cb = g.ClusterBytes();
    root = g.RootId();
    if (g.IsFat32()) b.Chain({root});

    std::vector<FatEntryBytes> rootEntries;
    rootEntries.push_back(ShortEntry("SELVANE    ", 0x08, 0, 0));
    // Deleted, no long name: data in two free clusters.
    rootEntries.push_back(ShortEntry("REPORT  DOC", kArchive, 10, Data("!eport.doc", 10, cb + cb / 2), true));
    // Deleted with its long name: three consecutive free clusters.
    for (auto& e : LongNameEntries(u"Quarterly report 2019.docx", true)) rootEntries.push_back(e);
    rootEntries.push_back(
        ShortEntry("QUARTE~1DOC", kArchive, 20, Data("Quarterly report 2019.docx", 20, 2 * cb + 7), true));
    // A live folder holding one deleted and one live file.
    rootEntries.push_back(ShortEntry("LIVE       ", kDirectory, 30, 0));
    b.Chain({30});
    b.WriteDotEntries(30, 0);
    b.WriteEntries(30, 2, {ShortEntry("GONE    TXT", kArchive, 31, Data("!one.txt", 31, 100), true),
                           ShortEntry("KEPT    TXT", kArchive, 32, 10)});
    b.Chain({32});
    // A live folder without deleted files.
    rootEntries.push_back(ShortEntry("QUIET      ", kDirectory, 40, 0));
    b.Chain({40});
    b.WriteDotEntries(40, 0);
    b.WriteEntries(40, 2, {ShortEntry("STAY    TXT", kArchive, 41, 5)});
    b.Chain({41});
    // A deleted folder tree: only the folder's own entry is marked, its clusters are free.
    for (auto& e : LongNameEntries(u"Old Tree", true)) rootEntries.push_back(e);
    rootEntries.push_back(ShortEntry("OLDTREE    ", kDirectory, 50, 0, true));
    b.WriteDotEntries(50, 0);
    b.WriteEntries(50, 2, {ShortEntry("A       TXT", kArchive, 51, Data("a.txt", 51, cb + 20)),
                           ShortEntry("SUB        ", kDirectory, 53, 0)});
    b.WriteDotEntries(53, 50);
    b.WriteEntries(53, 2, {ShortEntry("B       BIN", kArchive, 54, Data("b.bin", 54, 10))});
    // Read-only without the archive bit: not logged.
    rootEntries.push_back(ShortEntry("RO      TXT", 0x01, 60, 10, true));
    // Deleted and empty.
    rootEntries.push_back(ShortEntry("EMPTY   TXT", kArchive, 0, 0, true));
    files["!mpty.txt"] = {};
    // A live folder whose first cluster is full and whose second is elsewhere.
    rootEntries.push_back(ShortEntry("BIG        ", kDirectory, 70, 0));
    b.Chain({70, 90});
    b.WriteDotEntries(70, 0);
    std::vector<FatEntryBytes> filler;
    for (size_t i = 2; i < cb / 32; ++i) {
      std::string name = "F" + std::to_string(1000 + i) + "   TXT";
      filler.push_back(ShortEntry(name, kArchive, 0, 0));
    }
    b.WriteEntries(70, 2, filler);
    b.WriteEntries(90, 0, {ShortEntry("DEEP    TXT", kArchive, 91, Data("!eep.txt", 91, 10), true)});
    // A live file in the root.
    rootEntries.push_back(ShortEntry("LIVEFILETXT", kArchive, 95, 10));
    b.Chain({95});
    b.WriteEntries(root, 0, rootEntries);
  }

  // Writes a file's data from `cluster` on into consecutive clusters; returns its size.
  uint32_t Data(const std::string& name, uint32_t cluster, uint32_t size) {
    auto bytes = PatternBytes(size, cluster);
    for (uint32_t at = 0; at < size; at += cb)
      b.Write(cluster + at / cb, 0,
              std::vector<uint8_t>(bytes.begin() + at, bytes.begin() + std::min(size, at + cb)));
    files[name] = bytes;
    return size;
  }

  FatImageBuilder b;
  uint32_t cb = 0;
  uint32_t root = 0;
  std::map<std::string, std::vector<uint8_t>> files;
};

class FastFatRecoveryTest : public ::testing::Test {
 protected:
  void OpenAndScan(FatImageBuilder& builder) {
    builder.Save(dir / "volume.img");
    ASSERT_EQ(engine.OpenImage(dir / "volume.img", 7), kSuccess);
    ASSERT_EQ(engine.Scan(""), kSuccess);
  }
  std::vector<ScanLogRecord> List(const ScanLogRecord* folder, uint32_t depth) {
    std::vector<ScanLogRecord> out;
    EXPECT_EQ(engine.QueryFolder(folder, depth, out), kSuccess);
    return out;
  }
  static const ScanLogRecord* Find(const std::vector<ScanLogRecord>& records, std::string_view name) {
    for (const auto& r : records)
      if (r.NameView() == name) return &r;
    return nullptr;
  }
  static std::set<std::string> Names(const std::vector<ScanLogRecord>& records) {
    std::set<std::string> names;
    for (const auto& r : records) names.insert(std::string(r.NameView()));
    return names;
  }

  test::DataDirScope data;
  test::TempDir dir;
  CFastFatRecovery engine;
};

class MixedVolumeTest : public FastFatRecoveryTest, public ::testing::WithParamInterface<FatType> {};

TEST_P(MixedVolumeTest, FindsDeletedFilesInTheirFoldersAndNothingLive) {
  MixedVolume v(GetParam());
  OpenAndScan(v.b);

  const auto root = List(nullptr, 0);
  EXPECT_EQ(Names(root), (std::set<std::string>{"!eport.doc", "Quarterly report 2019.docx", "!mpty.txt", "live",
                                                 "Old Tree", "big"}));
  const ScanLogRecord* live = Find(root, "live");
  const ScanLogRecord* tree = Find(root, "Old Tree");
  const ScanLogRecord* big = Find(root, "big");
  ASSERT_TRUE(live && tree && big);
  EXPECT_EQ(live->FolderDeleted, 0u);
  EXPECT_EQ(tree->FolderDeleted, 1u);
  EXPECT_EQ(Names(List(live, 1)), std::set<std::string>{"!one.txt"});
  EXPECT_EQ(Names(List(big, 1)), std::set<std::string>{"!eep.txt"}) << "the second cluster of a directory";

  const auto treeItems = List(tree, 1);
  EXPECT_EQ(Names(treeItems), (std::set<std::string>{"a.txt", "sub"}));
  const ScanLogRecord* sub = Find(treeItems, "sub");
  ASSERT_TRUE(sub);
  EXPECT_EQ(sub->FolderDeleted, 1u) << "inside a deleted folder";
  EXPECT_EQ(Names(List(sub, 2)), std::set<std::string>{"b.bin"});

  // Every record carries what reading it needs, and files are numbered first.
  const auto& g = engine.Geometry();
  uint32_t lastFile = 0, firstFolder = UINT32_MAX;
  for (const auto* list : {&root, &treeItems}) {
    for (const auto& r : *list) {
      EXPECT_EQ(r.EngineCode, uint32_t{kEngineFastFat});
      EXPECT_EQ(r.VolumeLetter, 7);
      EXPECT_EQ(r.ClusterBytes, g.ClusterBytes());
      EXPECT_EQ(r.DataAreaSector, g.firstDataSector);
      // Random bytes under a document's extension no longer match its type.
      const bool document = r.NameView().ends_with(".doc") || r.NameView().ends_with(".docx");
      EXPECT_EQ(r.Intact, document ? 0u : 1u) << r.NameView();
      if (r.IsFolderRecord()) firstFolder = std::min(firstFolder, r.RecordNumber);
      else lastFile = std::max(lastFile, r.RecordNumber);
    }
  }
  EXPECT_LT(lastFile, firstFolder);
  const ScanLogRecord* report = Find(root, "!eport.doc");
  ASSERT_TRUE(report);
  const uint64_t rootSector = g.IsFat32() ? g.ClusterSector(g.rootCluster) : g.rootDirSector;
  EXPECT_EQ(report->LocationSector, rootSector) << "second entry of the root directory";
  EXPECT_EQ(report->WriteTime, FatDateTimeToFileTime(test::kTestDate, test::kTestTime));
  EXPECT_EQ(report->CreationTime, report->WriteTime + 5'000'000);
  EXPECT_EQ(engine.GetRecordCount(), 11u) << "7 files and 4 folders";
}

TEST_P(MixedVolumeTest, RecoversFilesAndFoldersByteForByte) {
  MixedVolume v(GetParam());
  OpenAndScan(v.b);
  std::vector<std::pair<int32_t, ResultCode>> finals;
  engine.SetCallbacks(nullptr,
                      [&](int32_t percent, int32_t, ResultCode error, const std::string&) {
                        if (percent == 100) finals.push_back({percent, error});
                        return 0;
                      },
                      100);
  const std::string out = dir / "out";
  const auto root = List(nullptr, 0);
  for (const char* name : {"!eport.doc", "Quarterly report 2019.docx", "!mpty.txt"}) {
    const ScanLogRecord* r = Find(root, name);
    ASSERT_TRUE(r) << name;
    EXPECT_EQ(engine.RecoverItem(*r, out + "/" + name, 0), kSuccess) << name;
    EXPECT_EQ(test::ReadFile(out + "/" + name), v.files[name]) << name;
  }
  EXPECT_TRUE(std::filesystem::exists(out + "/!mpty.txt")) << "an empty file is created";

  const ScanLogRecord* tree = Find(root, "Old Tree");
  ASSERT_TRUE(tree);
  ASSERT_EQ(engine.RecoverItem(*tree, out + "/Old Tree", 0), kSuccess);
  EXPECT_EQ(test::ReadFile(out + "/Old Tree/a.txt"), v.files["a.txt"]);
  EXPECT_EQ(test::ReadFile(out + "/Old Tree/sub/b.bin"), v.files["b.bin"]);
  EXPECT_EQ(finals.size(), 5u) << "each file ends with one report";
  for (const auto& f : finals) EXPECT_EQ(f.second, kSuccess);
}

FatEntryBytes WithoutHighWord(FatEntryBytes e) {
  e[20] = e[21] = 0;
  return e;
}

TEST_F(FastFatRecoveryTest, GuessesTheClearedHighClusterWordOfDeletedFat32Entries) {
  FatImageBuilder b(SpecFor(FatType::Fat32));
  b.Chain({2});
  const uint32_t photo = 0x10005, album = 0x10010;
  ASSERT_GT(b.Geometry().MaxCluster(), album + 1);
  // The low word alone names cluster 5, which a live file uses, and cluster
  // 0x10, which holds no directory.
  b.Chain({5});
  b.Write(5, 0, PatternBytes(10, 5));
  b.Write(0x10, 0, PatternBytes(512, 0x10));
  std::vector<uint8_t> jpeg = PatternBytes(1000, photo);
  const std::vector<uint8_t> header = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 'J', 'F', 'I', 'F', 0x00};
  std::copy(header.begin(), header.end(), jpeg.begin());
  b.Write(photo, 0, std::vector<uint8_t>(jpeg.begin(), jpeg.begin() + 512));
  b.Write(photo + 1, 0, std::vector<uint8_t>(jpeg.begin() + 512, jpeg.end()));
  b.WriteDotEntries(album, 0);
  b.WriteEntries(album, 2, {ShortEntry("IN      TXT", kArchive, album + 1, 10)});
  b.Write(album + 1, 0, PatternBytes(10, album + 1));
  b.WriteEntries(2, 0,
                 {ShortEntry("NOTE    TXT", kArchive, 5, 10),
                  WithoutHighWord(ShortEntry("PHOTO   JPG", kArchive, photo, 1000, true)),
                  WithoutHighWord(ShortEntry("ALBUM      ", kDirectory, album, 0, true))});
  OpenAndScan(b);

  const auto root = List(nullptr, 0);
  const ScanLogRecord* found = Find(root, "!hoto.jpg");
  const ScanLogRecord* folder = Find(root, "!lbum");
  ASSERT_TRUE(found && folder);
  EXPECT_EQ(found->ItemId, photo);
  EXPECT_EQ(found->Intact, 1u) << "its first sector is a JPEG's";
  EXPECT_EQ(folder->ItemId, album);
  const auto inside = List(folder, 1);
  ASSERT_EQ(Names(inside), std::set<std::string>{"in.txt"});

  ASSERT_EQ(engine.RecoverItem(*found, dir / "photo.jpg", 0), kSuccess);
  EXPECT_EQ(test::ReadFile(dir / "photo.jpg"), jpeg);
  ASSERT_EQ(engine.RecoverItem(inside.front(), dir / "in.txt", 0), kSuccess);
  EXPECT_EQ(test::ReadFile(dir / "in.txt"), PatternBytes(10, album + 1));
}

// Fills a directory cluster from slot `from` with live entries that are not logged.
void FillWithLiveEntries(FatImageBuilder& b, uint32_t cluster, size_t from, char tag) {
  std::vector<FatEntryBytes> entries;
  for (size_t i = from; i < b.Geometry().ClusterBytes() / 32; ++i)
    entries.push_back(ShortEntry(std::string(1, tag) + std::to_string(1000 + i) + "   TXT", kArchive, 0, 0));
  b.WriteEntries(cluster, from, entries);
}

TEST_F(FastFatRecoveryTest, DamagedTreesAndChainsEndTheirWalks) {
  FatImageBuilder b(SpecFor(FatType::Fat16));
  const uint32_t cb = b.Geometry().ClusterBytes();
  std::vector<FatEntryBytes> root;
  // A directory whose chain runs in a circle, with no end entry in either cluster.
  root.push_back(ShortEntry("LOOP       ", kDirectory, 100, 0));
  b.SetFat(100, 101);
  b.SetFat(101, 100);
  b.WriteDotEntries(100, 0);
  FillWithLiveEntries(b, 100, 2, 'A');
  b.WriteEntries(101, 0, {ShortEntry("INLOOP  TXT", kArchive, 0, 0, true)});
  FillWithLiveEntries(b, 101, 1, 'B');
  // A folder whose child names its parent and itself as subfolders.
  root.push_back(ShortEntry("BACK       ", kDirectory, 110, 0));
  b.Chain({110});
  b.WriteDotEntries(110, 0);
  b.WriteEntries(110, 2, {ShortEntry("CHILD      ", kDirectory, 111, 0), ShortEntry("X       TXT", kArchive, 0, 0, true)});
  b.Chain({111});
  b.WriteDotEntries(111, 110);
  b.WriteEntries(111, 2,
                 {ShortEntry("BACK2      ", kDirectory, 110, 0), ShortEntry("SELF       ", kDirectory, 111, 0),
                  ShortEntry("UPROOT     ", kDirectory, 0, 0), ShortEntry("GRAND      ", kDirectory, 112, 0),
                  ShortEntry("Y       TXT", kArchive, 0, 0, true)});
  b.Chain({112});
  b.WriteDotEntries(112, 111);
  b.WriteEntries(112, 2, {ShortEntry("Z       TXT", kArchive, 0, 0, true)});
  // Deleted folder entries naming clusters that directories in use hold now:
  // one of a live folder, one of a folder that lies elsewhere (its ".." says so).
  root.push_back(ShortEntry("NEW        ", kDirectory, 130, 0));
  root.push_back(ShortEntry("OLD        ", kDirectory, 130, 0, true));
  b.Chain({130});
  b.WriteDotEntries(130, 0);
  b.WriteEntries(130, 2, {ShortEntry("KEEP    TXT", kArchive, 0, 0), ShortEntry("GONE    TXT", kArchive, 0, 0, true)});
  root.push_back(ShortEntry("STALE      ", kDirectory, 112, 0, true));
  // A long-name run longer than any name: the 8.3 name is used.
  auto run = LongNameEntries(std::u16string(255, u'n'), true);
  run.push_back(run.back());
  for (auto& e : run) root.push_back(e);
  root.push_back(ShortEntry("LONGNAMETXT", kArchive, 0, 0, true));
  // A deleted file whose clusters now form a circle in the FAT.
  root.push_back(ShortEntry("CYCLE   BIN", kArchive, 120, 4 * cb, true));
  b.SetFat(120, 121);
  b.SetFat(121, 120);
  b.Write(120, 0, PatternBytes(cb, 120));
  b.Write(121, 0, PatternBytes(cb, 121));
  b.WriteEntries(0, 0, root);
  OpenAndScan(b);

  const auto top = List(nullptr, 0);
  EXPECT_EQ(Names(top), (std::set<std::string>{"loop", "back", "new", "!ongname.txt", "!ycle.bin"}));
  const ScanLogRecord* fresh = Find(top, "new");
  ASSERT_TRUE(fresh);
  EXPECT_EQ(fresh->FolderDeleted, 0u) << "a live folder is not taken for the deleted one that had its cluster";
  EXPECT_EQ(Names(List(fresh, 1)), std::set<std::string>{"!one.txt"});
  const ScanLogRecord* loop = Find(top, "loop");
  const ScanLogRecord* back = Find(top, "back");
  ASSERT_TRUE(loop && back);
  EXPECT_EQ(Names(List(loop, 1)), std::set<std::string>{"!nloop.txt"});
  const auto backItems = List(back, 1);
  EXPECT_EQ(Names(backItems), (std::set<std::string>{"!.txt", "child"}));
  const ScanLogRecord* child = Find(backItems, "child");
  ASSERT_TRUE(child);
  const auto childItems = List(child, 2);
  EXPECT_EQ(Names(childItems), (std::set<std::string>{"!.txt", "grand"}));
  const ScanLogRecord* grand = Find(childItems, "grand");
  ASSERT_TRUE(grand);
  EXPECT_EQ(Names(List(grand, 3)), std::set<std::string>{"!.txt"}) << "not taken by the stale deleted entry";

  const ScanLogRecord* cycle = Find(top, "!ycle.bin");
  ASSERT_TRUE(cycle);
  ASSERT_EQ(engine.RecoverItem(*cycle, dir / "cycle.bin", 0), kSuccess);
  EXPECT_EQ(test::ReadFile(dir / "cycle.bin").size(), 4 * cb) << "the copy stops at the file's size";
}

TEST_F(FastFatRecoveryTest, DeletedChainMeetingAClusterInUseGoesOnAtTheNextFreeOne) {
  FatImageBuilder b(SpecFor(FatType::Fat16));
  const uint32_t cb = b.Geometry().ClusterBytes();
  // The deleted file had clusters 200, 201, 202; 201 was taken by a live file
  // since, so the file is read from 200, 202 and 203.
  b.WriteEntries(0, 0, {ShortEntry("TAKEN   TXT", kArchive, 201, cb), ShortEntry("SPLIT   BIN", kArchive, 200, 3 * cb, true)});
  b.Chain({201});
  for (uint32_t c = 200; c <= 203; ++c) b.Write(c, 0, PatternBytes(cb, c));
  OpenAndScan(b);
  const auto top = List(nullptr, 0);
  ASSERT_EQ(top.size(), 1u);
  ASSERT_EQ(engine.RecoverItem(top.front(), dir / "split.bin", 0), kSuccess);
  std::vector<uint8_t> expected;
  for (uint32_t c : {200u, 202u, 203u}) {
    auto part = PatternBytes(cb, c);
    expected.insert(expected.end(), part.begin(), part.end());
  }
  EXPECT_EQ(test::ReadFile(dir / "split.bin"), expected);
}

TEST_F(FastFatRecoveryTest, RecoveryReportsFailuresAndStops) {
  MixedVolume v(FatType::Fat16);
  OpenAndScan(v.b);
  const auto root = List(nullptr, 0);
  const ScanLogRecord* quarterly = Find(root, "Quarterly report 2019.docx");
  ASSERT_TRUE(quarterly);

  std::vector<ResultCode> finals;
  int calls = 0;
  ResultCode answer = 0;
  engine.SetCallbacks(nullptr,
                      [&](int32_t percent, int32_t, ResultCode error, const std::string&) {
                        ++calls;
                        if (percent == 100) finals.push_back(error);
                        return answer;
                      },
                      100);
  // A cluster larger than any volume can have fails with 29 and creates nothing.
  ScanLogRecord huge = *quarterly;
  huge.ClusterBytes = kMaxClusterBytes + 512;
  EXPECT_EQ(engine.RecoverItem(huge, dir / "huge.docx", 0), kWriteFault);
  EXPECT_FALSE(std::filesystem::exists(dir / "huge.docx"));
  EXPECT_EQ(finals, std::vector<ResultCode>{kWriteFault});

  // A record of another engine, or of data outside the volume, is refused.
  ScanLogRecord other = *quarterly;
  other.EngineCode = kEngineFastNtfs;
  EXPECT_EQ(engine.RecoverItem(other, dir / "other.docx", 0), kInvalidParameter);
  ScanLogRecord outside = *quarterly;
  outside.ItemId = engine.Geometry().MaxCluster() + 1;
  EXPECT_EQ(engine.RecoverItem(outside, dir / "outside.docx", 0), kInvalidParameter);
  ScanLogRecord tooLarge = *quarterly;
  tooLarge.FileSize = 0xFFFFFFFF;  // more than the volume holds
  EXPECT_EQ(engine.RecoverItem(tooLarge, dir / "large.docx", 0), kInvalidParameter);

  // Stopping after the first cluster ends the copy with the stop code.
  finals.clear();
  calls = 0;
  answer = kScanStopCode;
  EXPECT_EQ(engine.RecoverItem(*quarterly, dir / "stopped.docx", 0), kScanStopCode);
  EXPECT_EQ(calls, 1);
  EXPECT_TRUE(finals.empty());
}

TEST_F(FastFatRecoveryTest, ProgressOfTheScanAndItsStop) {
  MixedVolume v(FatType::Fat12);
  std::vector<std::pair<int32_t, int32_t>> reports;
  engine.SetCallbacks(
      [&](int32_t percent, int32_t scale, int32_t secondsLeft, uint64_t, uint64_t, uint64_t) {
        EXPECT_EQ(scale, 100);
        reports.push_back({percent, secondsLeft});
        return 0;
      },
      nullptr, 100);
  OpenAndScan(v.b);
  EXPECT_EQ(reports, (std::vector<std::pair<int32_t, int32_t>>{{1, -1}, {80, 10}, {100, 0}}));

  CFastFatRecovery stopped;
  stopped.SetCallbacks([](int32_t, int32_t, int32_t, uint64_t, uint64_t, uint64_t) { return kScanStopCode; }, nullptr,
                       100);
  ASSERT_EQ(stopped.OpenImage(dir / "volume.img", 1), kSuccess);
  EXPECT_EQ(stopped.Scan(""), kScanStopCode);
}

TEST_F(FastFatRecoveryTest, ReopenedLogAnswersLikeTheScan) {
  MixedVolume v(FatType::Fat16);
  OpenAndScan(v.b);
  const auto before = Names(List(nullptr, 0));
  std::filesystem::path logPath;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(data.Root()))
    if (entry.path().filename().string().starts_with("Fast_0_") &&
        entry.path().filename().string().find('_', 7) == std::string::npos)
      logPath = entry.path();
  ASSERT_FALSE(logPath.empty());

  CFastFatRecovery reopened;
  ASSERT_EQ(reopened.OpenImage(dir / "volume.img", 7), kSuccess);
  ASSERT_EQ(reopened.Scan(logPath.filename().string()), kSuccess);
  EXPECT_EQ(reopened.GetRecordCount(), engine.GetRecordCount());
  std::vector<ScanLogRecord> after;
  ASSERT_EQ(reopened.QueryFolder(nullptr, 0, after), kSuccess);
  EXPECT_EQ(Names(after), before);
  EXPECT_EQ(reopened.QueryFolder(nullptr, 1, after), kInvalidParameter);

  // Scanning again in the same scan folder starts over rather than adding to that log.
  ASSERT_EQ(engine.Scan(""), kSuccess);
  EXPECT_EQ(engine.GetRecordCount(), reopened.GetRecordCount());
  EXPECT_EQ(List(nullptr, 0).size(), after.size());
}

TEST_F(FastFatRecoveryTest, PreviewReadsIntoMemoryOrATemporaryFile) {
  MixedVolume v(FatType::Fat16);
  OpenAndScan(v.b);
  const auto root = List(nullptr, 0);
  const ScanLogRecord* document = Find(root, "!eport.doc");
  const ScanLogRecord* live = Find(root, "live");
  ASSERT_TRUE(document && live);

  std::string path;
  std::vector<uint8_t> buffer(4096);
  uint32_t size = static_cast<uint32_t>(buffer.size());
  std::vector<int32_t> percents;
  auto progress = [&](int32_t percent, ResultCode error) {
    EXPECT_EQ(error, kSuccess);
    percents.push_back(percent);
    return 0;
  };
  ASSERT_EQ(engine.ReadItemData(*document, path, buffer, size, progress), kSuccess);
  EXPECT_EQ(path, data.Root() + "/!eport.doc") << "documents are previewed from a copy under their name";
  EXPECT_EQ(test::ReadFile(path), v.files["!eport.doc"]);
  EXPECT_EQ(percents.back(), 100);

  // A text file comes into the buffer, cut at its size.
  const auto liveItems = List(live, 1);
  ASSERT_EQ(liveItems.size(), 1u);
  std::vector<uint8_t> small(40);
  size = static_cast<uint32_t>(small.size());
  ASSERT_EQ(engine.ReadItemData(liveItems.front(), path, small, size, nullptr), kSuccess);
  EXPECT_TRUE(path.empty());
  EXPECT_EQ(size, 40u);
  EXPECT_EQ(small, std::vector<uint8_t>(v.files["!one.txt"].begin(), v.files["!one.txt"].begin() + 40));
}

TEST_F(FastFatRecoveryTest, FreeRunsComeFromTheFat) {
  MixedVolume v(FatType::Fat16);
  v.b.Save(dir / "volume.img");
  ASSERT_EQ(engine.OpenImage(dir / "volume.img", 1), kSuccess);
  ASSERT_EQ(engine.LoadAllocationBitmap(), kSuccess);
  const auto& g = engine.Geometry();
  // Clusters 2..9 are free; cluster 30 (the live folder) is the first in use after 10.
  uint64_t sector = 0, count = 0;
  engine.FindFreeRun(sector, count);
  EXPECT_EQ(sector, g.firstDataSector);
  EXPECT_EQ(count, uint64_t{30 - 2} * g.sectorsPerCluster);
  sector = g.ClusterSector(30);
  engine.FindFreeRun(sector, count);
  EXPECT_EQ(sector, g.ClusterSector(31));
}

TEST_F(FastFatRecoveryTest, FreeRunsOfAVolumeWithLargeSectorsAreCountedInTheImagesSectors) {
  FatImageSpec spec;
  spec.bytesPerSector = 4096;
  spec.sectorsPerCluster = 1;
  spec.totalSectors = 4300;
  spec.reservedSectors = 1;
  FatImageBuilder b(spec);
  b.Chain({2, 3});
  b.Chain({10});
  b.WriteEntries(0, 0, {ShortEntry("GONE    BIN", kArchive, 4, 5000, true)});
  b.Write(4, 0, PatternBytes(4096, 4));
  b.Write(5, 0, PatternBytes(904, 5));
  b.Save(dir / "volume.img");
  ASSERT_EQ(engine.OpenImage(dir / "volume.img", 1), kSuccess);
  ASSERT_EQ(engine.LoadAllocationBitmap(), kSuccess);
  const uint64_t perSector = 4096 / 512;
  const uint64_t data = engine.Geometry().firstDataSector * perSector;
  uint64_t sector = 0, count = 0;
  engine.FindFreeRun(sector, count);
  EXPECT_EQ(sector, data + 2 * perSector) << "cluster 4, in 512-byte sectors";
  EXPECT_EQ(count, 6 * perSector) << "clusters 4 to 9";
  sector = data + 2 * perSector + 3;  // inside the run: stays where it is
  engine.FindFreeRun(sector, count);
  EXPECT_EQ(sector, data + 2 * perSector + 3);
  EXPECT_EQ(count, 6 * perSector - 3);

  ASSERT_EQ(engine.Scan(""), kSuccess);
  const auto root = List(nullptr, 0);
  ASSERT_EQ(root.size(), 1u);
  ASSERT_EQ(engine.RecoverItem(root.front(), dir / "gone.bin", 0), kSuccess);
  auto expected = PatternBytes(4096, 4);
  auto tail = PatternBytes(904, 5);
  expected.insert(expected.end(), tail.begin(), tail.end());
  EXPECT_EQ(test::ReadFile(dir / "gone.bin"), expected);
}

TEST_F(FastFatRecoveryTest, AnEngineThatDidNotOpenFailsItsScan) {
  test::WriteFile(dir / "garbage.img", std::vector<uint8_t>(64 * 1024, 0x11));
  EXPECT_NE(engine.OpenImage(dir / "garbage.img", 1), kSuccess);
  EXPECT_NE(engine.Scan(""), kSuccess);
  EXPECT_NE(engine.OpenImage(dir / "missing.img", 1), kSuccess);
}

// An unreadable directory ends only that directory; an unreadable data
// cluster fails only that file, with the read error.
TEST_F(FastFatRecoveryTest, ReadErrorsEndOnlyWhatTheyTouch) {
  MixedVolume v(FatType::Fat16);
  v.b.Save(dir / "volume.img");
  const auto& g = v.b.Geometry();
  const uint64_t clusterBytes = g.ClusterBytes();
  auto clusterOffset = [&](uint32_t c) { return g.ClusterSector(c) * g.bytesPerSector; };
  AddReadFault(dir / "volume.img", clusterOffset(30), clusterOffset(30) + 512);  // the live folder
  AddReadFault(dir / "volume.img", clusterOffset(21), clusterOffset(21) + 512);  // second cluster of a file
  struct ClearFaults {
    ~ClearFaults() { ClearReadFaults(); }
  } clearFaults;
  ASSERT_EQ(engine.OpenImage(dir / "volume.img", 7), kSuccess);
  ASSERT_EQ(engine.Scan(""), kSuccess);
  const auto root = List(nullptr, 0);
  EXPECT_EQ(Names(root), (std::set<std::string>{"!eport.doc", "Quarterly report 2019.docx", "!mpty.txt", "Old Tree",
                                                 "big"}));

  std::vector<ResultCode> finals;
  engine.SetCallbacks(nullptr,
                      [&](int32_t percent, int32_t, ResultCode error, const std::string&) {
                        if (percent == 100) finals.push_back(error);
                        return 0;
                      },
                      100);
  const ScanLogRecord* quarterly = Find(root, "Quarterly report 2019.docx");
  ASSERT_TRUE(quarterly);
  EXPECT_EQ(engine.RecoverItem(*quarterly, dir / "q.docx", 0), kReadFault);
  EXPECT_EQ(finals, std::vector<ResultCode>{kReadFault});
  EXPECT_EQ(test::ReadFile(dir / "q.docx").size(), clusterBytes) << "written as far as it could be read";
  const ScanLogRecord* report = Find(root, "!eport.doc");
  ASSERT_TRUE(report);
  EXPECT_EQ(engine.RecoverItem(*report, dir / "r.doc", 0), kSuccess);
}

// Damaged metadata in every place a volume can have it: each scan ends, and so
// does the recovery of everything it found. Run under the sanitizers too.
TEST_F(FastFatRecoveryTest, RandomlyDamagedVolumesAreWalkedToTheirEnd) {
  for (FatType type : {FatType::Fat12, FatType::Fat32}) {
    MixedVolume v(type);
    const std::string image = dir / "damaged.img";
    v.b.Save(image);
    const auto& g = v.b.Geometry();
    // The boot sector stays; the FATs, directories and the first data clusters are damaged.
    const uint64_t start = uint64_t{g.reservedSectors} * g.bytesPerSector;
    const uint64_t end = g.ClusterSector(100) * g.bytesPerSector;
    const auto clean = v.b.ReadAt(start, static_cast<size_t>(end - start));
    uint32_t seed = 12345;
    auto next = [&seed] { return seed = seed * 1103515245u + 12345u, seed >> 8; };
    for (int round = 0; round < 40; ++round) {
      auto damaged = clean;
      for (int i = 0; i < 200; ++i) damaged[next() % damaged.size()] = static_cast<uint8_t>(next());
      {
        FileHandle file;
        ASSERT_EQ(OpenFile(image, OpenMode::ReadWrite, file), kSuccess);
        ASSERT_EQ(file.WriteAt(damaged.data(), damaged.size(), start), static_cast<ssize_t>(damaged.size()));
      }
      CFastFatRecovery scan;
      ASSERT_EQ(scan.OpenImage(image, 1), kSuccess);
      ASSERT_EQ(scan.Scan(""), kSuccess);
      std::vector<ScanLogRecord> root;
      scan.QueryFolder(nullptr, 0, root);
      const std::string out = dir / ("out" + std::to_string(round));
      for (const auto& r : root) scan.RecoverItem(r, out + "/" + std::to_string(r.RecordNumber), 0);
      std::filesystem::remove_all(out);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(AllFatTypes, MixedVolumeTest,
                         ::testing::Values(FatType::Fat12, FatType::Fat16, FatType::Fat32),
                         [](const auto& info) {
                           switch (info.param) {
                             case FatType::Fat12: return std::string("Fat12");
                             case FatType::Fat16: return std::string("Fat16");
                             case FatType::Fat32: return std::string("Fat32");
                           }
                           return std::string();
                         });

}  // namespace
}  // namespace selvane
