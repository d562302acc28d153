#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <set>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "results/categories.h"
#include "results/scan_history.h"
#include "results/scan_log.h"
#include "results/selected_types.h"
#include "support/data_dir.h"

namespace selvane {
namespace {

namespace fs = std::filesystem;

constexpr FolderKey kRootKey = MakeFolderKey(0, 5);

class ScanLogTest : public ::testing::Test {
 protected:
  // Appends a record and links it under parent; folders get a _DirInfo entry.
  uint32_t Add(CScanLog& log, FolderKey parent, const std::string& name, bool folder = false, uint32_t itemId = 0,
               uint32_t intact = 1) {
    ScanLogRecord& r = log.NewRecord();
    r.IsFolder = folder ? 1 : 0;
    r.Intact = intact;
    r.ItemId = itemId;
    r.SetName(name);
    uint32_t number = r.RecordNumber;
    log.LinkRecord(parent, number, itemId, folder ? name.c_str() : nullptr);
    return number;
  }

  static std::vector<std::string> Names(const std::vector<ScanLogRecord>& records) {
    std::vector<std::string> names;
    for (const auto& r : records) names.emplace_back(r.NameView());
    return names;
  }

  static std::string Text(const std::string& path) {
    auto bytes = test::ReadFile(path);
    return std::string(bytes.begin(), bytes.end());
  }

  test::DataDirScope data_;
};

TEST_F(ScanLogTest, RecordsAreNumberedFromOneAndWrittenInBlocksOf200) {
  CScanLog log;
  ASSERT_EQ(log.OpenLog("Fast_0_2026121095"), kSuccess);
  EXPECT_EQ(log.MainPath(), CScanHistory::Instance().GetScanFolder() + "Fast_0_2026121095");

  for (int i = 1; i <= 200; ++i) {
    ScanLogRecord& r = log.NewRecord();
    EXPECT_EQ(r.RecordNumber, static_cast<uint32_t>(i));
    r.SetName("f" + std::to_string(i));
  }
  EXPECT_EQ(fs::file_size(log.MainPath()), 0u) << "200 records still fit the buffer";
  log.NewRecord().SetName("f201");
  EXPECT_EQ(fs::file_size(log.MainPath()), 200 * kScanLogRecordSize) << "record 201 wrote the full buffer";

  ScanLogRecord r;
  ASSERT_EQ(log.ReadRecord(201, r), kSuccess) << "a buffered record is readable";
  EXPECT_EQ(r.NameView(), "f201");
  ASSERT_EQ(log.FlushLog(), kSuccess);
  EXPECT_EQ(fs::file_size(log.MainPath()), 201 * kScanLogRecordSize);

  auto bytes = test::ReadFile(log.MainPath());
  ScanLogRecord first = DecodeRecord(std::span<const uint8_t, kScanLogRecordSize>(bytes.data(), kScanLogRecordSize));
  EXPECT_EQ(first.RecordNumber, 1u) << "record 1 lies at offset 0";
  EXPECT_EQ(first.NameView(), "f1");
  EXPECT_EQ(log.ReadRecord(0, r), kInvalidParameter);
  EXPECT_EQ(log.ReadRecord(202, r), kInvalidParameter);
}

TEST_F(ScanLogTest, LogNamesCarryTheStartSectorAndABlankPaddedMinute) {
  std::tm at{};
  at.tm_year = 2026 - 1900;
  at.tm_mon = 11;
  at.tm_mday = 10;
  at.tm_hour = 9;
  at.tm_min = 5;
  EXPECT_EQ(MakeLogName(kFastLogPrefix, 2048, at), "Fast_2048_202612109 5");
  at.tm_min = 45;
  EXPECT_EQ(MakeLogName(kProNtfsLogPrefix, 0, at), "Pro_Ntfs_0_20261210945");
  EXPECT_EQ(MakeLogName(kCarvingLogPrefix, -1, at).substr(0, 13), "File_Type_-1_");
  EXPECT_EQ(MakeLogName(kFastLogPrefix, 0).substr(0, 7), "Fast_0_");
}

TEST_F(ScanLogTest, RelationFileIsTheExactText) {
  CScanLog log;
  ASSERT_EQ(log.OpenLog("log"), kSuccess);
  for (int i = 0; i < 5; ++i) log.NewRecord();
  EXPECT_EQ(MakeFolderKey(1, 2), 4294967298u);
  for (uint32_t n : {1u, 2u}) log.LinkRecord(0, n, 0, nullptr);
  for (uint32_t n : {3u, 4u}) log.LinkRecord(MakeFolderKey(1, 2), n, 0, nullptr);
  log.LinkRecord(0, 5, 0, nullptr);
  ASSERT_EQ(log.FlushLog(), kSuccess);
  EXPECT_EQ(Text(log.MainPath() + "_Relation"), " | 0 - [1,2,5] | 4294967298 - [3,4]");
}

TEST_F(ScanLogTest, DirInfoEntriesAre268BytesWithTheNameCutAtACharacterBoundary) {
  CScanLog log;
  ASSERT_EQ(log.OpenLog("log"), kSuccess);
  std::string longName = std::string(258, 'd') + "\xC3\xA9";  // 260 bytes: the last character does not fit
  Add(log, kRootKey, "Photos", true, 0x1234);
  Add(log, kRootKey, longName, true, 7);
  ASSERT_EQ(log.FlushLog(), kSuccess);
  auto bytes = test::ReadFile(log.MainPath() + "_DirInfo");
  ASSERT_EQ(bytes.size(), 2 * kDirInfoEntrySize);
  EXPECT_EQ(bytes[0], 0x34);
  EXPECT_EQ(bytes[1], 0x12);
  EXPECT_EQ(bytes[4], 1) << "record number";
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&bytes[8])), "Photos");
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&bytes[kDirInfoEntrySize + 8])), std::string(258, 'd'));
}

