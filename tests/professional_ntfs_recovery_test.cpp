// The formatted-volume NTFS engine, driven as the deep scan drives it: every
// sector that begins an MFT record is handed over, then the queued folders are
// written. On the NTFS fixtures, on an NTFS volume quick-formatted as FAT32
// (also moved within the source, and without its "$MFT" record), and on
// synthetic volumes for damaged records, folder chains, two volumes on one
// source, cluster sizes and a continued log.
#include "engine/professional_ntfs_recovery.h"

#include <gtest/gtest.h>

#include <deque>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <regex>
#include <sstream>

#include "engine/ntfs_cluster_size.h"
#include "results/scan_history.h"
#include "results/scan_log.h"
#include "support/data_dir.h"
#include "support/ntfs_builder.h"
#include "support/test_support.h"

namespace selvane {
namespace {

namespace fs = std::filesystem;
using test::MftRecordBuilder;

constexpr uint16_t kDir = 0x0003;
constexpr uint16_t kDeletedDir = 0x0002;
constexpr uint16_t kFile = 0x0001;
constexpr uint16_t kDeleted = 0x0000;
constexpr uint32_t kSector = 512;

std::vector<uint8_t> Pattern(size_t size, uint8_t seed) {
  std::vector<uint8_t> bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(seed + i * 31 + (i >> 8));
  return bytes;
}

// Hands every sector of a volume that begins an MFT record to the engine, as
// the deep scan does: in 64 KiB blocks, a record that crosses the end of a
// block read again on its own; then the queued folders. The volume's first
// sector is `firstSector` of the source.
void DeepWalk(CProfessionalNtfsRecovery& engine, const std::vector<uint8_t>& image, uint32_t sectorSize = kSector,
              uint64_t firstSector = 0) {
  constexpr size_t kBlock = 65536;
  for (size_t block = 0; block < image.size(); block += kBlock) {
    const size_t end = std::min(block + kBlock, image.size());
    for (size_t at = block; at + sectorSize <= end; at += sectorSize) {
      const std::span<const uint8_t> sector(image.data() + at, sectorSize);
      const uint32_t size = CProfessionalNtfsRecovery::FoundRecordSize(sector, sectorSize);
      if (size == 0) continue;
      std::vector<uint8_t> again;
      std::span<const uint8_t> record(image.data() + at, size);
      if (at + size > end) {
        again.assign(image.begin() + static_cast<ptrdiff_t>(at),
                     image.begin() + static_cast<ptrdiff_t>(std::min(at + 8192, image.size())));
        record = again;
      }
      engine.ProcessFoundRecord(record, firstSector + at / sectorSize, 0, 0);
    }
  }
  EXPECT_EQ(engine.ProcessPendingFolders(), kSuccess);
}

// Every record reachable from the root through QueryFolder: "A/B/name" for
// files, "A/B/" for folders.
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
      EXPECT_EQ(tree.count(path), 0u) << path << " is listed twice";
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

std::string FolderOf(const std::string& path) { return path.substr(0, path.rfind('/') + 1); }

struct ManifestEntry {
  std::string state, sha256, path;
  uint64_t size = 0;
};

struct Manifest {
  std::vector<ManifestEntry> entries;
  std::map<std::string, std::string> reusedFolders;  // folder path -> its MFT record, now another folder's
};

Manifest ReadManifest(const std::string& path) {
  Manifest m;
  std::ifstream in(path);
  std::string line;
  const std::regex reused(R"(^# (/[^ ]+) \(MFT record (\d+)\) was deleted)");
  while (std::getline(in, line)) {
    std::smatch match;
    if (std::regex_search(line, match, reused)) m.reusedFolders[match[1]] = match[2];
    if (line.empty() || line[0] == '#') continue;
    std::istringstream fields(line);
    ManifestEntry e;
    fields >> e.state >> e.sha256 >> e.size;
    std::getline(fields >> std::ws, e.path);
    if (e.state == "live" || e.state == "deleted" || e.state == "deleted-reused") m.entries.push_back(e);
  }
  return m;
}

// Where a file of the manifest is listed: below the root, with a folder whose
// record went to another folder since listed as "LostFolder<record>".
std::string ListedPath(const Manifest& m, const std::string& path) {
  for (const auto& [folder, record] : m.reusedFolders)
    if (path.rfind(folder + "/", 0) == 0) return "LostFolder" + record + path.substr(folder.size());
  return path.substr(1);
}

class DeepScanTest : public testing::Test {
 protected:
  void Open(const std::string& image, uint16_t sourceId = 7) {
    image_ = test::ReadFile(image);
    ASSERT_EQ(engine_.OpenImage(image, sourceId), kSuccess);
    ASSERT_EQ(engine_.StartLog(""), kSuccess);
  }
  void Scan(const std::string& image) {
    Open(image);
    DeepWalk(engine_, image_);
    tree_ = ListTree(engine_);
  }
  std::string Write(const std::vector<uint8_t>& bytes, const std::string& name = "source.img") {
    const std::string path = scratch_ / name;
    test::WriteFile(path, bytes);
    return path;
  }
  // Every file of the manifest is listed once under its old folders and
  // comes back byte for byte (unless its clusters were reused); nothing else
  // is listed, in particular none of NTFS's own files.
  void ExpectEveryFile(const Manifest& manifest) {
    std::set<std::string> expected;
    for (const ManifestEntry& e : manifest.entries) {
      const std::string path = ListedPath(manifest, e.path);
      expected.insert(path);
      ASSERT_EQ(tree_.count(path), 1u) << path;
      const ScanLogRecord& record = tree_.at(path);
      EXPECT_EQ(record.EngineCode, kEngineProNtfs);
      EXPECT_EQ(record.VolumeLetter, 7);
      EXPECT_EQ(record.FileSize, e.size) << path;
      std::string folder;
      EXPECT_EQ(engine_.QueryFolderPath(record, folder), kSuccess);
      EXPECT_EQ(folder, FolderOf(path));
      if (e.state != "deleted-reused") {
        EXPECT_EQ(test::Sha256OfFile(Recover(record)), e.sha256) << path;
      }
    }
    std::set<std::string> files;
    for (const auto& [path, record] : tree_)
      if (!record.IsFolderRecord()) files.insert(path);
    EXPECT_EQ(files, expected);
  }
  // Recovers a listed item into a fresh path and gives that path.
  std::string Recover(const ScanLogRecord& record) {
    const std::string out = scratch_ / ("out" + std::to_string(++outputs_));
    EXPECT_EQ(engine_.RecoverItem(record, out, 0), kSuccess) << record.NameView();
    return out;
  }

