// The deep scan coordinator: what it walks (free runs of an intact volume,
// the whole of anything else), how its progress moves, blocks whose data
// crosses their end, unreadable blocks, stopping and resuming, the history it
// leaves, and the merge that lists a file found twice only once.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "engine/fast_ntfs_recovery.h"
#include "engine/professional_recovery.h"
#include "engine/recovery_factory.h"
#include "platform/read_faults.h"
#include "results/categories.h"
#include "support/carving_support.h"
#include "support/data_dir.h"
#include "support/ntfs_builder.h"
#include "support/test_support.h"

namespace selvane {
namespace {

using test::MftRecordBuilder;

constexpr uint16_t kImageId = 1001;
constexpr uint32_t kBlockSectors = 128;  // 64 KiB of 512-byte sectors

std::unique_ptr<CProfessionalRecovery> OpenDeep(const std::string& image) {
  auto engine = CreateRecoveryForImage(image, kImageId, ScanMode::Professional);
  auto* deep = dynamic_cast<CProfessionalRecovery*>(engine.get());
  if (!deep) return nullptr;
  engine.release();
  return std::unique_ptr<CProfessionalRecovery>(deep);
}

// One report of the scan's progress callback.
struct Report {
  int32_t shown;  // percent x scale / 100: the bar
  int32_t percent, scale;
  uint64_t done, total, files;
};

// Runs a scan, recording every report; `stopAfter` walk reports (scale 90)
// end it with kScanStopCode.
ResultCode RunScan(CProfessionalRecovery& engine, std::vector<Report>& reports, int stopAfter = -1) {
  int walkReports = 0;
  engine.SetCallbacks(
      [&](int32_t percent, int32_t scale, int32_t, uint64_t done, uint64_t total, uint64_t files) -> int32_t {
        reports.push_back({percent * scale / 100, percent, scale, done, total, files});
        if (scale == CProfessionalRecovery::kWalkScale && ++walkReports == stopAfter) return kScanStopCode;
        return 0;
      },
      nullptr, 100);
  return engine.Scan("");
}

// Every file the engine lists, as "engine|folder path|name|size|first sector".
std::set<std::string> FoundFiles(CProfessionalRecovery& engine) {
  std::vector<ScanLogRecord> records;
  EXPECT_EQ(engine.QueryCategory(std::string(AllCategoriesFilter()) + "|.other", records), kSuccess);
  std::set<std::string> found;
  for (const ScanLogRecord& r : records) {
    std::string folder;
    engine.QueryFolderPath(r, folder);
    found.insert(std::to_string(r.EngineCode) + "|" + folder + std::string(r.NameView()) + "|" +
                 std::to_string(r.FileSize) + "|" + std::to_string(r.LocationSector));
  }
  return found;
}

std::vector<uint8_t> Slice(const std::vector<uint8_t>& bytes, size_t offset, size_t length) {
  return std::vector<uint8_t>(bytes.begin() + static_cast<ptrdiff_t>(offset),
                              bytes.begin() + static_cast<ptrdiff_t>(offset + length));
}

// A real JPEG of the carving fixture (9,793 bytes).
std::vector<uint8_t> SampleJpeg() {
  const std::string image = test::Fixture("carving.img");
  if (image.empty()) return {};
  for (const auto& sample : test::ReadCarvingManifest(test::Fixture("carving.manifest")))
    if (sample.extension == "jpg" && sample.rule == "exact") return Slice(test::ReadFile(image), sample.offset, sample.length);
  return {};
}

class DeepScan : public testing::Test {
 protected:
  test::DataDirScope data_;
  test::TempDir dir_;
};

TEST_F(DeepScan, TheFactoryGivesItForEveryKindOfVolume) {
  for (const char* name : {"ntfs.img", "fat16.img", "ext4.img", "bitlocker.img", "carving.img"}) {
    const std::string image = test::Fixture(name);
    if (image.empty()) continue;
    auto engine = OpenDeep(image);
    ASSERT_TRUE(engine) << name;
    EXPECT_FALSE(engine->CanResume()) << name;
  }
  EXPECT_TRUE(MakeEngine(FileSystemKind::Unknown, ScanMode::Professional));
}

// A healthy NTFS volume: the deleted files first (0-9 % of the bar), then only
// its free runs (9-99 %), then 100 %.
TEST_F(DeepScan, HealthyNtfsWalksOnlyItsFreeRunsWithTheBarInTwoShares) {
  const std::string image = test::Fixture("ntfs.img");
  if (image.empty()) GTEST_SKIP() << "ntfs.img is not in the build tree";
  auto engine = OpenDeep(image);
  ASSERT_TRUE(engine);
  std::vector<Report> reports;
  ASSERT_EQ(RunScan(*engine, reports), kSuccess);

  // The free runs as the fast engine sees them.
  CFastNtfsRecovery fast;
  ASSERT_EQ(fast.OpenImage(image, 1), kSuccess);
  ASSERT_EQ(fast.LoadAllocationBitmap(), kSuccess);
  uint64_t free = 0;
  for (uint64_t sector = 0, length = 0;; sector += length) {
    fast.FindFreeRun(sector, length);
    if (length == 0) break;
    free += length;
  }
  EXPECT_EQ(engine->WalkTotal(), free);
  std::ifstream file(image, std::ios::binary | std::ios::ate);
  EXPECT_LT(free, static_cast<uint64_t>(file.tellg()) / 512);

  ASSERT_FALSE(reports.empty());
  EXPECT_EQ(reports.back().shown, 100);
  int32_t last = 0;
  bool walked = false;
  for (size_t i = 0; i + 1 < reports.size(); ++i) {
    const Report& r = reports[i];
    EXPECT_GE(r.shown, last) << i;
    last = r.shown;
    if (r.scale == CProfessionalRecovery::kDeletedPhaseScale) {
      EXPECT_FALSE(walked);
      EXPECT_LE(r.shown, 9);
    } else {
      ASSERT_EQ(r.scale, CProfessionalRecovery::kWalkScale);
      walked = true;
      EXPECT_GE(r.shown, 9);
      EXPECT_LE(r.shown, 99);
      EXPECT_EQ(r.total, free);
    }
  }
  EXPECT_TRUE(walked);
  EXPECT_EQ(reports[reports.size() - 2].shown, 99);
}

// Anything without a usable allocation map is walked whole: an unknown file
// system (no deleted-file phase) and an ext volume.
TEST_F(DeepScan, UnknownAndExtVolumesAreWalkedWhole) {
  for (const char* name : {"carving.img", "ext4.img"}) {
    const std::string image = test::Fixture(name);
    if (image.empty()) continue;
    auto engine = OpenDeep(image);
    ASSERT_TRUE(engine);
    std::vector<Report> reports;
    ASSERT_EQ(RunScan(*engine, reports), kSuccess);
    std::ifstream file(image, std::ios::binary | std::ios::ate);
    EXPECT_EQ(engine->WalkTotal(), static_cast<uint64_t>(file.tellg()) / 512) << name;
    EXPECT_EQ(reports.front().scale, CProfessionalRecovery::kWalkScale) << name;
    EXPECT_EQ(engine->DeletedEngine() != nullptr, std::string(name) == "ext4.img");
  }
}

// Sectors handed on in place, and what lies across a block's end: a carved
// file is skipped as a whole (the next block starts right after it), and an
// MFT record in a block's last sector is read again in full.
TEST_F(DeepScan, DataCrossingTheEndOfABlock) {
  const std::vector<uint8_t> jpeg = SampleJpeg();
  if (jpeg.empty()) GTEST_SKIP() << "carving.img is not in the build tree";
  const uint64_t jpegSectors = (jpeg.size() + 511) / 512;
  std::vector<uint8_t> image(512 * 1024, 0);
  // The JPEG starts in the last sector of block 0.
  std::copy(jpeg.begin(), jpeg.end(), image.begin() + (kBlockSectors - 1) * 512);
  // Two MFT records of deleted files: in the last sector of block 3 and
  // inside block 4; and two that are no records to take.
  auto put = [&](uint64_t sector, const std::vector<uint8_t>& bytes) {
    std::copy(bytes.begin(), bytes.end(), image.begin() + static_cast<ptrdiff_t>(sector * 512));
  };
  auto file = [](uint32_t number, const std::u16string& name, uint16_t flags = 0) {
    return MftRecordBuilder(number, flags).FileName({.name = name, .realSize = 5}).ResidentData({1, 2, 3, 4, 5});
  };
  put(4 * kBlockSectors - 1, file(70, u"crossing.txt").Build());
  put(4 * kBlockSectors + 10, file(71, u"inside.txt").Build());
  put(4 * kBlockSectors + 20, file(72, u"folder", 0x0002).Build());
  std::vector<uint8_t> spilling = file(73, u"spilling.txt").Build();
  spilling[0x19] = 0x10;  // bytes in use: 4 KiB, beyond the 1 KiB record
  put(4 * kBlockSectors + 30, spilling);
  const std::string path = dir_ / "blocks.img";
  test::WriteFile(path, image);

  auto engine = OpenDeep(path);
  ASSERT_TRUE(engine);
  std::vector<Report> reports;
  ASSERT_EQ(RunScan(*engine, reports), kSuccess);
  ASSERT_GE(reports.size(), 2u);
  // The walk reports after each block; the JPEG's size rule reports while it
  // reads ahead too, which is why only these counts are looked for.
  std::set<uint64_t> done;
  for (size_t i = 0; i < reports.size(); ++i) {
    done.insert(reports[i].done);
    if (i > 0) {
      EXPECT_GE(reports[i].shown, reports[i - 1].shown) << "the bar moved back at report " << i;
    }
  }
  EXPECT_TRUE(done.count(kBlockSectors - 1 + jpegSectors));
  EXPECT_TRUE(done.count(2 * kBlockSectors - 1 + jpegSectors));
  EXPECT_EQ(reports[reports.size() - 2].done, image.size() / 512);

  std::set<std::string> names;
  for (const std::string& found : FoundFiles(*engine)) names.insert(found.substr(0, found.find('|', 2)));
  EXPECT_EQ(names, (std::set<std::string>{"2|crossing.txt", "2|inside.txt", "4|127.jpg"}));
}

// A block that cannot be read is passed over and counted as done; the walk
// goes on and finds what lies after it.
TEST_F(DeepScan, UnreadableBlocksArePassedOver) {
  const std::string fixture = test::Fixture("carving.img");
  if (fixture.empty()) GTEST_SKIP() << "carving.img is not in the build tree";
  const std::string image = dir_ / "carving.img";
  std::filesystem::copy_file(fixture, image);
  // The first sector of block 1 cannot be read: the read of that block delivers nothing.
  constexpr uint64_t kBlockBytes = kBlockSectors * 512;
  AddReadFault(image, kBlockBytes, kBlockBytes + 512);
  struct Clear {
    ~Clear() { ClearReadFaults(); }
  } clear;

  auto engine = OpenDeep(image);
  ASSERT_TRUE(engine);
  std::vector<Report> reports;
  ASSERT_EQ(RunScan(*engine, reports), kSuccess);
  EXPECT_EQ(reports.back().shown, 100);
  EXPECT_EQ(reports[reports.size() - 2].done, engine->WalkTotal());
  const std::set<std::string> found = FoundFiles(*engine);
  int before = 0, inside = 0, after = 0;
  for (const auto& s : test::ReadCarvingManifest(test::Fixture("carving.manifest"))) {
    const std::string prefix = "4|" + std::to_string(s.offset / 512) + "." + s.extension + "|";
    const bool listed =
        std::any_of(found.begin(), found.end(), [&](const std::string& f) { return f.starts_with(prefix); });
    const uint64_t block = s.offset / kBlockBytes;
    // A file in block 0 that runs into block 1 may fail its measuring.
    if (block == 0 && s.offset + s.length <= kBlockBytes) before += listed ? 1 : -100;
    if (block == 1) inside += listed ? 1 : 0;
    if (block >= 2 && s.rule == "exact") after += listed ? 1 : -100;
  }
  EXPECT_EQ(before, 2);
  EXPECT_EQ(inside, 0);
  EXPECT_GT(after, 20);
}

// Stopped part-way (in the walk, or in the deleted-file phase) and resumed, a
// scan ends with the same files as one that ran through.
struct ResumeCase {
  const char* fixture;
  int stopAfter;  // walk reports before the stop
};

class DeepScanResume : public DeepScan, public testing::WithParamInterface<ResumeCase> {};

TEST_P(DeepScanResume, EndsWithTheSameFilesAsAnUninterruptedScan) {
  const std::string fixture = test::Fixture(GetParam().fixture);
  if (fixture.empty()) GTEST_SKIP() << GetParam().fixture << " is not in the build tree";
  const std::string image = dir_ / "source.img";
  std::filesystem::copy_file(fixture, image);

  std::set<std::string> whole;
  {
    auto engine = OpenDeep(image);
    ASSERT_TRUE(engine);
    std::vector<Report> reports;
    ASSERT_EQ(RunScan(*engine, reports), kSuccess);
    whole = FoundFiles(*engine);
    ASSERT_FALSE(whole.empty());
  }
  std::string folder;
  WalkPosition stoppedAt;
  {
    auto engine = OpenDeep(image);
    ASSERT_TRUE(engine);
    ASSERT_TRUE(engine->CanResume());  // the finished scan above
    engine->DiscardEarlierScan();
    std::vector<Report> reports;
    ASSERT_EQ(RunScan(*engine, reports, GetParam().stopAfter), kScanStopCode);
    stoppedAt = engine->LastPosition();
    ASSERT_NE(stoppedAt.runLength, 0u);
    // Stopped after a block, or inside one while a carved file was measured.
    EXPECT_LE(stoppedAt.sectorsDone, reports.back().done);
    folder = engine->ScanFolder();
  }
  CScanHistory::ResetForTests();  // as a new run of the program
  auto engine = OpenDeep(image);
  ASSERT_TRUE(engine);
  ASSERT_TRUE(engine->CanResume());
  EXPECT_EQ(engine->EarlierScan().walk.offsetInRun, stoppedAt.offsetInRun);
  std::vector<Report> reports;
  ASSERT_EQ(RunScan(*engine, reports), kSuccess);
  EXPECT_EQ(engine->ScanFolder(), folder);
  ASSERT_FALSE(reports.empty());
  EXPECT_GT(reports.front().done, stoppedAt.sectorsDone);  // the walk went on from where it stopped
  EXPECT_EQ(FoundFiles(*engine), whole);
  EXPECT_EQ(engine->LastPosition().runLength, 0u);
}

INSTANTIATE_TEST_SUITE_P(Stops, DeepScanResume,
                         testing::Values(ResumeCase{"carving.img", 3}, ResumeCase{"carving.img", 9},
                                         ResumeCase{"disk-mbr.img", 40}, ResumeCase{"disk-mbr.img", 700}, ResumeCase{"ntfs-as-fat32.img", 2}, ResumeCase{"ntfs-as-fat32.img", 20},
                                         ResumeCase{"fat32-reformatted.img", 5}, ResumeCase{"fat32-reformatted.img", 10}, ResumeCase{"fat32-noboot.img", 9}),
                         [](const auto& info) {
                           std::string name = info.param.fixture;
                           name = name.substr(0, name.find('.'));
                           std::replace(name.begin(), name.end(), '-', '_');
                           return name + "_" + std::to_string(info.param.stopAfter);
                         });

// A deleted-file engine that finds nothing and whose scan gives a set result.
class StubDeletedEngine final : public IFileRecoveryParse {
 public:
  explicit StubDeletedEngine(ResultCode scanResult) : scanResult_(scanResult) {}
  ResultCode OpenImage(const std::string&, uint16_t) override { return kSuccess; }
  ResultCode OpenPartition(int32_t, uint64_t, uint64_t, uint16_t) override { return kSuccess; }
  ResultCode SetCallbacks(ProgressCallback, FileProgressCallback, int32_t) override { return kSuccess; }
  ResultCode Scan(const std::string&) override { return scanResult_; }
  ResultCode QueryFolder(const ScanLogRecord*, uint32_t, std::vector<ScanLogRecord>&) override { return kSuccess; }
  ResultCode QueryFileCount(const ScanLogRecord*, uint32_t, uint32_t& count) override {
    count = 0;
    return kSuccess;
  }
  uint64_t GetRecordCount() override { return 0; }
  ResultCode QueryFolderPath(const ScanLogRecord&, std::string&) override { return kSuccess; }
  ResultCode RecoverItem(const ScanLogRecord&, const std::string&, int32_t) override { return kSuccess; }
  ResultCode FindFreeRun(uint64_t&, uint64_t& count) override {
    count = 0;
    return 1;
  }
  ResultCode SetSearchProgress(SearchProgressCallback) override { return kSuccess; }
  ResultCode QueryCategory(const std::string&, std::vector<ScanLogRecord>&) override { return kSuccess; }
  ResultCode LoadAllocationBitmap() override { return kReadFault; }
  ResultCode ReadItemData(const ScanLogRecord&, std::string&, std::span<uint8_t>, uint32_t&,
                          ReadProgressCallback) override {
    return kSuccess;
  }

