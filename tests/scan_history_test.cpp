#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "results/formatting.h"
#include "results/scan_history.h"
#include "results/scan_log.h"
#include "support/data_dir.h"

namespace selvane {
namespace {

namespace fs = std::filesystem;

class ScanHistoryTest : public ::testing::Test {
 protected:
  ScanHistoryEntry Entry(uint32_t drive, const std::string& folder, uint64_t freeBytes = 0) {
    ScanHistoryEntry e;
    e.driveNumber = drive;
    e.firstSector = 2048;
    e.sectorCount = 1 << 20;
    e.walk = {1, 2, 3, 4, 5};
    e.freeBytes = freeBytes;
    e.folder = folder;
    return e;
  }

  // Writes a history file as the program stores it.
  void WriteHistory(const std::string& path, uint64_t counter, const std::vector<ScanHistoryEntry>& entries,
                    size_t extraBytes = 0) {
    std::vector<uint8_t> bytes(8);
    for (int i = 0; i < 8; ++i) bytes[i] = static_cast<uint8_t>(counter >> (8 * i));
    for (const auto& e : entries) {
      std::array<uint8_t, kHistoryEntrySize> stored;
      EXPECT_TRUE(EncodeHistoryEntry(e, stored));
      bytes.insert(bytes.end(), stored.begin(), stored.end());
    }
    bytes.insert(bytes.end(), extraBytes, 0x5A);
    test::WriteFile(path, bytes);
  }

  std::string Folder(int n) const { return data_.Root() + "/" + std::to_string(n) + "/"; }

  void MakeFolder(int n) {
    fs::create_directories(Folder(n));
    std::ofstream(Folder(n) + "Fast_0_x") << "log";
  }