TEST(RelationText, DamagedTextsKeepWhatIsWhole) {
  struct Case {
    const char* text;
    RelationMap expected;
  };
  const Case cases[] = {
      {"", {}},
      {"no items here", {}},
      {" | 0 - [1,2,5] | 4294967298 - [3,4]", {{0, {1, 2, 5}}, {4294967298u, {3, 4}}}},
      {" | 7 - [1] | 7 - [2,3]", {{7, {2, 3}}}},                  // a repeated key keeps the later list
      {" | 7 - [1,2] | 8 - [3,4", {{7, {1, 2}}}},                 // a cut item at the end
      {" | 7 - []", {}},                                          // lists are never empty
      {" | 7 - [1,,2]", {{7, {1, 2}}}},
      {" | 7 - [-1]", {{7, {0xFFFFFFFFu}}}},
      {" | 18446744073709551615 - [4294967297]", {{UINT64_MAX, {1}}}},  // numbers keep their low 32 bits
      {" | x - [1] | 9", {{0, {1}}}},
  };
  for (const Case& c : cases) {
    RelationMap parsed;
    ParseRelationText(c.text, parsed);
    EXPECT_EQ(parsed, c.expected) << c.text;
  }
  RelationMap map{{0, {1, 2, 5}}, {MakeFolderKey(1, 2), {3, 4}}};
  RelationMap again;
  ParseRelationText(FormatRelationText(map), again);
  EXPECT_EQ(again, map);
}

TEST_F(ScanLogTest, EmptyLogsAndUnknownKeysListNothing) {
  CScanLog log;
  ASSERT_EQ(log.OpenLog("log"), kSuccess);
  std::vector<ScanLogRecord> out;
  EXPECT_EQ(log.ListFolder(0, out), kSuccess);
  EXPECT_TRUE(out.empty());
  uint32_t count = 9;
  EXPECT_EQ(log.CountFilesBelow(0, count), kSuccess);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(log.ListCategory(std::string(kPictureList), out), kSuccess);
  EXPECT_TRUE(out.empty());

  Add(log, kRootKey, "a.txt");
  ASSERT_EQ(log.FlushLog(), kSuccess);
  std::string before = Text(log.MainPath() + "_Relation");
  EXPECT_EQ(log.ListFolder(MakeFolderKey(3, 99), out), kSuccess);
  EXPECT_TRUE(out.empty());
  EXPECT_EQ(log.Relation().size(), 1u) << "a lookup adds no key";
  ASSERT_EQ(log.FlushLog(), kSuccess);
  EXPECT_EQ(Text(log.MainPath() + "_Relation"), before);
}

