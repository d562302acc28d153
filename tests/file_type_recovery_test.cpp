// The carving engine: what CarveSector records and how far the walk may skip,
// the root-only folder queries, and reading carved files back for recovery
// and preview.
#include <gtest/gtest.h>

#include <filesystem>

#include "engine/file_type_recovery.h"
#include "platform/user_folders.h"
#include "support/carving_sources.h"
#include "support/data_dir.h"
#include "support/test_support.h"

namespace selvane {
namespace {

using namespace std::literals;
using test::Put;

class FileTypeRecoveryTest : public ::testing::Test {
 protected:
  // An image of 3,000 sectors of filler with a JPEG of 10,000 bytes at sector
  // 2,000 and a BMP at sector 2,100.
  void SetUp() override {
    std::vector<uint8_t> image(512 * 3000, 0x11);
    Put(image, 512 * 2000, "\xFF\xD8\xFF\xE0\x00\x10JFIF\x00"sv);
    Put(image, 512 * 2000 + 9998, "\xFF\xD9"sv);
    std::fill_n(image.begin() + 512 * 2000 + 10000, 512 * 20 - 10000, 0);
    Put(image, 512 * 2100, "BM\x36\x10\x00\x00\x00\x00\x00\x00\x36\x00\x00\x00\x28\x00\x00\x00"sv);
    imagePath_ = dir_ / "disk.img";
    test::WriteFile(imagePath_, image);
    ASSERT_EQ(engine_.OpenImage(imagePath_, 7), kSuccess);
    ASSERT_EQ(OpenImageFile(imagePath_, walk_), kSuccess);
  }

  ResultCode Carve(uint64_t sector, uint64_t& consumed) {
    std::vector<uint8_t> data(512);
    uint32_t read = 0;
    ReadSectors(1, walk_, data.data(), sector, 512, read);
    consumed = 1;
    return engine_.CarveSector(512, data, sector, sector, walk_.totalSectors, -1, walk_, consumed, found_);
  }