  test::DataDirScope data_;
  test::TempDir scratch_;
  CProfessionalNtfsRecovery engine_;
  std::vector<uint8_t> image_;
  std::map<std::string, ScanLogRecord> tree_;
  int outputs_ = 0;
};

// ---- Real volumes ----

class FixtureDeepScan : public DeepScanTest, public testing::WithParamInterface<const char*> {};

// Every file of the volume, in use or deleted, is found with its folders.
TEST_P(FixtureDeepScan, ListsEveryFileUnderItsFoldersAndRecoversIt) {
  const std::string image = test::Fixture(std::string(GetParam()) + ".img");
  if (image.empty()) GTEST_SKIP() << GetParam() << ".img is not in the build tree";
  const Manifest manifest = ReadManifest(test::Fixture(std::string(GetParam()) + ".manifest"));
  ASSERT_FALSE(manifest.entries.empty());
  Scan(image);

  ExpectEveryFile(manifest);
}

INSTANTIATE_TEST_SUITE_P(Volumes, FixtureDeepScan, testing::Values("ntfs", "ntfs-4k", "ntfs-as-fat32"),
                         [](const auto& info) { return std::regex_replace(info.param, std::regex("-"), "_"); });

// A partition on a drive of 4 KiB sectors: sectors, records and clusters are
// all counted in the drive's sectors.
TEST_F(DeepScanTest, PartitionOnADriveOf4KiBSectors) {
  const std::string fixture = test::Fixture("ntfs-4k.img");
  if (fixture.empty()) GTEST_SKIP() << "ntfs-4k.img is not in the build tree";
  constexpr uint64_t kFirst = 3;
  std::vector<uint8_t> disk(kFirst * 4096, 0);
  image_ = test::ReadFile(fixture);
  disk.insert(disk.end(), image_.begin(), image_.end());
  const std::string drive = Write(disk, "disk.img");
  test::FakeSysfs sysfs(scratch_.path() / "root");
  sysfs.AddDisk("sdb", drive, disk.size() / 512, 4096, true, "usb1/1-1");

  ASSERT_EQ(engine_.OpenPartition(0, kFirst, image_.size() / 4096, 7), kSuccess);
  EXPECT_EQ(engine_.BytesPerSector(), 4096u);
  ASSERT_EQ(engine_.KnownMfts().size(), 1u) << "the boot sector names the MFT";
  EXPECT_EQ(engine_.KnownMfts()[0]->partitionStart, kFirst);
  ASSERT_EQ(engine_.StartLog(""), kSuccess);
  DeepWalk(engine_, image_, 4096, kFirst);
  tree_ = ListTree(engine_);
  ExpectEveryFile(ReadManifest(test::Fixture("ntfs-4k.manifest")));
}

// The formatted volume, moved 1 MiB into the source (as when a new partition
// begins elsewhere than the old one) or without its "$MFT" record.
class FormattedVolume : public DeepScanTest {
 protected:
  void SetUp() override {
    fixture_ = test::Fixture("ntfs-as-fat32.img");
    if (fixture_.empty()) GTEST_SKIP() << "ntfs-as-fat32.img is not in the build tree";
    manifest_ = ReadManifest(test::Fixture("ntfs-as-fat32.manifest"));
  }
  void ExpectEveryFileBack() {
    for (const ManifestEntry& e : manifest_.entries) {
      const std::string path = e.path.substr(1);
      ASSERT_EQ(tree_.count(path), 1u) << path;
      EXPECT_EQ(test::Sha256OfFile(Recover(tree_.at(path))), e.sha256) << path;
    }
  }
  std::string fixture_;
  Manifest manifest_;
};

TEST_F(FormattedVolume, OldMftRecordGivesTheStartOfAVolumeThatMoved) {
  constexpr uint64_t kShift = 2048;
  std::vector<uint8_t> moved(kShift * kSector, 0);
  const auto bytes = test::ReadFile(fixture_);
  moved.insert(moved.end(), bytes.begin(), bytes.end());
  Scan(Write(moved));
  // The MFT itself, and the copy of its first records in $MFTMirr.
  const auto mfts = engine_.KnownMfts();
  ASSERT_FALSE(mfts.empty());
  EXPECT_EQ(mfts.front()->partitionStart, kShift);
  EXPECT_EQ(mfts.front()->sectorsPerCluster, 64u);
  ExpectEveryFileBack();
  EXPECT_EQ(tree_.at("Archiv.bin").PartitionStart, kShift);
  EXPECT_EQ(tree_.at("Archiv.bin").ClusterBytes, 32768u);
}

TEST_F(FormattedVolume, WithoutItsMftRecordTheMftIsTakenAsContiguous) {
  auto bytes = test::ReadFile(fixture_);
  // Wipe record 0 wherever it lies (the MFT and its mirror).
  for (size_t at = 0; at + 1024 <= bytes.size(); at += kSector) {
    ByteReader r(std::span<const uint8_t>(bytes).subspan(at, 1024));
    if (r.Equals(0, "FILE") && r.U32(0x2C) == 0) std::fill_n(bytes.begin() + static_cast<ptrdiff_t>(at), 1024, 0);
  }
  Scan(Write(bytes));
  EXPECT_TRUE(engine_.KnownMfts().empty());
  ExpectEveryFileBack();
  EXPECT_EQ(tree_.at("Fotos/Sommer 2020/Film.bin").ClusterBytes, 32768u);
}

TEST_F(FormattedVolume, RecoversAFolderWithEverythingBelowIt) {
  Scan(fixture_);
  ASSERT_EQ(tree_.count("Fotos/"), 1u);
  const std::string out = Recover(tree_.at("Fotos/"));
  for (const ManifestEntry& e : manifest_.entries) {
    if (e.path.rfind("/Fotos/", 0) != 0) continue;
    EXPECT_EQ(test::Sha256OfFile(out + e.path.substr(6)), e.sha256) << e.path;
  }
}

// ---- Synthetic volumes ----

// A volume of 2-sector clusters: boot sector, MFT of 64 records from cluster
// 8, data from cluster 80 on. The tests wipe the boot sector as a format would.
class SyntheticVolume {
 public:
  explicit SyntheticVolume(uint32_t sectorsPerCluster = 2, uint64_t clusters = 1024)
      : image_(kSector, sectorsPerCluster, clusters, 8, 64) {
    image_.PutStandardMftRecord();
    Put(Record(5, kDir).FileName({.parent = 5, .name = u".", .nameSpace = 3}));
    Put(Record(6, kFile).FileName({.name = u"$Bitmap", .nameSpace = 3}).ResidentData({0xFF}));
  }
  MftRecordBuilder Record(uint32_t number, uint16_t flags) const { return MftRecordBuilder(number, flags, 1024); }
  void Put(const MftRecordBuilder& record) { image_.PutRecord(NumberOf(record), record.Build()); }
  void PutAt(uint32_t slot, const std::vector<uint8_t>& stored) { image_.PutRecord(slot, stored); }
  void PutData(uint64_t cluster, const std::vector<uint8_t>& bytes) { image_.PutData(cluster, bytes); }
  uint64_t SectorOf(uint32_t record) const { return 8 * spc() + record * 2; }
  uint32_t spc() const { return image_.clusterBytes() / kSector; }
  std::vector<uint8_t> Formatted() {
    auto bytes = image_.bytes();
    std::fill_n(bytes.begin(), kSector, 0);
    return bytes;
  }
  std::vector<uint8_t>& bytes() { return image_.bytes(); }