TEST_F(ScanLogTest, FolderListingsPutFilesFirstAndSortNamesIgnoringCase) {
  CScanLog log;
  ASSERT_EQ(log.OpenLog("log"), kSuccess);
  Add(log, kRootKey, "zeta", true, 30);
  Add(log, kRootKey, "b.txt");
  Add(log, kRootKey, "Alpha", true, 31);
  Add(log, kRootKey, "C.txt");
  Add(log, kRootKey, "a.txt");
  std::vector<ScanLogRecord> out;
  ASSERT_EQ(log.ListFolder(0, out), kSuccess) << "key 0 is the smallest key, the root";
  EXPECT_EQ(Names(out), (std::vector<std::string>{"a.txt", "b.txt", "C.txt", "Alpha", "zeta"}));
}

TEST_F(ScanLogTest, DamagedPicturesAreHiddenButCounted) {
  struct Case {
    const char* name;
    uint32_t intact;
    bool listed;
  };
  const Case cases[] = {
      {"IMG_1.JPG", 0, false}, {"IMG_1.JPG", 1, true}, {"shot.jp", 0, false},  // "jp" is a leading part of "jpg"
      {"notes.txt", 0, true},  {"readme", 0, true},    {"odd.", 0, true},
  };
  for (const Case& c : cases) {
    CScanLog log;
    ASSERT_EQ(log.OpenLog("log"), kSuccess);
    uint32_t folder = Add(log, kRootKey, "DCIM", true, 40);
    (void)folder;
    Add(log, MakeFolderKey(1, 40), c.name, false, 0, c.intact);
    std::vector<ScanLogRecord> inFolder, inCategory;
    ASSERT_EQ(log.ListFolder(MakeFolderKey(1, 40), inFolder), kSuccess);
    ASSERT_EQ(log.ListCategory(std::string(kPictureList) + "|.other|" + std::string(kDocumentList), inCategory),
              kSuccess);
    uint32_t count = 0;
    ASSERT_EQ(log.CountFilesBelow(0, count), kSuccess);
    EXPECT_EQ(inFolder.size(), c.listed ? 1u : 0u) << c.name << " intact " << c.intact;
    EXPECT_EQ(inCategory.size(), c.listed ? 1u : 0u) << c.name << " intact " << c.intact;
    EXPECT_EQ(count, 1u) << c.name;
    log.CloseLog();
    fs::remove_all(CScanHistory::Instance().GetScanFolder());
  }
}

TEST_F(ScanLogTest, CategoriesMatchExtensionsBySubstring) {
  CScanLog log;
  ASSERT_EQ(log.OpenLog("log"), kSuccess);
  for (const char* name : {"readme", "a.xyz", "a.jp", "IMG.JPG", "song.mp3", "movie.rmvb", "b.OTHER"})
    Add(log, kRootKey, name);
  Add(log, kRootKey, "photos.jpg", true, 50);  // folders are never listed

  SelectedTypes other;
  RegisterTypeOption(other, TypeOptions().back());
  struct Case {
    std::string filter;
    std::set<std::string> expected;
  };
  const Case cases[] = {
      {std::string(kPictureList), {"a.jp", "IMG.JPG"}},
      {".other", {"readme", "a.xyz", "b.OTHER"}},
      {PatternToFilter(BuildCategoryFilter(other)), {"readme", "a.xyz", "b.OTHER"}},
      {PatternToFilter("*.jpg|*.mp3"), {"a.jp", "IMG.JPG", "song.mp3"}},
      {std::string(AllCategoriesFilter()), {"a.jp", "IMG.JPG", "song.mp3", "movie.rmvb"}},
      {"*.JPG", {}},  // the filter is taken as given: extensions are lowered, the filter is not
  };
  for (const Case& c : cases) {
    std::vector<ScanLogRecord> out;
    ASSERT_EQ(log.ListCategory(c.filter, out), kSuccess);
    auto names = Names(out);
    EXPECT_EQ(std::set<std::string>(names.begin(), names.end()), c.expected) << c.filter;
    EXPECT_EQ(names.size(), c.expected.size());
  }
}

TEST_F(ScanLogTest, ManyDistinctExtensionsAreEachTestedRightly) {
  CScanLog log;
  ASSERT_EQ(log.OpenLog("log"), kSuccess);
  for (int i = 0; i < 6000; ++i) Add(log, kRootKey, "x.q" + std::to_string(i));
  std::vector<ScanLogRecord> out;
  ASSERT_EQ(log.ListCategory("*.q17|*.other", out), kSuccess);
  EXPECT_EQ(out.size(), 6000u);
  out.clear();
  ASSERT_EQ(log.ListCategory("*.q17|*.q5999", out), kSuccess);
  EXPECT_EQ(Names(out), (std::vector<std::string>{"x.q1", "x.q17", "x.q5", "x.q59", "x.q599", "x.q5999"}));
}

