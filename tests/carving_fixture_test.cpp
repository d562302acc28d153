// Carving a raw image of real sample files through the carving engine, sector
// by sector as the deep scan walks a volume: every sample that has a size rule
// is found at its first sector, measured exactly wherever its format marks its
// end, and recovered byte for byte.
#include <gtest/gtest.h>

#include <map>

#include "engine/file_type_recovery.h"
#include "storage/disk_device.h"
#include "support/carving_support.h"
#include "support/data_dir.h"
#include "support/test_support.h"

namespace selvane {
namespace {

TEST(CarvingFixture, EverySampleIsFoundMeasuredAndRecovered) {
  const std::string image = test::Fixture("carving.img");
  if (image.empty()) GTEST_SKIP() << "fixture carving.img is missing";
  const auto samples = test::ReadCarvingManifest(test::Fixture("carving.manifest"));
  ASSERT_GE(samples.size(), 40u);
  test::DataDirScope data;

  CFileTypeRecovery engine;
  ASSERT_EQ(engine.OpenImage(image, 3), kSuccess);
  DiskDevice walk;
  ASSERT_EQ(OpenImageFile(image, walk), kSuccess);
  engine.ClearTransportStreamRanges();
  std::vector<uint8_t> sector(512);
  uint64_t filesFound = 0;
  for (uint64_t s = 0; s < walk.totalSectors;) {
    uint32_t read = 0;
    ASSERT_EQ(ReadSectors(1, walk, sector.data(), s, 512, read), kSuccess);
    uint64_t consumed = 1;
    const ResultCode rc = engine.CarveSector(512, sector, s, s, walk.totalSectors, -1, walk, consumed, filesFound);
    ASSERT_TRUE(rc == kSuccess || rc == kInvalidParameter) << rc;
    s += consumed;
  }

  std::vector<ScanLogRecord> records;
  ASSERT_EQ(engine.QueryFolder(nullptr, 0, records), kSuccess);
  EXPECT_EQ(records.size(), filesFound);
  std::map<uint64_t, ScanLogRecord> byStart;
  for (const auto& r : records) byStart[r.LocationSector] = r;

  test::TempDir out;
  for (const auto& sample : samples) {
    SCOPED_TRACE(sample.extension + " at byte " + std::to_string(sample.offset) + " (" + sample.origin + ")");
    const uint64_t start = sample.offset / 512;
    const auto it = byStart.find(start);
    if (sample.rule == "none") {
      EXPECT_EQ(it, byStart.end()) << "recognised kinds without a size rule are not carved";
      continue;
    }
    ASSERT_NE(it, byStart.end()) << "not found";
    const ScanLogRecord& record = it->second;
    EXPECT_EQ(record.NameView(), std::to_string(start) + "." + sample.extension);
    if (sample.rule == "atleast") {
      EXPECT_GE(record.FileSize, sample.length);
      continue;
    }
    EXPECT_EQ(record.FileSize, sample.length);
    const std::string path = out / std::string(record.NameView());
    ASSERT_EQ(engine.RecoverItem(record, path, 0), kSuccess);
    EXPECT_EQ(test::Sha256OfFile(path), sample.sha256);
  }
}

}  // namespace
}  // namespace selvane