  test::DataDirScope data_;
};

TEST_F(ScanHistoryTest, FirstStartUsesFolderOneAndAgainAfterARestart) {
  CScanHistory& history = CScanHistory::Instance();
  EXPECT_EQ(history.LoadHistory(), kInvalidParameter) << "no config yet";
  EXPECT_EQ(history.Counter(), 0u);
  history.BeginNewScan();
  EXPECT_EQ(history.GetScanFolder(), Folder(1));
  MakeFolder(1);

  CScanHistory::ResetForTests();  // a restart without a remembered deep scan
  CScanHistory& again = CScanHistory::Instance();
  again.BeginNewScan();
  EXPECT_EQ(again.GetScanFolder(), Folder(1));
  EXPECT_FALSE(fs::exists(Folder(1))) << "the old content of folder 1 is deleted first";
  again.DropScanNumber();
  EXPECT_EQ(again.Counter(), 0u);
}

TEST_F(ScanHistoryTest, EntriesRoundTripThroughTheStoredBytes) {
  ScanHistoryEntry e = Entry(3, data_.Root() + "/12/", 777);
  e.imagePath = "/images/Äpfel/disk.img";
  e.imageWriteTime = 0x01D0ABCDEF012345ull;
  std::array<uint8_t, kHistoryEntrySize> bytes;
  ASSERT_TRUE(EncodeHistoryEntry(e, bytes));
  EXPECT_EQ(bytes[0], 3);
  EXPECT_EQ(bytes[8], 0x00);  // first sector 2048
  EXPECT_EQ(bytes[9], 0x08);
  EXPECT_EQ(bytes[80], '/') << "image path, UTF-16LE";
  EXPECT_EQ(bytes[81], 0);
  EXPECT_EQ(bytes[600], '/') << "folder";
  ScanHistoryEntry back = DecodeHistoryEntry(bytes);
  EXPECT_EQ(back.imagePath, e.imagePath);
  EXPECT_EQ(back.folder, e.folder);
  EXPECT_EQ(back.walk.filesFound, 5u);
  EXPECT_EQ(back.freeBytes, 777u);
  EXPECT_EQ(back.imageWriteTime, e.imageWriteTime);

  e.folder = "/" + std::string(258, 'f');  // 259 units: the longest that fits
  EXPECT_TRUE(EncodeHistoryEntry(e, bytes));
  e.folder += "f";
  EXPECT_FALSE(EncodeHistoryEntry(e, bytes));
  e.folder = "/bad\xFF/";
  EXPECT_FALSE(EncodeHistoryEntry(e, bytes)) << "not UTF-8: it would not come back the same";
}

TEST_F(ScanHistoryTest, LoadsWholeEntriesAndCompletesAnInterruptedSave) {
  struct Case {
    const char* file;  // where the history lies
    size_t extraBytes;
    size_t entries;
  };
  const Case cases[] = {{"config", 500, 3}, {"config.tmp", 0, 3}, {"config", 1119, 3}};
  for (const Case& c : cases) {
    fs::remove_all(data_.Root());
    WriteHistory(data_.Root() + "/" + c.file, 41, {Entry(1, Folder(1)), Entry(2, Folder(2)), Entry(3, Folder(3))},
                 c.extraBytes);
    CScanHistory::ResetForTests();
    CScanHistory& history = CScanHistory::Instance();
    EXPECT_EQ(history.Counter(), 41u) << c.file;
    ASSERT_EQ(history.Entries().size(), c.entries) << c.file;
    EXPECT_EQ(history.Entries()[2].driveNumber, 3u);
    EXPECT_EQ(history.Entries()[1].folder, Folder(2));
    EXPECT_TRUE(fs::exists(data_.Root() + "/config"));
    EXPECT_FALSE(fs::exists(data_.Root() + "/config.tmp"));
  }
}

TEST_F(ScanHistoryTest, AChangedSourceLosesItsEntryAndFolder) {
  test::TempDir images;
  const std::string image = images / "disk.img";
  test::WriteFile(image, std::vector<uint8_t>(4096, 1));
  struct stat st {};
  ASSERT_EQ(::stat(image.c_str(), &st), 0);
  uint64_t imageTime = UnixToFileTime(st.st_mtim.tv_sec, static_cast<uint32_t>(st.st_mtim.tv_nsec));

  struct Case {
    const char* what;
    uint64_t storedFree;       // free bytes in the entry; the source is unmounted, so it now has 0
    uint64_t storedImageTime;  // 0: a partition entry
    bool found;
  };
  const Case cases[] = {
      {"unchanged partition", 0, 0, true},
      {"partition with other free space", 4096, 0, false},
      {"unchanged image", 0, imageTime, true},
      {"image written since", 0, imageTime - 1, false},
  };
  for (const Case& c : cases) {
    ScanHistoryEntry e = Entry(1, Folder(7), c.storedFree);
    if (c.storedImageTime) {
      e.imagePath = image;
      e.imageWriteTime = c.storedImageTime;
    }
    WriteHistory(data_.Root() + "/config", 9, {Entry(4, Folder(3)), e});
    MakeFolder(7);
    CScanHistory::ResetForTests();
    CScanHistory& history = CScanHistory::Instance();
    ScanHistoryEntry out;
    int found = c.storedImageTime ? history.FindImageScan(image, out)
                                  : history.FindSourceScan(1, 2048, 1 << 20, "", out);
    EXPECT_EQ(found, c.found ? 1 : 0) << c.what;
    EXPECT_EQ(fs::exists(Folder(7)), c.found) << c.what;
    EXPECT_EQ(history.Entries().size(), c.found ? 2u : 1u) << c.what;
    EXPECT_EQ(history.GetScanFolder(), c.found ? Folder(7) : Folder(9)) << c.what;
    if (c.found) {
      EXPECT_EQ(out.walk.offsetInRun, 3u) << c.what;
    }
  }
}

TEST_F(ScanHistoryTest, APartitionIsNeverTakenForAnImageEntry) {
  ScanHistoryEntry image = Entry(1, Folder(5));
  image.imagePath = "/images/disk.img";
  WriteHistory(data_.Root() + "/config", 5, {image});
  MakeFolder(5);
  CScanHistory::ResetForTests();
  ScanHistoryEntry out;
  EXPECT_EQ(CScanHistory::Instance().FindSourceScan(1, 2048, 1 << 20, "", out), 0);
  EXPECT_TRUE(fs::exists(Folder(5)));
}

TEST_F(ScanHistoryTest, RemovingAFolderDropsEntriesThatDifferOnlyInCase) {
  const std::string lower = data_.Root() + "/scan/";
  const std::string upper = data_.Root() + "/SCAN/";
  WriteHistory(data_.Root() + "/config", 3, {Entry(1, lower), Entry(2, Folder(2)), Entry(3, upper)});
  fs::create_directories(lower);
  CScanHistory::ResetForTests();
  CScanHistory& history = CScanHistory::Instance();
  EXPECT_EQ(history.RemoveScanFolder(lower), kSuccess);
  ASSERT_EQ(history.Entries().size(), 1u);
  EXPECT_EQ(history.Entries()[0].driveNumber, 2u);
  EXPECT_FALSE(fs::exists(lower));
  EXPECT_EQ(history.RemoveScanFolder(Folder(40)), kSuccess) << "a missing folder is no error";
}

TEST_F(ScanHistoryTest, FoldersOutsideTheRootAreNeverDeleted) {
  test::TempDir outside;
  std::ofstream(outside / "precious.txt") << "keep";
  WriteHistory(data_.Root() + "/config", 2,
               {Entry(1, outside.path().string() + "/", 99), Entry(2, data_.Root() + "/", 99)});
  CScanHistory::ResetForTests();
  CScanHistory& history = CScanHistory::Instance();
  ScanHistoryEntry out;
  EXPECT_EQ(history.FindSourceScan(1, 2048, 1 << 20, "", out), 0) << "stale: other free space";
  EXPECT_EQ(history.FindSourceScan(2, 2048, 1 << 20, "", out), 0);
  EXPECT_TRUE(fs::exists(outside / "precious.txt"));
  EXPECT_TRUE(fs::exists(data_.Root() + "/config")) << "the root itself stays";
  EXPECT_TRUE(history.Entries().empty()) << "the entries are dropped all the same";
  EXPECT_EQ(history.RemoveScanFolder(data_.Root() + "/.."), kAccessDenied);
}

TEST_F(ScanHistoryTest, RememberScanAddsUpdatesAndSaves) {
  CScanHistory& history = CScanHistory::Instance();
  history.BeginNewScan();
  std::string folder = history.GetScanFolder();
  MakeFolder(1);
  test::TempDir mount;  // any folder serves as the mount point whose free space is read
  ASSERT_EQ(history.RememberScan(mount.path().string(), 2, 63, 1000, {10, 20, 0, 5, 1}, folder, ""), kSuccess);
  ASSERT_EQ(history.Entries().size(), 1u);
  EXPECT_NE(history.Entries()[0].freeBytes, 0u);
  EXPECT_EQ(fs::file_size(data_.Root() + "/config"), 8 + kHistoryEntrySize);

  // Remembered again while the free space differs: the running scan's own folder stays.
  ASSERT_EQ(history.RememberScan("", 2, 63, 1000, {10, 0, 0, 1000, 9}, folder, ""), kSuccess);
  ASSERT_EQ(history.Entries().size(), 1u);
  EXPECT_EQ(history.Entries()[0].walk.sectorsDone, 1000u);
  EXPECT_TRUE(fs::exists(folder));

  CScanHistory::ResetForTests();
  CScanHistory& loaded = CScanHistory::Instance();
  EXPECT_EQ(loaded.Counter(), 1u);
  ASSERT_EQ(loaded.Entries().size(), 1u);
  EXPECT_EQ(loaded.Entries()[0].walk.filesFound, 9u);
  EXPECT_EQ(loaded.Entries()[0].folder, folder);

  // A new scan of the same source replaces the entry and its old folder.
  loaded.BeginNewScan();
  std::string next = loaded.GetScanFolder();
  ASSERT_EQ(loaded.RememberScan("", 2, 63, 1000, {}, next, ""), kSuccess);
  ASSERT_EQ(loaded.Entries().size(), 1u);
  EXPECT_EQ(loaded.Entries()[0].folder, next);
  EXPECT_FALSE(fs::exists(folder));
}

TEST_F(ScanHistoryTest, PathsThatCannotBeStoredAreRefused) {
  CScanHistory& history = CScanHistory::Instance();
  std::string longFolder = data_.Root() + "/" + std::string(300, 'x') + "/";
  EXPECT_EQ(history.RememberScan("", 0, 0, 10, {}, longFolder, ""), kFilenameTooLong);
  EXPECT_EQ(history.RememberScan("", 0, 0, 10, {}, Folder(1), "/img/" + std::string(300, 'i')), kFilenameTooLong);
  EXPECT_EQ(history.RememberScan("", 0, 0, 10, {}, Folder(1), "/img/\xC3"), kInvalidParameter);
  EXPECT_TRUE(history.Entries().empty());
  EXPECT_FALSE(fs::exists(data_.Root() + "/config"));
}

TEST_F(ScanHistoryTest, ASaveThatFailsPartWayKeepsTheOldHistory) {
  CScanHistory& history = CScanHistory::Instance();
  history.BeginNewScan();
  ASSERT_EQ(history.RememberScan("", 1, 0, 100, {}, Folder(1), ""), kSuccess);
  const auto good = test::ReadFile(data_.Root() + "/config");
  ASSERT_EQ(good.size(), 8 + kHistoryEntrySize);

  // In a child, files may grow to 3,000 bytes only: two entries fit, the save of three fails in the middle.
  pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit{3000, 3000};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    CScanHistory& h = CScanHistory::Instance();
    h.BeginNewScan();
    h.BeginNewScan();
    ResultCode a = h.RememberScan("", 2, 0, 100, {}, Folder(2), "");
    ResultCode b = h.RememberScan("", 3, 0, 100, {}, Folder(3), "");
    ::_exit(a == kSuccess && b != kSuccess ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "the second save must fail";
  auto now = test::ReadFile(data_.Root() + "/config");
  EXPECT_EQ(now.size(), 8 + 2 * kHistoryEntrySize) << "the last good copy";
  EXPECT_FALSE(fs::exists(data_.Root() + "/config.tmp"));

  // The same when config.tmp cannot even be created.
  fs::create_directories(data_.Root() + "/config.tmp/x");
  EXPECT_NE(history.SaveHistory(), kSuccess);
  EXPECT_EQ(test::ReadFile(data_.Root() + "/config"), now);
}

TEST_F(ScanHistoryTest, FindLogFileGivesTheMainFileOfALog) {
  test::TempDir folder;
  std::string name = "unchanged";
  EXPECT_EQ(CScanHistory::Instance().FindLogFile("Pro_Fat_", name, folder.path().string()), kSuccess);
  EXPECT_EQ(name, "unchanged");
  // Companions made first and last, so that no listing order can favour the main file.
  for (const char* file : {"Pro_Fat_0_x_Relation", ".Pro_Fat_hidden", "Pro_Fat_0_x", "Pro_Fat_0_x_DirInfo",
                           "Fast_0_y", "Fast_0_y_Relation"})
    std::ofstream(folder / file) << "x";
  fs::create_directory(folder / "Pro_Fat_dir");
  EXPECT_EQ(CScanHistory::Instance().FindLogFile("Pro_Fat_", name, folder.path().string()), kSuccess);
  EXPECT_EQ(name, "Pro_Fat_0_x");
  EXPECT_EQ(CScanHistory::Instance().FindLogFile(kFastLogPrefix, name, folder.path().string() + "/"), kSuccess);
  EXPECT_EQ(name, "Fast_0_y");
  EXPECT_EQ(CScanHistory::Instance().FindLogFile("Fast_", name, folder / "missing"), kFileNotFound);
}

TEST_F(ScanHistoryTest, TheRootIsMadeAbsoluteAndPlain) {
  test::TempDir dir;
  ::setenv("SELVANE_DATA_DIR", (dir.path().string() + "/x/../data/").c_str(), 1);
  CScanHistory::ResetForTests();
  CScanHistory& history = CScanHistory::Instance();
  EXPECT_EQ(history.Root(), dir.path().string() + "/data/ScanLog");
  history.BeginNewScan();
  CScanLog log;
  EXPECT_EQ(log.OpenLog("Fast_0_x"), kSuccess);
  EXPECT_TRUE(fs::exists(dir / "data/ScanLog/1/Fast_0_x"));
}

TEST_F(ScanHistoryTest, ScanLogsAreOpenedInTheCurrentScanFolder) {
  CScanHistory& history = CScanHistory::Instance();
  history.BeginNewScan();
  history.BeginNewScan();
  CScanLog log;
  ASSERT_EQ(log.OpenLog("Fast_0_x"), kSuccess);
  EXPECT_EQ(log.MainPath(), Folder(2) + "Fast_0_x");
  EXPECT_TRUE(fs::exists(Folder(2) + "Fast_0_x_Relation"));
  EXPECT_TRUE(fs::exists(Folder(2) + "Fast_0_x_DirInfo"));
}

}  // namespace
}  // namespace selvane