TEST_F(ScanLogTest, LogsOf128MiBOrMoreListNoOtherFiles) {
  std::string path;
  {
    CScanLog log;
    ASSERT_EQ(log.OpenLog("big"), kSuccess);
    Add(log, kRootKey, "a.xyz");
    Add(log, kRootKey, "b.jpg");
    std::vector<ScanLogRecord> out;
    ASSERT_EQ(log.ListCategory(".other", out), kSuccess);
    EXPECT_EQ(Names(out), std::vector<std::string>{"a.xyz"});
    path = log.MainPath();
  }
  fs::resize_file(path, 128ull << 20);  // sparse: the records past the first two are zeros
  CScanLog log;
  ASSERT_EQ(log.OpenLog("big"), kSuccess);
  std::vector<ScanLogRecord> out;
  ASSERT_EQ(log.ListCategory(".other", out), kSuccess);
  EXPECT_TRUE(out.empty());
  ASSERT_EQ(log.ListCategory(std::string(kPictureList), out), kSuccess);
  EXPECT_EQ(Names(out), std::vector<std::string>{"b.jpg"});
}

TEST_F(ScanLogTest, ProgressCallbackStopsTheSearchAfterABlock) {
  CScanLog log;
  ASSERT_EQ(log.OpenLog("log"), kSuccess);
  for (int i = 0; i < 450; ++i) Add(log, kRootKey, "p" + std::to_string(i) + ".jpg");
  std::vector<int32_t> reports;
  log.SetQueryProgress([&](int32_t percent) {
    reports.push_back(percent);
    return kScanStopCode;
  });
  std::vector<ScanLogRecord> out;
  EXPECT_EQ(log.ListCategory(std::string(kPictureList), out), kScanStopCode);
  EXPECT_EQ(reports, std::vector<int32_t>{44});  // 200 of 450 records
  EXPECT_EQ(out.size(), 200u);

  reports.clear();
  log.SetQueryProgress([&](int32_t percent) {
    reports.push_back(percent);
    return 0;
  });
  out.clear();
  EXPECT_EQ(log.ListCategory(std::string(kPictureList), out), kSuccess);
  EXPECT_EQ(reports, (std::vector<int32_t>{44, 88, 100}));
  EXPECT_EQ(out.size(), 450u);
}

TEST_F(ScanLogTest, ReopeningWithoutNewRecordsLeavesTheFilesUnchanged) {
  std::string path;
  {
    CScanLog log;
    ASSERT_EQ(log.OpenLog("Pro_Fat_0_x"), kSuccess);
    Add(log, kRootKey, "Photos", true, 10);
    Add(log, MakeFolderKey(1, 10), "2019", true, 11);
    Add(log, MakeFolderKey(2, 11), "a.jpg");
    Add(log, kRootKey, "b.txt");
    path = log.MainPath();
    log.CloseLog();
  }
  std::vector<std::vector<uint8_t>> before;
  for (const char* suffix : {"", "_Relation", "_DirInfo"}) before.push_back(test::ReadFile(path + suffix));
  {
    CScanLog log;
    ASSERT_EQ(log.OpenLog("Pro_Fat_0_x"), kSuccess);
    EXPECT_EQ(log.RecordCount(), 4u);
    EXPECT_EQ(log.Relation().size(), 3u);
    EXPECT_EQ(log.FolderIndex().size(), 2u);
    std::vector<ScanLogRecord> out;
    EXPECT_EQ(log.ListFolder(MakeFolderKey(2, 11), out), kSuccess);
    EXPECT_EQ(Names(out), std::vector<std::string>{"a.jpg"});
    EXPECT_EQ(log.FlushLog(), kSuccess);
  }
  int i = 0;
  for (const char* suffix : {"", "_Relation", "_DirInfo"})
    EXPECT_EQ(test::ReadFile(path + suffix), before[i++]) << "file" << suffix;
}