  static constexpr uint64_t kData = 80;

 private:
  static uint32_t NumberOf(const MftRecordBuilder& record) {
    const auto bytes = record.BuildPlain();
    return ByteReader(bytes).U32(0x2C);
  }
  test::NtfsImageBuilder image_;
};

class SyntheticDeepScan : public DeepScanTest, public testing::WithParamInterface<bool> {};

// Folders rebuilt from the parent references of the files found: in use or
// deleted, parents reused, gone or naming each other, and the records that
// are never listed.
TEST_P(SyntheticDeepScan, RebuildsTheFoldersAboveTheFilesFound) {
  SyntheticVolume v;
  const uint64_t d = SyntheticVolume::kData;
  v.Put(v.Record(20, kDir).FileName({.name = u"Docs"}));
  v.Put(v.Record(30, kFile).FileName({.parent = 20, .name = u"a.bin"}).NonResidentData({{3, int64_t(d)}}, 3000));
  v.PutData(d, Pattern(3000, 1));
  // A deleted folder in a deleted folder (freeing raised their sequence numbers).
  v.Put(v.Record(21, kDeletedDir).SequenceNumber(2).FileName({.name = u"Old"}));
  v.Put(v.Record(22, kDeletedDir).SequenceNumber(2).FileName({.parent = 21, .name = u"Sub"}));
  v.Put(v.Record(31, kDeleted).FileName({.parent = 22, .name = u"b.txt"}).ResidentData({'b'}));
  // A folder record that now holds another folder: old references go to a lost folder.
  v.Put(v.Record(24, kDir).SequenceNumber(3).FileName({.name = u"New"}));
  v.Put(v.Record(33, kDeleted).FileName({.parent = 24, .parentSequence = 1, .name = u"c.txt"}).ResidentData({'c'}));
  v.Put(v.Record(34, kFile).FileName({.parent = 24, .parentSequence = 3, .name = u"d.txt"}).ResidentData({'d'}));
  // Two folders that name each other as parent.
  v.Put(v.Record(25, kDir).FileName({.parent = 26, .name = u"Loop1"}));
  v.Put(v.Record(26, kDir).FileName({.parent = 25, .name = u"Loop2"}));
  v.Put(v.Record(35, kFile).FileName({.parent = 25, .name = u"e.txt"}).ResidentData({'e'}));
  // The record where the parent should be carries another number; the parent is a file.
  v.PutAt(27, v.Record(50, kDir).FileName({.name = u"Stranger"}).Build());
  v.Put(v.Record(36, kFile).FileName({.parent = 27, .name = u"f.txt"}).ResidentData({'f'}));
  v.Put(v.Record(28, kFile).FileName({.name = u"plain.txt"}).ResidentData({'p'}));
  v.Put(v.Record(37, kFile).FileName({.parent = 28, .name = u"g.txt"}).ResidentData({'g'}));
  // Not listed: a folder without files, NTFS's own records and the files below $Extend.
  v.Put(v.Record(29, kDir).FileName({.name = u"Empty"}));
  v.Put(v.Record(11, kDir).FileName({.name = u"$Extend", .nameSpace = 3}));
  v.Put(v.Record(38, kFile).FileName({.parent = 11, .name = u"$Quota", .nameSpace = 3}).ResidentData({'q'}));
  // A deleted file in the root.
  v.Put(v.Record(39, kDeleted).FileName({.name = u"gone.bin"}).ResidentData({'x'}));

  Scan(Write(GetParam() ? v.bytes() : v.Formatted()));
  EXPECT_EQ(Paths(tree_),
            (std::set<std::string>{"Docs/", "Docs/a.bin", "Old/", "Old/Sub/", "Old/Sub/b.txt", "LostFolder24/",
                                   "LostFolder24/c.txt", "New/", "New/d.txt", "Loop2/", "Loop2/Loop1/",
                                   "Loop2/Loop1/e.txt", "LostFolder27/", "LostFolder27/f.txt", "LostFolder28/",
                                   "LostFolder28/g.txt", "plain.txt", "gone.bin"}));
  std::string folder;
  EXPECT_EQ(engine_.QueryFolderPath(tree_.at("Loop2/Loop1/e.txt"), folder), kSuccess);
  EXPECT_EQ(folder, "Loop2/Loop1/");
  EXPECT_EQ(test::ReadFile(Recover(tree_.at("Docs/a.bin"))), Pattern(3000, 1));
  EXPECT_EQ(test::ReadFile(Recover(tree_.at("Old/Sub/b.txt"))), std::vector<uint8_t>{'b'});

  const ScanLogRecord& a = tree_.at("Docs/a.bin");
  EXPECT_EQ(a.ItemId, 30u);
  EXPECT_EQ(a.LocationSector, v.SectorOf(30));
  EXPECT_EQ(a.PartitionStart, 0u);
  EXPECT_EQ(a.ClusterBytes, 1024u);
  EXPECT_EQ(engine_.SectorsPerCluster(), 2);
  ASSERT_EQ(engine_.KnownMfts().size(), 1u);
  EXPECT_EQ(engine_.KnownMfts()[0]->mft.mftFirstSector, v.SectorOf(0));

  uint64_t start = 0;
  EXPECT_EQ(engine_.DataStartSector(a, start), kSuccess);
  EXPECT_EQ(start, d * 2);
  EXPECT_EQ(engine_.DataStartSector(tree_.at("New/d.txt"), start), kNtfsAttributeNotFound);
  std::vector<MftRun> runs;
  EXPECT_EQ(engine_.GetMftRunsAt(1, runs), kNtfsNotFileRecord);

  std::string temp;
  std::vector<uint8_t> buffer(5000);
  uint32_t size = 0;
  EXPECT_EQ(engine_.ReadItemData(a, temp, buffer, size, nullptr), kSuccess);
  ASSERT_EQ(size, 3000u);
  EXPECT_EQ(std::vector<uint8_t>(buffer.begin(), buffer.begin() + 3000), Pattern(3000, 1));
}

INSTANTIATE_TEST_SUITE_P(BootSector, SyntheticDeepScan, testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Kept" : "Wiped"; });

// Records whose header or attributes contradict themselves are refused and
// leave nothing in the log; the next sound record is taken as usual.
TEST_F(DeepScanTest, RefusesDamagedRecords) {
  SyntheticVolume v;
  Open(Write(v.Formatted()));
  const auto sound = [&] { return v.Record(40, kFile).FileName({.name = u"x.txt"}).ResidentData({'x'}).Build(); };
  const uint32_t first = ByteReader(sound()).U16(0x14);
  struct Case {
    const char* what;
    std::function<void(std::vector<uint8_t>&)> damage;
    size_t keep;  // bytes handed over
    int32_t pass;
    ResultCode expected;
  };
  auto put32 = [](std::vector<uint8_t>& r, size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i) r[at + i] = static_cast<uint8_t>(value >> (8 * i));
  };
  const Case cases[] = {
      {"bytes in use beyond the record size", [&](auto& r) { put32(r, 0x18, 0x4000); }, 1024, 0, kInvalidParameter},
      {"first attribute beyond the bytes in use", [&](auto& r) { r[0x14] = 0xF0, r[0x15] = 0x03; }, 1024, 0,
       kInvalidParameter},
      {"update sequence of the wrong length", [&](auto& r) { r[0x06] = 5; }, 1024, 0, kInvalidParameter},
      {"attribute length past the bytes in use", [&](auto& r) { put32(r, first + 4, 0xFFF8); }, 1024, 0,
       kInvalidParameter},
      {"attribute shorter than its header", [&](auto& r) { put32(r, first + 4, 0x10); }, 1024, 0, kInvalidParameter},
      {"record size that is none", [&](auto& r) { put32(r, 0x1C, 3000); }, 1024, 0, kInvalidParameter},
      {"fewer bytes than the record size", [](auto&) {}, 512, 0, kInvalidParameter},
      {"not a FILE record", [](auto& r) { r[0] = 'B'; }, 1024, 0, kNtfsNotFileRecord},
      {"no such pass", [](auto&) {}, 1024, 2, kInvalidParameter},
      {"no folder queued for pass 1", [](auto&) {}, 1024, 1, kInvalidParameter},
  };
  for (const Case& c : cases) {
    auto record = sound();
    c.damage(record);
    EXPECT_EQ(engine_.ProcessFoundRecord(std::span<const uint8_t>(record).first(c.keep), 100, c.pass, 40), c.expected)
        << c.what;
    EXPECT_EQ(engine_.GetRecordCount(), 0u) << c.what;
  }
  const auto record = sound();
  EXPECT_EQ(engine_.ProcessFoundRecord(record, 100, 0, 0), kSuccess);
  EXPECT_EQ(engine_.GetRecordCount(), 1u);
}

TEST_F(DeepScanTest, EntryPointsNeedALog) {
  SyntheticVolume v;
  {
    // Never opened: a log can be started, but nothing can be read.
    CProfessionalNtfsRecovery unopened;
    ASSERT_EQ(unopened.StartLog(""), kSuccess);
    auto orphan =
        v.Record(40, kFile).FileName({.parent = 20, .name = u"x.bin"}).NonResidentData({{1, 90}}, 100).Build();
    EXPECT_EQ(unopened.ProcessFoundRecord(orphan, 100, 0, 0), kSuccess);
    EXPECT_EQ(unopened.ProcessPendingFolders(), kSuccess);
    EXPECT_EQ(Paths(ListTree(unopened)), (std::set<std::string>{"LostFolder20/", "LostFolder20/x.bin"}));
    std::vector<MftRun> runs;
    EXPECT_NE(unopened.GetMftRunsAt(100, runs), kSuccess);
  }
  ASSERT_EQ(engine_.OpenImage(Write(v.Formatted()), 1), kSuccess);
  const auto record = v.Record(40, kFile).FileName({.name = u"x.txt"}).ResidentData({'x'}).Build();
  EXPECT_EQ(engine_.ProcessFoundRecord(record, 100, 0, 0), kInvalidParameter);
  EXPECT_EQ(engine_.ProcessPendingFolders(), kInvalidParameter);
  std::string path;
  EXPECT_EQ(engine_.QueryFolderPath(ScanLogRecord{}, path), kInvalidParameter);
  std::vector<ScanLogRecord> out;
  EXPECT_EQ(engine_.QueryFolder(nullptr, 0, out), kSuccess);
  EXPECT_EQ(engine_.QueryFolder(nullptr, 1, out), kInvalidParameter);
  EXPECT_TRUE(out.empty());
}

// Two volumes on one source, each with its own cluster size, whose folders
// carry the same record number: each file is placed in its own volume once
// that volume's "$MFT" record has been seen.
TEST_F(DeepScanTest, KeepsTwoVolumesApart) {
  SyntheticVolume first(2, 512), second(4, 512);
  const uint64_t d = SyntheticVolume::kData;
  first.Put(first.Record(20, kDir).FileName({.name = u"Alpha"}));
  first.Put(
      first.Record(30, kFile).FileName({.parent = 20, .name = u"a.bin"}).NonResidentData({{2, int64_t(d)}}, 2048));
  first.PutData(d, Pattern(2048, 3));
  second.Put(second.Record(20, kDir).FileName({.name = u"Beta"}));
  second.Put(
      second.Record(30, kFile).FileName({.parent = 20, .name = u"b.bin"}).NonResidentData({{2, int64_t(d)}}, 4096));
  second.PutData(d, Pattern(4096, 5));
  auto source = first.Formatted();
  const uint64_t secondStart = source.size() / kSector;
  const auto more = second.Formatted();
  source.insert(source.end(), more.begin(), more.end());
  Scan(Write(source));

  EXPECT_EQ(Paths(tree_), (std::set<std::string>{"Alpha/", "Alpha/a.bin", "Beta/", "Beta/b.bin"}));
  EXPECT_EQ(test::ReadFile(Recover(tree_.at("Alpha/a.bin"))), Pattern(2048, 3));
  EXPECT_EQ(test::ReadFile(Recover(tree_.at("Beta/b.bin"))), Pattern(4096, 5));
  EXPECT_EQ(tree_.at("Beta/b.bin").PartitionStart, secondStart);
  EXPECT_EQ(tree_.at("Beta/b.bin").ClusterBytes, 2048u);
  EXPECT_NE(tree_.at("Alpha/").ItemId, tree_.at("Beta/").ItemId);
  ASSERT_EQ(engine_.KnownMfts().size(), 2u);
  std::string folder;
  EXPECT_EQ(engine_.QueryFolderPath(tree_.at("Beta/b.bin"), folder), kSuccess);
  EXPECT_EQ(folder, "Beta/");
}

// A file met before its volume's "$MFT" record (here: the only record handed
// over) is placed through the record 0 that its number points to.
TEST_F(DeepScanTest, FileBeforeItsMftRecordFindsTheVolumeStart) {
  constexpr uint64_t kShift = 100;
  SyntheticVolume v;
  const uint64_t d = SyntheticVolume::kData;
  v.Put(v.Record(30, kDeleted).FileName({.name = u"a.bin"}).NonResidentData({{2, int64_t(d)}}, 2000));
  v.PutData(d, Pattern(2000, 8));
  std::vector<uint8_t> source(kShift * kSector, 0);
  const auto volume = v.Formatted();
  source.insert(source.end(), volume.begin(), volume.end());
  Open(Write(source));
  const uint64_t at = kShift + v.SectorOf(30);
  ASSERT_EQ(engine_.ProcessFoundRecord(std::span<const uint8_t>(source).subspan(at * kSector, 1024), at, 0, 0),
            kSuccess);
  ASSERT_EQ(engine_.ProcessPendingFolders(), kSuccess);
  tree_ = ListTree(engine_);
  ASSERT_EQ(Paths(tree_), std::set<std::string>{"a.bin"});
  EXPECT_EQ(tree_.at("a.bin").PartitionStart, kShift);
  EXPECT_EQ(test::ReadFile(Recover(tree_.at("a.bin"))), Pattern(2000, 8));
}

// A stopped deep scan continues its log: files found then join the folders
// the log already holds.
TEST_F(DeepScanTest, ContinuedLogKeepsItsFolders) {
  SyntheticVolume v;
  v.Put(v.Record(20, kDir).FileName({.name = u"Docs"}));
  v.Put(v.Record(30, kFile).FileName({.parent = 20, .name = u"a.txt"}).ResidentData({'a'}));
  v.Put(v.Record(31, kFile).FileName({.parent = 20, .name = u"b.txt"}).ResidentData({'b'}));
  const std::string source = Write(v.Formatted());
  const auto bytes = v.Formatted();
  auto recordAt = [&](uint32_t n) { return std::span<const uint8_t>(bytes).subspan(v.SectorOf(n) * kSector, 1024); };
  Open(source);
  ASSERT_EQ(engine_.ProcessFoundRecord(recordAt(30), v.SectorOf(30), 0, 0), kSuccess);
  ASSERT_EQ(engine_.ProcessPendingFolders(), kSuccess);
  std::string name;
  ASSERT_EQ(CScanHistory::Instance().FindLogFile(kProNtfsLogPrefix, name, CScanHistory::Instance().GetScanFolder()),
            kSuccess);

  CProfessionalNtfsRecovery resumed;
  ASSERT_EQ(resumed.OpenImage(source, 7), kSuccess);
  ASSERT_EQ(resumed.StartLog(name), kSuccess);
  ASSERT_EQ(resumed.ProcessFoundRecord(recordAt(31), v.SectorOf(31), 0, 0), kSuccess);
  ASSERT_EQ(resumed.ProcessPendingFolders(), kSuccess);
  EXPECT_EQ(Paths(ListTree(resumed)), (std::set<std::string>{"Docs/", "Docs/a.txt", "Docs/b.txt"}));
}

// ---- Cluster sizes ----

TEST(NtfsClusterSize, GuessedFromTheVolumeSize) {
  struct Case {
    uint32_t bytesPerSector;
    uint64_t bytes;
    int32_t expected;
  };
  constexpr uint64_t MiB = 1 << 20;
  const Case cases[] = {
      {512, 4 * MiB, 8},          {512, 7 * MiB, 8},     {512, 100 * MiB, 1},
      {512, 512 * MiB, 1},        {512, 1024 * MiB, 2},  {512, 2048 * MiB, 4},
      {512, 100 * 1024 * MiB, 8}, {4096, 1024 * MiB, 1}, {4096, 16 * 1024 * MiB, 4},
  };
  for (const Case& c : cases)
    EXPECT_EQ(GuessNtfsSectorsPerCluster(c.bytesPerSector, c.bytes / c.bytesPerSector), c.expected)
        << c.bytes / MiB << " MiB of " << c.bytesPerSector << "-byte sectors";
}

TEST(NtfsClusterSize, LearnedFromAFileRecord) {
  struct Case {
    const char* what;
    MftRecordBuilder record;
    uint32_t expected;
  };
  auto file = [] { return MftRecordBuilder(40, kFile).FileName({.name = u"x"}); };
  const Case cases[] = {
      {"2 clusters of 4 KiB", file().NonResidentData({{2, 100}}, 8192), 8},
      {"3 runs of 512 bytes", file().NonResidentData({{1, 100}, {1, 5}, {1, 9}}, 1536), 1},
      {"64 KiB clusters", file().NonResidentData({{1, 100}}, 65536), 128},
      {"a size that is no whole number of clusters", file().NonResidentData({{3, 100}}, 4608), 0},
      {"resident data", file().ResidentData({1, 2, 3}), 0},
      {"an extent that does not start the file", file().NonResidentData({{2, 100}}, 8192, 4), 0},
      {"an attribute list first",
       file().AttributeList(test::AttributeListEntry(0x80, 0, 40)).NonResidentData({{2, 100}}, 8192), 0},
      {"no $DATA", file(), 0},
  };
  for (const Case& c : cases) EXPECT_EQ(LearnSectorsPerCluster(c.record.BuildPlain(), 512), c.expected) << c.what;
}

}  // namespace
}  // namespace selvane