  test::DataDirScope data_;
  test::TempDir dir_;
  std::string imagePath_;
  CFileTypeRecovery engine_;
  DiskDevice walk_;
  uint64_t found_ = 0;
};

TEST_F(FileTypeRecoveryTest, CarvedFilesAreRecordedInTheRoot) {
  uint64_t consumed = 0;
  EXPECT_EQ(Carve(1999, consumed), kInvalidParameter);
  EXPECT_EQ(consumed, 1u);
  ASSERT_EQ(Carve(2000, consumed), kSuccess);
  EXPECT_EQ(consumed, 20u) << "the walk goes on at sector 2,020";
  ASSERT_EQ(Carve(2100, consumed), kSuccess);
  EXPECT_EQ(consumed, 1u) << "a BMP's size comes from its header: the walk goes on with the next sector";
  EXPECT_EQ(found_, 2u);
  EXPECT_EQ(engine_.GetRecordCount(), 2u);

  std::vector<ScanLogRecord> root;
  ASSERT_EQ(engine_.QueryFolder(nullptr, 0, root), kSuccess);
  ASSERT_EQ(root.size(), 2u);
  const ScanLogRecord& jpeg = root[0].NameView() == "2000.jpg" ? root[0] : root[1];
  EXPECT_EQ(jpeg.NameView(), "2000.jpg");
  EXPECT_EQ(jpeg.FileSize, 10000u);
  EXPECT_EQ(jpeg.LocationSector, 2000u);
  EXPECT_EQ(jpeg.VolumeLetter, 7u);
  EXPECT_EQ(jpeg.EngineCode, kEngineCarving);
  EXPECT_EQ(jpeg.ClusterBytes, kNoClusterSize);
  EXPECT_EQ(jpeg.Intact, 1u);
  EXPECT_EQ(jpeg.IsFolder, 0u);
  EXPECT_EQ(jpeg.ItemId, 0u);
  EXPECT_EQ(jpeg.CreationTime, 0u);

  std::vector<ScanLogRecord> none;
  EXPECT_EQ(engine_.QueryFolder(&jpeg, 0, none), kSuccess);
  EXPECT_EQ(engine_.QueryFolder(nullptr, 1, none), kSuccess);
  EXPECT_TRUE(none.empty()) << "carved files have no folders";
  uint32_t count = 0;
  EXPECT_EQ(engine_.QueryFileCount(nullptr, 0, count), kSuccess);
  EXPECT_EQ(count, 2u);
  std::vector<ScanLogRecord> pictures;
  EXPECT_EQ(engine_.QueryCategory("*.jpg|*.bmp", pictures), kSuccess);
  EXPECT_EQ(pictures.size(), 2u);
}

TEST_F(FileTypeRecoveryTest, RecoverItemWritesExactlyTheFileSize) {
  ScanLogRecord record;
  record.SetName("2000.jpg");
  record.FileSize = 1000;
  record.LocationSector = 2000;
  std::vector<std::tuple<int32_t, int32_t, ResultCode>> calls;
  engine_.SetCallbacks(nullptr,
                       [&](int32_t percent, int32_t scale, ResultCode error, const std::string&) {
                         calls.emplace_back(percent, scale, error);
                         return 0;
                       },
                       100);
  const std::string path = dir_ / "out/sub/2000.jpg";
  ASSERT_EQ(engine_.RecoverItem(record, path, 0), kSuccess);
  const auto written = test::ReadFile(path);
  ASSERT_EQ(written.size(), 1000u);
  const auto image = test::ReadFile(imagePath_);
  EXPECT_TRUE(std::equal(written.begin(), written.end(), image.begin() + 512 * 2000));
  ASSERT_EQ(calls.size(), 1u) << "one chunk of two sectors, reported once";
  EXPECT_EQ(calls[0], std::make_tuple(100, 100, kSuccess));

  // A file reaching past the end of the source: the read fails and is reported.
  calls.clear();
  record.LocationSector = 2999;
  EXPECT_EQ(engine_.RecoverItem(record, path, 0), kReadFault);
  ASSERT_FALSE(calls.empty());
  EXPECT_EQ(calls.back(), std::make_tuple(100, 100, kReadFault));
}

TEST_F(FileTypeRecoveryTest, PreviewGoesToATemporaryFileOrTheBuffer) {
  const std::string root = ScanLogRoot();
  const struct {
    const char* name;
    std::string target;
  } cases[] = {
      {"x.docx", root + "/x.docx"},
      {"y.png", root + "/tmp.jpg"},
      {"z.mp3", root + "/tmp.avi"},
      {"v.mkv", root + "/tmp.avi"},
      {"w.ttf", ""},
  };
  for (const auto& c : cases) {
    ScanLogRecord record;
    record.SetName(c.name);
    record.FileSize = 10000;
    record.LocationSector = 2000;
    std::string tempPath;
    std::vector<uint8_t> buffer(4096);
    uint32_t size = static_cast<uint32_t>(buffer.size());
    int hundred = 0;
    ASSERT_EQ(engine_.ReadItemData(record, tempPath, buffer, size,
                                   [&](int32_t percent, ResultCode) {
                                     hundred += percent == 100;
                                     return 0;
                                   }),
              kSuccess)
        << c.name;
    EXPECT_EQ(tempPath, c.target) << c.name;
    EXPECT_EQ(hundred, 1) << c.name;
    if (c.target.empty()) {
      EXPECT_EQ(size, 4096u) << "as much as the buffer holds";
      EXPECT_EQ(buffer[0], 0xFF);
    } else {
      EXPECT_EQ(size, 0u);
      EXPECT_EQ(test::ReadFile(c.target).size(), 10000u) << c.name;
    }
  }
}

TEST_F(FileTypeRecoveryTest, FailedPreviewLeavesNoTemporaryFile) {
  ScanLogRecord record;
  record.SetName("y.png");
  record.FileSize = 512 * 300;  // runs past the end of the image
  record.LocationSector = 2900;
  std::string tempPath;
  std::vector<uint8_t> buffer(16);
  uint32_t size = 16;
  std::vector<std::pair<int32_t, ResultCode>> calls;
  EXPECT_EQ(engine_.ReadItemData(record, tempPath, buffer, size,
                                 [&](int32_t percent, ResultCode error) {
                                   calls.emplace_back(percent, error);
                                   return 0;
                                 }),
            kReadFault);
  ASSERT_FALSE(calls.empty());
  EXPECT_EQ(calls.back(), std::make_pair(100, kReadFault));
  EXPECT_FALSE(std::filesystem::exists(tempPath));
}

TEST(FileTypeRecovery, WithoutALogQueriesFindNothing) {
  CFileTypeRecovery engine;
  std::vector<ScanLogRecord> out;
  EXPECT_EQ(engine.QueryFolder(nullptr, 0, out), kSuccess);
  EXPECT_TRUE(out.empty());
  EXPECT_EQ(engine.GetRecordCount(), 0u);
  EXPECT_EQ(engine.SetSearchProgress(nullptr), kInvalidParameter);
}

}  // namespace
}  // namespace selvane