TEST_F(ScanLogTest, ReopeningContinuesTheNumberingAfterTheRecordsInTheFile) {
  std::string path;
  {
    CScanLog log;
    ASSERT_EQ(log.OpenLog("log"), kSuccess);
    for (const char* name : {"a", "b", "c"}) Add(log, kRootKey, name);
    path = log.MainPath();
  }
  // A torn write left part of a fourth record behind.
  {
    FileHandle file;
    ASSERT_EQ(OpenFile(path, OpenMode::ReadWrite, file), kSuccess);
    std::vector<uint8_t> junk(100, 0xAB);
    ASSERT_EQ(file.WriteAt(junk.data(), junk.size(), 3 * kScanLogRecordSize), 100);
  }
  CScanLog log;
  ASSERT_EQ(log.OpenLog("log"), kSuccess);
  EXPECT_EQ(log.RecordCount(), 3u);
  EXPECT_EQ(Add(log, kRootKey, "d"), 4u);
  ASSERT_EQ(log.FlushLog(), kSuccess);
  EXPECT_EQ(fs::file_size(path), 4 * kScanLogRecordSize);
  ScanLogRecord r;
  ASSERT_EQ(log.ReadRecord(4, r), kSuccess);
  EXPECT_EQ(r.NameView(), "d");
  std::vector<ScanLogRecord> out;
  ASSERT_EQ(log.ListFolder(0, out), kSuccess);
  EXPECT_EQ(Names(out), (std::vector<std::string>{"a", "b", "c", "d"}));
}

TEST_F(ScanLogTest, RecordsPast2GiBAreReachable) {
  std::string path;
  {
    CScanLog log;
    ASSERT_EQ(log.OpenLog("huge"), kSuccess);
    path = log.MainPath();
  }
  const uint32_t number = (1u << 31) / kScanLogRecordSize + 10;  // starts past 2 GiB
  ScanLogRecord far;
  far.RecordNumber = number;
  far.SetName("far.txt");
  RecordBytes bytes;
  EncodeRecord(far, bytes);
  {
    FileHandle file;
    ASSERT_EQ(OpenFile(path, OpenMode::ReadWrite, file), kSuccess);
    ASSERT_EQ(file.WriteAt(bytes.data(), bytes.size(), uint64_t{number - 1} * kScanLogRecordSize),
              static_cast<ssize_t>(bytes.size()));
  }
  CScanLog log;
  ASSERT_EQ(log.OpenLog("huge"), kSuccess);
  EXPECT_EQ(log.RecordCount(), number);
  ScanLogRecord r;
  ASSERT_EQ(log.ReadRecord(number, r), kSuccess);
  EXPECT_EQ(r.NameView(), "far.txt");
}

TEST_F(ScanLogTest, FolderPathsAndAncestors) {
  CScanLog log;
  ASSERT_EQ(log.OpenLog("log"), kSuccess);
  uint32_t photos = Add(log, kRootKey, "Photos", true, 10);
  uint32_t year = Add(log, MakeFolderKey(1, 10), "2019", true, 11);
  uint32_t picture = Add(log, MakeFolderKey(2, 11), "a.jpg");
  uint32_t top = Add(log, kRootKey, "top.txt");
  // A folder whose _DirInfo entry is missing: found in the main file instead.
  ScanLogRecord& lost = log.NewRecord();
  lost.IsFolder = 1;
  lost.ItemId = 12;
  lost.SetName("Lost");
  uint32_t lostNumber = lost.RecordNumber;
  log.LinkRecord(kRootKey, lostNumber, 12, nullptr);
  uint32_t inLost = Add(log, MakeFolderKey(1, 12), "x.doc");

  auto pathOf = [&](uint32_t number) {
    ScanLogRecord r;
    EXPECT_EQ(log.ReadRecord(number, r), kSuccess);
    std::string path = "unset";
    EXPECT_EQ(log.GetFolderPath(r, path), kSuccess);
    return path;
  };
  EXPECT_EQ(pathOf(top), "");
  EXPECT_EQ(pathOf(photos), "");
  EXPECT_EQ(pathOf(year), "Photos/");
  EXPECT_EQ(pathOf(picture), "Photos/2019/");
  EXPECT_EQ(pathOf(inLost), "Lost/");

  ScanLogRecord r;
  ASSERT_EQ(log.ReadRecord(picture, r), kSuccess);
  std::vector<ScanLogRecord> ancestors;
  ASSERT_EQ(log.GetAncestorFolders(&r, ancestors), kSuccess);
  ASSERT_EQ(ancestors.size(), 2u);
  EXPECT_EQ(ancestors[0].RecordNumber, year) << "nearest first";
  EXPECT_EQ(ancestors[1].RecordNumber, photos);
  EXPECT_EQ(log.GetAncestorFolders(nullptr, ancestors), kInvalidParameter);

  ScanLogRecord found;
  EXPECT_EQ(log.FindFolderRecord(12, found), kSuccess);
  EXPECT_EQ(found.RecordNumber, lostNumber);
  EXPECT_EQ(log.FindFolderRecord(999, found), kInvalidParameter);
}

