#include "storage/image_copy.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "support/test_support.h"

namespace selvane {
namespace {

using test::FakeSysfs;
using test::TempDir;

std::vector<uint8_t> Pattern(size_t size) {
  std::vector<uint8_t> bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(i * 13 + i / 512 * 7);
  return bytes;
}

struct Report {
  int32_t percent;
  uint64_t done;
  uint64_t total;
  int32_t secondsLeft;
};

class ImageCopy : public ::testing::Test {
 protected:
  TempDir dir;
  FakeSysfs sysfs{dir.path() / "root"};
  std::vector<uint8_t> driveBytes = Pattern(3000 * 512);
  std::vector<Report> reports;

  void SetUp() override {
    test::WriteFile(dir / "drive.img", driveBytes);
    sysfs.AddDisk("sdb", dir / "drive.img", 3000, 512, true, "usb1/1-1");
    sysfs.AddPartition("sdb", "sdb1", 1, 1200, 1000);
  }

  ImageProgressCallback Recorder(int32_t stopAtReport = -1) {
    return [this, stopAtReport](int32_t percent, uint64_t done, uint64_t total, int32_t secondsLeft) -> int32_t {
      reports.push_back({percent, done, total, secondsLeft});
      return static_cast<int32_t>(reports.size()) == stopAtReport ? kScanStopCode : 0;
    };
  }

  std::vector<uint8_t> DriveRange(uint64_t firstSector, uint64_t sectors) const {
    return {driveBytes.begin() + static_cast<long>(firstSector * 512),
            driveBytes.begin() + static_cast<long>((firstSector + sectors) * 512)};
  }
};

TEST_F(ImageCopy, PartitionImageIsItsSectorsInOrderEndingWithAShortChunk) {
  // An older, longer file of the same name must not keep its tail.
  test::WriteFile(dir / "out/part.img", std::vector<uint8_t>(2 << 20, 0xAA));
  ImageCopyJob job;
  ASSERT_EQ(CopyDiskToImage(job, 0, 1200, 1000, dir / "out/part.img", Recorder()), kSuccess);

  const auto image = test::ReadFile(dir / "out/part.img");
  ASSERT_EQ(image.size(), 512000u);
  EXPECT_TRUE(image == DriveRange(1200, 1000)) << "starts with the partition's first sector, all in order";
  EXPECT_EQ(job.sectorsCopied, 1000u);
  EXPECT_FALSE(job.image.IsOpen());
  EXPECT_FALSE(job.drive.handle.IsOpen());

  // 512,000 bytes: seven chunks of 64 KiB and a last one of 104 sectors.
  ASSERT_EQ(reports.size(), 8u);
  for (size_t i = 0; i < 7; ++i) EXPECT_EQ(reports[i].done, 128u * (i + 1));
  EXPECT_EQ(reports[7].done, 1000u);
  EXPECT_EQ(reports[7].total, 1000u);
  EXPECT_EQ(reports[7].percent, 100);
  EXPECT_EQ(reports[0].percent, 12);
}

TEST_F(ImageCopy, WholeDriveWhenNoCountIsGiven) {
  ImageCopyJob job;
  ASSERT_EQ(CopyDiskToImage(job, 0, 0, 0, dir / "whole.img", nullptr), kSuccess);
  EXPECT_TRUE(test::ReadFile(dir / "whole.img") == driveBytes);
  EXPECT_EQ(job.sectorCount, 3000u);
}

TEST_F(ImageCopy, StopKeepsWhatWasCopied) {
  ImageCopyJob job;
  EXPECT_EQ(CopyDiskToImage(job, 0, 0, 0, dir / "stopped.img", Recorder(3)), kScanStopCode);
  EXPECT_EQ(job.sectorsCopied, 384u);
  EXPECT_TRUE(test::ReadFile(dir / "stopped.img") == DriveRange(0, 384));
  EXPECT_FALSE(job.image.IsOpen());
}

TEST_F(ImageCopy, ReadErrorEndsWith30KeepingEveryWholeSectorRead) {
  // The drive ends 300.25 sectors in, though it claims 3,000.
  std::filesystem::resize_file(dir / "drive.img", 300 * 512 + 128);
  ImageCopyJob job;
  EXPECT_EQ(CopyDiskToImage(job, 0, 0, 0, dir / "short.img", Recorder()), kReadFault);
  EXPECT_EQ(job.sectorsCopied, 300u);
  EXPECT_TRUE(test::ReadFile(dir / "short.img") == DriveRange(0, 300));
  EXPECT_EQ(reports.size(), 2u) << "no report for the failing chunk";
}

TEST_F(ImageCopy, TimeLeftIsEstimatedEveryFiveSeconds) {
  ImageCopyJob job;
  uint64_t now = 0;
  job.clockMs = [&now] { return now += 1000; };
  ASSERT_EQ(CopyDiskToImage(job, 0, 1200, 1000, dir / "timed.img", Recorder()), kSuccess);
  ASSERT_EQ(reports.size(), 8u);
  for (size_t i = 0; i < 4; ++i) EXPECT_EQ(reports[i].secondsLeft, -1) << i;
  // After five seconds and 320 KiB: 64 KiB/s, 180 KiB left.
  EXPECT_EQ(reports[4].secondsLeft, 2);
  EXPECT_EQ(reports[7].secondsLeft, 2) << "kept until the next estimate";
}

TEST_F(ImageCopy, RefusesToWriteOntoTheSource) {
  ImageCopyJob job;
  EXPECT_EQ(CopyDiskToImage(job, 0, 0, 0, dir / "drive.img", nullptr), kInvalidParameter);
  EXPECT_EQ(CopyDiskToImage(job, 0, 1200, 1000, sysfs.DevPath("sdb"), nullptr), kInvalidParameter);
  EXPECT_TRUE(test::ReadFile(dir / "drive.img") == driveBytes);
}

TEST_F(ImageCopy, FailuresToOpenEitherSide) {
  ImageCopyJob job;
  EXPECT_EQ(CopyDiskToImage(job, 5, 0, 0, dir / "none.img", nullptr), kFileNotFound);
  EXPECT_FALSE(std::filesystem::exists(dir / "none.img")) << "no image without a source";
  test::WriteFile(dir / "file", {1});
  EXPECT_NE(CopyDiskToImage(job, 0, 0, 0, dir / "file/inside.img", nullptr), kSuccess);
}

TEST(WriteWholeSectors, FullDestinationReportsDiskFull) {
  FileHandle full;
  if (OpenFile("/dev/full", OpenMode::ReadWrite, full) != kSuccess) GTEST_SKIP() << "no /dev/full";
  std::vector<uint8_t> buffer(4 * 512, 1);
  uint32_t written = 99;
  EXPECT_EQ(WriteWholeSectors(full, buffer.data(), 4, 512, written), kDiskFull);
  EXPECT_EQ(written, 0u);
}

}  // namespace
}  // namespace selvane