 private:
  ResultCode scanResult_;
};

std::unique_ptr<CProfessionalRecovery> OpenWithStub(const std::string& image, ResultCode scanResult) {
  FastEngineMaker maker;
  maker.forImage = [scanResult](const std::string&, uint16_t) {
    return std::make_unique<StubDeletedEngine>(scanResult);
  };
  auto engine = std::make_unique<CProfessionalRecovery>(maker);
  EXPECT_EQ(engine->OpenImage(image, kImageId), kSuccess);
  return engine;
}

// A failed deleted-file phase ends the scan before the walk. A new scan then
// leaves no history entry and gives its number back; a resumed one keeps the
// position it had.
TEST_F(DeepScan, AFailedDeletedFilePhaseEndsTheScan) {
  const std::string fixture = test::Fixture("ntfs.img");
  if (fixture.empty()) GTEST_SKIP() << "ntfs.img is not in the build tree";
  const std::string image = dir_ / "ntfs.img";
  std::filesystem::copy_file(fixture, image);
  CScanHistory& history = CScanHistory::Instance();
  const uint64_t counter = history.Counter();
  {
    auto engine = OpenDeep(image);
    ASSERT_TRUE(engine);
    engine->SetCallbacks([](int32_t, int32_t, int32_t, uint64_t, uint64_t, uint64_t) { return kScanStopCode; },
                         nullptr, 100);
    EXPECT_EQ(engine->Scan(""), kScanStopCode);
  }
  EXPECT_EQ(history.Counter(), counter);
  EXPECT_TRUE(history.Entries().empty());

  WalkPosition saved;
  {
    auto engine = OpenWithStub(image, kSuccess);
    std::vector<Report> reports;
    ASSERT_EQ(RunScan(*engine, reports, 2), kScanStopCode);
    saved = engine->LastPosition();
    EXPECT_EQ(saved.offsetInRun, 2 * kBlockSectors);
  }
  {
    auto engine = OpenWithStub(image, kReadFault);
    ASSERT_TRUE(engine->CanResume());
    std::vector<Report> reports;
    EXPECT_EQ(RunScan(*engine, reports), kReadFault);
    EXPECT_TRUE(reports.empty());
  }
  ASSERT_EQ(history.Entries().size(), 1u);
  EXPECT_EQ(history.Entries()[0].walk.offsetInRun, saved.offsetInRun);
  EXPECT_EQ(history.Entries()[0].walk.runLength, saved.runLength);
}

// A deleted JPEG that the NTFS engine lists and carving also finds at its
// first sector is listed once; so is x.thm holding a JPEG. A JPEG under
// another extension (notes.txt) stays listed twice: the two differ.
TEST_F(DeepScan, AFileFoundByTheFileSystemIsNotListedAgainAsCarved) {
  const std::vector<uint8_t> jpeg = SampleJpeg();
  if (jpeg.empty()) GTEST_SKIP() << "carving.img is not in the build tree";
  // 4 KiB clusters: boot sector, MFT (80 records) from cluster 4, $Bitmap at 24, data after it.
  constexpr uint64_t kClusters = 256, kMft = 4, kBitmap = 24;
  test::NtfsImageBuilder volume(512, 8, kClusters, kMft, 80);
  volume.PutStandardMftRecord();
  volume.PutRecord(5, MftRecordBuilder(5, 0x0003).FileName({.parent = 5, .name = u".", .nameSpace = 3}).Build());
  std::vector<uint8_t> bits(kClusters / 8, 0);
  for (uint64_t c = 0; c <= kBitmap; ++c) bits[c / 8] |= static_cast<uint8_t>(1u << (c % 8));
  volume.PutData(kBitmap, bits);
  volume.PutRecord(6, MftRecordBuilder(6, 0x0001)
                          .FileName({.name = u"$Bitmap", .nameSpace = 3})
                          .NonResidentData({{1, static_cast<int64_t>(kBitmap)}}, bits.size())
                          .Build());
  const uint64_t jpegClusters = (jpeg.size() + 4095) / 4096;
  const std::vector<std::pair<std::u16string, uint64_t>> files = {
      {u"photo.jpg", 30}, {u"x.thm", 40}, {u"notes.txt", 50}};
  uint32_t number = 64;
  for (const auto& [name, cluster] : files) {
    volume.PutData(cluster, jpeg);
    volume.PutRecord(number, MftRecordBuilder(number, 0x0000)
                                 .FileName({.name = name, .realSize = jpeg.size()})
                                 .NonResidentData({{jpegClusters, static_cast<int64_t>(cluster)}}, jpeg.size())
                                 .Build());
    ++number;
  }
  const std::string image = dir_ / "ntfs-jpeg.img";
  volume.WriteTo(image);

  auto engine = OpenDeep(image);
  ASSERT_TRUE(engine);
  std::vector<Report> reports;
  ASSERT_EQ(RunScan(*engine, reports), kSuccess);
  ASSERT_EQ(engine->Kind(), FileSystemKind::Ntfs);

  std::vector<ScanLogRecord> pictures;
  ASSERT_EQ(engine->QueryCategory(std::string(kPictureList) + "|" + std::string(kDocumentList), pictures), kSuccess);
  std::multiset<std::string> names;
  for (const ScanLogRecord& r : pictures) names.insert(std::to_string(r.EngineCode) + "|" + std::string(r.NameView()));
  EXPECT_EQ(names, (std::multiset<std::string>{"0|photo.jpg", "0|x.thm", "0|notes.txt", "4|400.jpg"}));

  // The command line's listing drops the same records.
  std::vector<ScanLogRecord> all = pictures;
  engine->QueryFolder(nullptr, 0, all);
  engine->RemoveCarvedDuplicates(all);
  EXPECT_EQ(std::count_if(all.begin(), all.end(), [](const ScanLogRecord& r) { return r.EngineCode == 4; }), 2);
}

TEST_F(DeepScan, QueriesAreHandedToTheEngineThatFoundTheRecord) {
  const std::string image = test::Fixture("disk-mbr.img");
  if (image.empty()) GTEST_SKIP() << "disk-mbr.img is not in the build tree";
  auto engine = OpenDeep(image);
  ASSERT_TRUE(engine);
  std::vector<Report> reports;
  ASSERT_EQ(RunScan(*engine, reports), kSuccess);

  std::vector<ScanLogRecord> root;
  EXPECT_EQ(engine->QueryFolder(nullptr, 1, root), kInvalidParameter);
  ASSERT_EQ(engine->QueryFolder(nullptr, 0, root), kSuccess);
  // The roots of the FAT, NTFS and carving engines: files first, then
  // folders, each by name. Folder listings show the carved copy of
  // "Foto 1.png" too; only the category search leaves it out.
  std::vector<std::string> names;
  for (const ScanLogRecord& r : root) names.push_back(std::string(r.NameView()));
  EXPECT_EQ(names,
            (std::vector<std::string>{"!lt.txt", "3344.png", "Archiv.bin", "Liesmich.txt", "Bilder", "Dokumente"}));
  uint32_t count = 0;
  ASSERT_EQ(engine->QueryFileCount(nullptr, 0, count), kSuccess);
  EXPECT_EQ(count, 8u);
  EXPECT_EQ(engine->GetRecordCount(), 10u);

  const auto folder = std::find_if(root.begin(), root.end(), [](const auto& r) { return r.NameView() == "Dokumente"; });
  ASSERT_NE(folder, root.end());
  std::vector<ScanLogRecord> inside;
  ASSERT_EQ(engine->QueryFolder(&*folder, 1, inside), kSuccess);
  ASSERT_EQ(inside.size(), 2u);
  std::string path;
  ASSERT_EQ(engine->QueryFolderPath(inside[0], path), kSuccess);
  EXPECT_EQ(path, "Dokumente/");
  ASSERT_EQ(engine->RecoverItem(inside[0], dir_ / "out.bin", 0), kSuccess);
  EXPECT_EQ(std::filesystem::file_size(dir_ / "out.bin"), inside[0].FileSize);
  const auto text = std::find_if(root.begin(), root.end(), [](const auto& r) { return r.NameView() == "Liesmich.txt"; });
  ASSERT_NE(text, root.end());
  std::vector<uint8_t> buffer(4096);
  uint32_t size = static_cast<uint32_t>(buffer.size());
  std::string temporary;
  ASSERT_EQ(engine->ReadItemData(*text, temporary, buffer, size, nullptr), kSuccess);
  EXPECT_EQ(size, text->FileSize);

  ScanLogRecord stranger = inside[0];
  stranger.EngineCode = 9;
  std::vector<ScanLogRecord> none;
  EXPECT_EQ(engine->QueryFolder(&stranger, 1, none), kSuccess);
  EXPECT_TRUE(none.empty());
  EXPECT_EQ(engine->RecoverItem(stranger, dir_ / "stranger.bin", 0), kSuccess);
  EXPECT_FALSE(std::filesystem::exists(dir_ / "stranger.bin"));
}

}  // namespace
}  // namespace selvane