TEST_F(ScanLogTest, DamagedLinksCannotMakeWalksEndless) {
  CScanLog log;
  ASSERT_EQ(log.OpenLog("log"), kSuccess);
  // Folder A (id 20) holds folder B (id 21), which claims to hold A again, at every depth.
  uint32_t a = Add(log, kRootKey, "A", true, 20);
  uint32_t b = Add(log, MakeFolderKey(1, 20), "B", true, 21);
  Add(log, MakeFolderKey(1, 20), "f.txt");
  for (uint32_t depth = 1; depth < 40; ++depth) {
    log.LinkRecord(MakeFolderKey(depth, 20), b, 21, nullptr);
    log.LinkRecord(MakeFolderKey(depth, 20), b, 21, nullptr);  // linked twice: no doubling per level
    log.LinkRecord(MakeFolderKey(depth + 1, 21), a, 20, nullptr);
  }
  uint32_t count = 0;
  EXPECT_EQ(log.CountFilesBelow(0, count), kSuccess);
  EXPECT_EQ(count, 1u);

  // Folders C (id 30) and D (id 31) that hold each other and never reach the root.
  uint32_t c = Add(log, MakeFolderKey(1, 31), "C", true, 30);
  Add(log, MakeFolderKey(1, 30), "D", true, 31);
  uint32_t inC = Add(log, MakeFolderKey(2, 30), "x.txt");
  (void)c;
  ScanLogRecord r;
  ASSERT_EQ(log.ReadRecord(inC, r), kSuccess);
  std::string path;
  EXPECT_EQ(log.GetFolderPath(r, path), kSuccess);
  EXPECT_EQ(path, "D/C/");
  ASSERT_EQ(log.ReadRecord(b, r), kSuccess);
  EXPECT_EQ(log.GetFolderPath(r, path), kSuccess);
  EXPECT_EQ(path, "A/");
}

TEST_F(ScanLogTest, AFailedBufferWriteIsReportedAndLaterRecordsKeepTheirPlaces) {
  std::string path;
  {
    CScanLog log;
    ASSERT_EQ(log.OpenLog("log"), kSuccess);
    path = log.MainPath();
  }
  // In a child: the write of records 1-200 fails (file size limit 0), the
  // limit is lifted, and records 201-401 are written.
  pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    std::signal(SIGXFSZ, SIG_IGN);
    CScanLog log;
    if (log.OpenLog("log") != kSuccess) ::_exit(90);
    for (int i = 1; i <= 200; ++i) log.NewRecord().SetName("r" + std::to_string(i));
    rlimit limit{};
    ::getrlimit(RLIMIT_FSIZE, &limit);
    rlimit none = limit;
    none.rlim_cur = 0;
    ::setrlimit(RLIMIT_FSIZE, &none);
    log.NewRecord().SetName("r201");
    ::setrlimit(RLIMIT_FSIZE, &limit);
    for (int i = 202; i <= 401; ++i) log.NewRecord().SetName("r" + std::to_string(i));
    ResultCode first = log.FlushLog();
    ResultCode second = log.FlushLog();
    ::_exit(first != kSuccess && second == kSuccess ? 0 : 91);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "the failure is reported once by FlushLog";
  ASSERT_EQ(fs::file_size(path), 401 * kScanLogRecordSize);
  CScanLog log;
  ASSERT_EQ(log.OpenLog("log"), kSuccess);
  ScanLogRecord r;
  ASSERT_EQ(log.ReadRecord(201, r), kSuccess);
  EXPECT_EQ(r.NameView(), "r201");
  ASSERT_EQ(log.ReadRecord(401, r), kSuccess);
  EXPECT_EQ(r.NameView(), "r401");
  ASSERT_EQ(log.ReadRecord(5, r), kSuccess);
  EXPECT_EQ(r.NameView(), "") << "the lost block reads as empty records";
}

TEST_F(ScanLogTest, LogNamesThatAreNotPlainFileNamesAreRefused) {
  for (const char* name : {"", ".", "..", "../escape", "a/b"}) {
    CScanLog log;
    EXPECT_EQ(log.OpenLog(name), kInvalidParameter) << name;
  }
}

}  // namespace
}  // namespace selvane
