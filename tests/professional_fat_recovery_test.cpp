// The FAT formatted-volume engine on crafted sectors: geometry learning,
// files that wait for a geometry, lost folders, long names cut by a sector
// end, reading consecutive clusters, and damaged input.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <random>
#include <set>

#include "engine/fat_geometry.h"
#include "support/data_dir.h"
#include "support/fat_image_builder.h"
#include "support/pro_fat_walk.h"
#include "support/test_support.h"

namespace selvane {
namespace {

using test::FatEntryBytes;
using test::ShortEntry;

// ---------------------------------------------------------------------------
// Geometry from two subdirectory starts

struct PairCase {
  const char* what;
  uint32_t cluster1;
  uint64_t sector1;
  uint32_t cluster2;
  uint64_t sector2;
  uint64_t partitionStart;
  std::optional<FatGeometry> expected;
};

FatGeometry Geometry(uint32_t spc, uint64_t dataArea, uint64_t partitionStart) {
  FatGeometry g;
  g.sectorsPerCluster = spc;
  g.dataAreaSector = dataArea;
  g.partitionStart = partitionStart;
  return g;
}

TEST(LearnGeometryTest, TwoSubdirectoryStartsFixClusterSizeAndDataArea) {
  const PairCase cases[] = {
      {"clusters 100 and 110 at 10,000 and 10,080", 100, 10000, 110, 10080, 0, Geometry(8, 9216, 0)},
      {"the same pair in the other order", 110, 10080, 100, 10000, 0, Geometry(8, 9216, 0)},
      {"data area relative to the partition", 100, 10000, 110, 10080, 2048, Geometry(8, 9216 - 2048, 2048)},
      {"one sector per cluster", 3, 5000, 4, 5001, 0, Geometry(1, 4999, 0)},
      {"128 sectors per cluster", 2, 1000, 3, 1128, 0, Geometry(128, 1000, 0)},
      {"the same cluster twice", 100, 10000, 100, 10080, 0, std::nullopt},
      {"a distance that is no whole number of clusters", 100, 10000, 110, 10085, 0, std::nullopt},
      {"3 sectors per cluster", 100, 10000, 110, 10030, 0, std::nullopt},
      {"256 sectors per cluster", 100, 10000, 110, 12560, 0, std::nullopt},
      {"a later cluster at an earlier sector", 100, 10080, 110, 10000, 0, std::nullopt},
      {"cluster 2 would lie before sector 0", 1000, 100, 1001, 101, 0, std::nullopt},
      {"cluster 2 would lie before the partition", 100, 10000, 110, 10080, 9300, std::nullopt},
      {"a cluster below 2", 1, 10000, 110, 10080, 0, std::nullopt},
  };
  for (const PairCase& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(LearnGeometry(c.cluster1, c.sector1, c.cluster2, c.sector2, c.partitionStart), c.expected);
  }
}

TEST(FatGeometryTest, BootSectorsInTheWalkersSectors) {
  struct Case {
    const char* what;
    test::FatImageSpec spec;
    uint32_t sectorSize;
    uint32_t spc, rootDirSectors, rootCluster;
  };
  test::FatImageSpec floppy{FatType::Fat12, 512, 1, 2880, 224, 1};
  test::FatImageSpec fat16{FatType::Fat16, 512, 4, 65536, 512, 4};
  test::FatImageSpec fat32{FatType::Fat32, 512, 8, 600000, 0, 32};
  test::FatImageSpec fat32k4{FatType::Fat32, 4096, 1, 80000, 0, 32};
  const Case cases[] = {
      {"a floppy's 224 root entries take 14 sectors", floppy, 512, 1, 14, 0},
      {"FAT16 with 512 root entries", fat16, 512, 4, 32, 0},
      {"FAT32", fat32, 512, 8, 0, 2},
      {"4 KiB sectors read in 512-byte sectors", fat32k4, 512, 8, 0, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    test::FatImageBuilder builder(c.spec);
    const std::vector<uint8_t> boot = builder.ReadAt(0, c.spec.bytesPerSector);
    const std::optional<BootGeometry> found = GeometryFromBootSector(boot, c.sectorSize, 100);
    ASSERT_TRUE(found);
    const uint64_t ratio = c.spec.bytesPerSector / c.sectorSize;
    EXPECT_EQ(found->geometry.sectorsPerCluster, c.spc);
    EXPECT_EQ(found->geometry.dataAreaSector, builder.Geometry().firstDataSector * ratio);
    EXPECT_EQ(found->geometry.rootDirSectors, c.rootDirSectors);
    EXPECT_EQ(found->geometry.partitionStart, 100u);
    EXPECT_EQ(found->rootCluster, c.rootCluster);
  }
  EXPECT_FALSE(GeometryFromBootSector(std::vector<uint8_t>(512, 0), 512, 0)) << "no boot sector";
}

// ---------------------------------------------------------------------------
// Sector tests

TEST(FatSectorTestsTest, ARepeatedFourBytePatternIsNoDirectorySector) {
  // "ABC " over and over: the first entry is a plausible archive file (name
  // "ABC ABC ABC", dates in 2013 and 1996, a size and a cluster).
  std::vector<uint8_t> sector(512);
  for (size_t i = 0; i < sector.size(); ++i) sector[i] = static_cast<uint8_t>("ABC "[i % 4]);
  ASSERT_TRUE(IsPlausibleEntry(std::span<const uint8_t>(sector).first(32), std::span<const uint8_t>(sector).subspan(32, 32)));
  EXPECT_FALSE(CProfessionalFatRecovery::IsFatDirectorySector(sector));
  EXPECT_FALSE(CProfessionalFatRecovery::IsDirectoryStartSector(sector));

  // With clean 8.3 names in every entry only the pattern rule decides...
  for (size_t at = 0; at < sector.size(); at += 32) std::copy_n("ABCDABCDABC", 11, sector.begin() + at);
  EXPECT_FALSE(CProfessionalFatRecovery::IsFatDirectorySector(sector));
  // ...and once the sizes break the pattern, the entries make a directory.
  for (size_t at = 0; at < sector.size(); at += 32) sector[at + 29] = 'X';
  EXPECT_TRUE(CProfessionalFatRecovery::IsFatDirectorySector(sector));
}

// ---------------------------------------------------------------------------
// A volume without boot sector, built sector by sector

std::vector<uint8_t> SectorOf(const std::vector<FatEntryBytes>& entries) {
  std::vector<uint8_t> sector(512, 0);
  for (size_t i = 0; i < entries.size() && i < 16; ++i) std::copy(entries[i].begin(), entries[i].end(), sector.begin() + 32 * i);
  return sector;
}

std::vector<FatEntryBytes> DotEntries(uint32_t cluster, uint32_t parent) {
  return {ShortEntry(".", 0x10, cluster, 0), ShortEntry("..", 0x10, parent, 0)};
}

// Long-name entries (last part first) carrying the checksum of their 8.3 name.
std::vector<FatEntryBytes> LongName(std::u16string_view name, std::string_view name83, bool deleted = false) {
  std::vector<FatEntryBytes> entries = test::LongNameEntries(name, deleted);
  const uint8_t checksum = ShortNameChecksum(std::span(reinterpret_cast<const uint8_t*>(name83.data()), 11));
  for (FatEntryBytes& e : entries) e[13] = checksum;
  return entries;
}

void Append(std::vector<FatEntryBytes>& to, const std::vector<FatEntryBytes>& more) {
  to.insert(to.end(), more.begin(), more.end());
}

// Absolute sector of cluster c with 8 sectors per cluster and cluster 2 at 9,216.
constexpr uint64_t SectorOfCluster(uint32_t c) { return 9216 + uint64_t{c - 2} * 8; }

class SparseImage {
 public:
  void Put(uint64_t sector, const std::vector<uint8_t>& bytes) {
    for (size_t at = 0; at < bytes.size(); at += 512) {
      std::vector<uint8_t>& s = sectors_[sector + at / 512];
      s.assign(512, 0);
      std::copy(bytes.begin() + static_cast<ptrdiff_t>(at),
                bytes.begin() + static_cast<ptrdiff_t>(std::min(bytes.size(), at + 512)), s.begin());
    }
  }
  void Save(const std::string& path, uint64_t totalSectors) const {
    const int fd = ::open(path.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, static_cast<off_t>(totalSectors * 512)), 0);
    for (const auto& [sector, bytes] : sectors_)
      ASSERT_EQ(::pwrite(fd, bytes.data(), 512, static_cast<off_t>(sector * 512)), 512);
    ::close(fd);
  }

 private:
  std::map<uint64_t, std::vector<uint8_t>> sectors_;
};

// How the long name of B.BIN in folder 110 is cut by the end of its first sector.
enum class Split {
  LongNameGoesOn,        // the second sector begins with the name's first part
  ShortEntryGoesOn,      // the second sector begins with its 8.3 entry
  DeletedLongNameGoesOn, // the same, with every entry of the file deleted
  DeletedShortEntryGoesOn,
  OtherNameFollows,      // the rest is lost; another file's name follows
};

constexpr char16_t kSplitName[] = u"Ein langer Name über zwei Sektoren.bin";
constexpr std::string_view kSplitName83 = "EINLAN~1BIN";

// Folders 100 ("Unterordner" inside it: 110) and 120 inside 130, whose own
// entries are nowhere; a stray subdirectory start that fits no geometry.
struct Scenario {
  std::string image;
  std::vector<uint8_t> fileA, fileB, fileC;
};

Scenario MakeScenario(const std::string& path, Split split) {
  SparseImage img;
  // A subdirectory start of some other volume, before everything: its cluster
  // is larger, its sector smaller, so it pairs with nothing.
  std::vector<FatEntryBytes> stray = DotEntries(5000, 0);
  stray.push_back(ShortEntry("Z       BIN", 0x20, 6000, 100));
  img.Put(2000, SectorOf(stray));

  std::vector<FatEntryBytes> d100 = DotEntries(100, 0);
  d100.push_back(ShortEntry("A       TXT", 0x20, 200, 5000));
  Append(d100, LongName(u"Unterordner", "UNTERO~1   "));
  d100.push_back(ShortEntry("UNTERO~1   ", 0x10, 110, 0));
  img.Put(SectorOfCluster(100), SectorOf(d100));

  const bool deleted = split == Split::DeletedLongNameGoesOn || split == Split::DeletedShortEntryGoesOn;
  const bool cutBeforeShort = split == Split::ShortEntryGoesOn || split == Split::DeletedShortEntryGoesOn;
  std::vector<FatEntryBytes> longName = LongName(kSplitName, kSplitName83, deleted);  // 3 parts
  FatEntryBytes shortB = ShortEntry(kSplitName83, 0x20, 300, 6000, deleted);
  std::vector<FatEntryBytes> first = DotEntries(110, 100), second;
  const size_t fillers = cutBeforeShort ? 11 : 12;
  for (size_t i = 1; i <= fillers; ++i) {
    char name[12];
    std::snprintf(name, sizeof name, "F%02zu     BIN", i);
    first.push_back(ShortEntry(name, 0x20, 0, 0));
  }
  if (split == Split::OtherNameFollows) {
    first.insert(first.end(), longName.begin(), longName.begin() + 2);
    Append(second, LongName(u"Ein anderer Name.bin", "EINAND~1BIN"));
    second.push_back(ShortEntry("EINAND~1BIN", 0x20, 300, 6000));
  } else {
    const size_t inFirst = cutBeforeShort ? 3 : 2;
    first.insert(first.end(), longName.begin(), longName.begin() + inFirst);
    second.insert(second.end(), longName.begin() + inFirst, longName.end());
    second.push_back(shortB);
  }
  EXPECT_EQ(first.size(), 16u);
  img.Put(SectorOfCluster(110), SectorOf(first));
  img.Put(SectorOfCluster(110) + 1, SectorOf(second));

  std::vector<FatEntryBytes> d120 = DotEntries(120, 130);
  d120.push_back(ShortEntry("C       DAT", 0x20, 400, 1000));
  img.Put(SectorOfCluster(120), SectorOf(d120));
  img.Put(SectorOfCluster(130), SectorOf(DotEntries(130, 0)));

  Scenario s;
  s.image = path;
  // A.TXT fills two clusters; B.BIN's second part is whatever follows its
  // first cluster; C.DAT ends the image, two sectors into its cluster.
  const std::vector<uint8_t> clusters200 = test::PatternBytes(8192, 1);
  const std::vector<uint8_t> clusters300 = test::PatternBytes(8192, 2);
  img.Put(SectorOfCluster(200), clusters200);
  img.Put(SectorOfCluster(300), clusters300);
  s.fileC = test::PatternBytes(1000, 3);
  img.Put(SectorOfCluster(400), s.fileC);
  s.fileA.assign(clusters200.begin(), clusters200.begin() + 5000);
  s.fileB.assign(clusters300.begin(), clusters300.begin() + 6000);
  img.Save(path, SectorOfCluster(400) + 2);
  return s;
}

class LostVolume : public ::testing::Test {
 protected:
  void Walk(Split split) {
    scenario = MakeScenario(dir / "lost.img", split);
    test::WalkImageLikeTheCoordinator(engine, scenario.image);
    List(nullptr, 0, "/");
  }

  void List(const ScanLogRecord* folder, uint32_t depth, const std::string& path) {
    std::vector<ScanLogRecord> items;
    ASSERT_EQ(engine.QueryFolder(folder, depth, items), kSuccess);
    for (const ScanLogRecord& r : items) {
      const std::string itemPath = path + std::string(r.NameView()) + (r.IsFolderRecord() ? "/" : "");
      ASSERT_TRUE(records.emplace(itemPath, r).second) << itemPath << " listed twice";
      if (r.IsFolderRecord()) List(&r, depth + 1, itemPath);
    }
  }

  std::vector<uint8_t> Recover(const std::string& path) {
    const std::string out = dir / ("out" + std::to_string(++recovered));
    EXPECT_EQ(engine.RecoverItem(records.at(path), out, 0), kSuccess) << path;
    return test::ReadFile(out);
  }

  test::DataDirScope data;
  test::TempDir dir;
  Scenario scenario;
  CProfessionalFatRecovery engine;
  std::map<std::string, ScanLogRecord> records;
  int recovered = 0;
};

TEST_F(LostVolume, LearnsTheGeometryAndRebuildsTheTreeWithLostFolders) {
  Walk(Split::LongNameGoesOn);
  EXPECT_FALSE(engine.BootGeometryFound());
  ASSERT_EQ(engine.Geometries().size(), 1u) << "the stray start teaches nothing";
  EXPECT_EQ(engine.Geometries()[0], Geometry(8, 9216, 0));

  std::set<std::string> paths;
  for (const auto& [path, r] : records) paths.insert(path);
  std::set<std::string> expected{
      "/LostFolder100/", "/LostFolder100/a.txt", "/LostFolder100/Unterordner/",
      "/LostFolder130/", "/LostFolder130/LostFolder120/", "/LostFolder130/LostFolder120/c.dat",
      // A file no geometry placed exactly goes with the only geometry there is.
      "/LostFolder5000/", "/LostFolder5000/z.bin"};
  for (int i = 1; i <= 12; ++i) {
    char name[40];
    std::snprintf(name, sizeof name, "/LostFolder100/Unterordner/f%02d.bin", i);
    expected.insert(name);
  }
  expected.insert("/LostFolder100/Unterordner/Ein langer Name über zwei Sektoren.bin");
  EXPECT_EQ(paths, expected);

  // a.txt was found before any geometry and written once one placed its folder.
  const ScanLogRecord& a = records.at("/LostFolder100/a.txt");
  EXPECT_EQ(a.EngineCode, kEngineProFat);
  EXPECT_EQ(a.ItemId, 200u);
  EXPECT_EQ(a.ClusterBytes, 4096u);
  EXPECT_EQ(a.DataAreaSector, 9216u);
  EXPECT_EQ(a.PartitionStart, 0u);
  EXPECT_EQ(a.LocationSector, SectorOfCluster(100));
  EXPECT_EQ(a.Intact, 1u);
  EXPECT_EQ(engine.PendingFileCount(), 0u);
  EXPECT_EQ(engine.KeptSectorCount(), 0u);

  std::string folderPath;
  ASSERT_EQ(engine.QueryFolderPath(records.at("/LostFolder130/LostFolder120/c.dat"), folderPath), kSuccess);
  EXPECT_EQ(folderPath, "LostFolder130/LostFolder120/");
}

TEST_F(LostVolume, ReadsFilesAsConsecutiveClusters) {
  Walk(Split::LongNameGoesOn);
  EXPECT_EQ(Recover("/LostFolder100/a.txt"), scenario.fileA);
  // Whatever followed its first cluster, fragment or not.
  EXPECT_EQ(Recover("/LostFolder100/Unterordner/Ein langer Name über zwei Sektoren.bin"), scenario.fileB);
  // Its cluster reaches past the end of the image; its bytes do not.
  EXPECT_EQ(Recover("/LostFolder130/LostFolder120/c.dat"), scenario.fileC);
  EXPECT_EQ(Recover("/LostFolder100/Unterordner/f01.bin"), std::vector<uint8_t>{});

  uint32_t size = 100;
  std::vector<uint8_t> preview(size);
  std::string tempPath;
  ASSERT_EQ(engine.ReadItemData(records.at("/LostFolder100/a.txt"), tempPath, preview, size, nullptr), kSuccess);
  EXPECT_TRUE(tempPath.empty());
  EXPECT_EQ(size, 100u);
  EXPECT_TRUE(std::equal(preview.begin(), preview.end(), scenario.fileA.begin()));

  // A whole lost folder with what is below it.
  const std::string tree = dir / "tree";
  ASSERT_EQ(engine.RecoverItem(records.at("/LostFolder130/"), tree, 0), kSuccess);
  EXPECT_EQ(test::ReadFile(tree + "/LostFolder120/c.dat"), scenario.fileC);
}

TEST_F(LostVolume, RecoveryFailuresAreReportedPerFile) {
  Walk(Split::LongNameGoesOn);
  std::vector<std::pair<std::string, ResultCode>> reports;
  engine.SetCallbacks(nullptr, [&](int32_t percent, int32_t, ResultCode error, const std::string& path) {
    if (percent == 100) reports.emplace_back(path, error);
    return 0;
  }, 100);
  ScanLogRecord a = records.at("/LostFolder100/a.txt");
  struct Case {
    const char* what;
    ScanLogRecord record;
    ResultCode expected;
  };
  ScanLogRecord huge = a, foreign = a, noCluster = a, pastEnd = records.at("/LostFolder5000/z.bin");
  huge.ClusterBytes = 0x6400000 + 512;
  foreign.EngineCode = kEngineFastFat;
  noCluster.ItemId = 0;
  const Case cases[] = {
      {"clusters over 104,857,600 bytes", huge, kWriteFault},
      {"a record of another engine", foreign, kInvalidParameter},
      {"no data cluster", noCluster, kInvalidParameter},
      {"data past the end of the source", pastEnd, kReadFault},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    reports.clear();
    const std::string out = dir / "failed";
    EXPECT_EQ(engine.RecoverItem(c.record, out, 0), c.expected);
    if (c.record.EngineCode == kEngineProFat) {
      ASSERT_EQ(reports.size(), 1u);
      EXPECT_EQ(reports[0], std::make_pair(out, c.expected));
    }
  }
}

TEST_F(LostVolume, AResumedWalkAddsToItsLogWithoutWritingFoldersAgain) {
  scenario = MakeScenario(dir / "lost.img", Split::LongNameGoesOn);
  const uint64_t stop = SectorOfCluster(110) + 1;  // cancelled inside folder 110
  std::string logName;
  {
    CProfessionalFatRecovery first;
    ASSERT_EQ(first.OpenImage(scenario.image, 7), kSuccess);
    ASSERT_EQ(first.StartFatLog(""), kSuccess);
    ASSERT_EQ(first.PrepareFatWalk(), kSuccess);
    test::WalkSectors(first, scenario.image, 0, stop);
    ASSERT_EQ(first.FinishFatWalk(), kSuccess);
    logName = std::filesystem::path(first.Log()->MainPath()).filename().string();
  }
  ASSERT_EQ(engine.OpenImage(scenario.image, 7), kSuccess);
  ASSERT_EQ(engine.StartFatLog(logName), kSuccess);
  ASSERT_EQ(engine.PrepareFatWalk(), kSuccess);
  test::WalkSectors(engine, scenario.image, stop, UINT64_MAX);
  ASSERT_EQ(engine.FinishFatWalk(), kSuccess);
  List(nullptr, 0, "/");  // fails on a folder listed twice

  EXPECT_TRUE(records.contains("/LostFolder100/a.txt"));
  EXPECT_TRUE(records.contains("/LostFolder130/LostFolder120/c.dat"));
  // The rest of folder 110 went on after the cut; its long name's start did not.
  size_t inFolder110 = 0;
  for (const auto& [path, r] : records)
    if (path.starts_with("/LostFolder100/Unterordner/") && !r.IsFolderRecord()) ++inFolder110;
  EXPECT_EQ(inFolder110, 13u);
}

class SplitName : public LostVolume, public ::testing::WithParamInterface<Split> {};

TEST_P(SplitName, ALongNameCutByTheSectorEndIsJoined) {
  Walk(GetParam());
  const std::string folder = "/LostFolder100/Unterordner/";
  std::set<std::string> names;
  for (const auto& [path, r] : records) {
    if (!path.starts_with(folder) || r.IsFolderRecord()) continue;
    const std::string name = path.substr(folder.size());
    if (!name.starts_with("f")) names.insert(name);  // not one of the empty fillers
  }
  if (GetParam() == Split::OtherNameFollows) {
    EXPECT_EQ(names, std::set<std::string>{"Ein anderer Name.bin"});
  } else {
    EXPECT_EQ(names, std::set<std::string>{"Ein langer Name über zwei Sektoren.bin"});
    EXPECT_EQ(Recover(folder + "Ein langer Name über zwei Sektoren.bin"), scenario.fileB);
    EXPECT_EQ(records.at(folder + "Ein langer Name über zwei Sektoren.bin").LocationSector, SectorOfCluster(110) + 1);
  }
}

INSTANTIATE_TEST_SUITE_P(Cuts, SplitName,
                         ::testing::Values(Split::LongNameGoesOn, Split::ShortEntryGoesOn, Split::DeletedLongNameGoesOn,
                                           Split::DeletedShortEntryGoesOn, Split::OtherNameFollows));

// ---------------------------------------------------------------------------
// Damaged input

TEST(ProfessionalFatDamageTest, AnyBytesAtAnySectorAreSurvived) {
  test::DataDirScope data;
  test::TempDir dir;
  SparseImage img;
  img.Save(dir / "empty.img", 4096);
  CProfessionalFatRecovery engine;
  ASSERT_EQ(engine.OpenImage(dir / "empty.img", 1), kSuccess);
  ASSERT_EQ(engine.StartFatLog(""), kSuccess);
  ASSERT_EQ(engine.PrepareFatWalk(), kSuccess);
  std::mt19937_64 random(7);
  std::vector<uint8_t> sector(512);
  for (int i = 0; i < 4000; ++i) {
    for (uint8_t& b : sector) b = static_cast<uint8_t>(random());
    if (i % 2 == 0) {
      // Directory starts naming random clusters, with random entries after them.
      std::vector<FatEntryBytes> dots = DotEntries(static_cast<uint32_t>(random()), static_cast<uint32_t>(random()));
      std::copy(dots[0].begin(), dots[0].end(), sector.begin());
      std::copy(dots[1].begin(), dots[1].end(), sector.begin() + 32);
    }
    const uint64_t s = random() % (i % 3 == 0 ? UINT64_MAX : 20000);
    const size_t length = i % 50 == 0 ? random() % 64 : sector.size();
    const std::span<const uint8_t> bytes(sector.data(), length);
    if (i % 2 == 0)
      engine.OnDirectoryStart(bytes, s);
    else
      engine.OnDirectorySector(bytes, s);
  }
  EXPECT_EQ(engine.FinishFatWalk(), kSuccess);
  std::vector<ScanLogRecord> root;
  EXPECT_EQ(engine.QueryFolder(nullptr, 0, root), kSuccess);
}

TEST(ProfessionalFatDamageTest, WithoutALogTheWalkAndTheQueriesDoNothing) {
  CProfessionalFatRecovery engine;
  std::vector<uint8_t> sector = SectorOf(DotEntries(100, 0));
  EXPECT_EQ(engine.OnDirectoryStart(sector, 10000), kSuccess);
  EXPECT_EQ(engine.OnDirectorySector(sector, 10001), kSuccess);
  EXPECT_EQ(engine.FinishFatWalk(), kSuccess);
  std::vector<ScanLogRecord> out;
  EXPECT_EQ(engine.QueryFolder(nullptr, 0, out), kSuccess);
  EXPECT_EQ(engine.QueryFolder(nullptr, 1, out), kInvalidParameter);
  std::string path;
  EXPECT_EQ(engine.QueryFolderPath(ScanLogRecord{}, path), kInvalidParameter);
  EXPECT_EQ(engine.GetRecordCount(), 0u);
  EXPECT_TRUE(out.empty());
}

}  // namespace
}  // namespace selvane
