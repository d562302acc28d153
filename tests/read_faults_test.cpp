// Sources with unreadable areas (SELVANE_READ_FAULTS makes listed byte ranges
// fail like bad sectors): scans go on past them and end normally; a file whose
// data cannot be read fails alone while the others are recovered; an image copy
// stops at the first bad sector, or with --skip-bad fills it with zeros and goes on.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <sstream>

#include "support/data_dir.h"
#include "support/test_support.h"

namespace selvane {
namespace {

namespace fs = std::filesystem;
using test::RunSelvane;

std::string FaultEnv(const std::string& path, uint64_t begin, uint64_t end) {
  return "SELVANE_READ_FAULTS='" + path + ":" + std::to_string(begin) + "-" + std::to_string(end) + "'";
}

size_t LineCount(const std::string& text) { return static_cast<size_t>(std::count(text.begin(), text.end(), '\n')); }

// sha256 -> path of every file below `folder`.
std::map<std::string, std::string> FilesByHash(const std::string& folder) {
  std::map<std::string, std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(folder))
    if (entry.is_regular_file()) files[test::Sha256OfFile(entry.path().string())] = entry.path().string();
  return files;
}

class ReadFaults : public testing::Test {
 protected:
  // A private copy of a fixture, so that faults name no shared file.
  std::string Copy(const std::string& name) {
    const std::string fixture = test::Fixture(name);
    if (fixture.empty()) return "";
    const std::string copy = dir_ / name;
    fs::copy_file(fixture, copy);
    return copy;
  }

  test::DataDirScope data_;
  test::TempDir dir_;
};

// The fast scans of both file systems and the deep scan meet an unreadable
// stretch (a folder, MFT records, file data) and still end normally with what
// lies outside it.
TEST_F(ReadFaults, ScansGoOnPastAnUnreadableRange) {
  struct Case {
    const char* fixture;
    const char* mode;
    uint64_t begin, end;  // bytes; 0, 0: found below
  };
  const Case cases[] = {
      // The first subfolder of the FAT12 image (found below).
      {"fat12.img", "fast", 0, 0},
      // A run of MFT records past the system files (found below).
      {"ntfs.img", "fast", 0, 0},
      // The carving image's GIF and BMP samples, between others found on either side.
      {"carving.img", "deep", 97280, 103936},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fixture);
    const std::string image = Copy(c.fixture);
    if (image.empty()) continue;
    uint64_t begin = c.begin, end = c.end;
    const auto bytes = test::ReadFile(image);
    ASSERT_GE(bytes.size(), 512u);
    if (std::string(c.fixture) == "ntfs.img") {
      // Records 70..77, from the boot sector's MFT cluster.
      const uint64_t cluster = (uint64_t{bytes[11]} | uint64_t{bytes[12]} << 8) * bytes[13];
      uint64_t mftCluster = 0;
      for (int i = 7; i >= 0; --i) mftCluster = (mftCluster << 8) | bytes[0x30 + i];
      begin = mftCluster * cluster + 70 * 1024;
      end = begin + 8 * 1024;
    } else if (begin == end) {
      // The first sector of the data area that begins a folder ("." entry).
      const char dot[] = ".          ";
      for (uint64_t at = 33 * 512; at + 512 <= bytes.size() && begin == end; at += 512)
        if (std::equal(dot, dot + 11, bytes.begin() + static_cast<std::ptrdiff_t>(at))) begin = at, end = at + 512;
      ASSERT_NE(begin, end);
    }
    const auto clean = RunSelvane({"scan", image, "--mode", c.mode, "--restart", "--json"});
    ASSERT_EQ(clean.exitCode, 0) << clean.err;
    const auto faulty =
        RunSelvane({"scan", image, "--mode", c.mode, "--restart", "--json"}, FaultEnv(image, begin, end));
    EXPECT_EQ(faulty.exitCode, 0) << faulty.err;
    EXPECT_GT(LineCount(faulty.out), 0u);
    EXPECT_LE(LineCount(faulty.out), LineCount(clean.out));
    if (std::string(c.fixture) == "carving.img") {
      // Samples before and after the bad range are still found.
      EXPECT_NE(faulty.out.find(".jpg\""), std::string::npos) << faulty.out;
      EXPECT_NE(faulty.out.find(".pdf\""), std::string::npos) << faulty.out;
      EXPECT_NE(faulty.out.find(".mp3\""), std::string::npos) << faulty.out;
    }
  }
}

// A deleted file whose data is unreadable is reported with its read error; the
// other files are recovered and the run ends with "some failed" (4).
TEST_F(ReadFaults, RecoveryReportsTheUnreadableFileAndGoesOn) {
  const std::string image = Copy("fat12.img");
  if (image.empty()) GTEST_SKIP() << "fat12.img is not in the build tree";
  const auto clean = RunSelvane({"recover", image, "--mode", "fast", "--to", dir_ / "clean"});
  ASSERT_EQ(clean.exitCode, 0) << clean.err;
  const auto files = FilesByHash(dir_ / "clean");
  // /REPORT.DOC, 3333 deleted bytes.
  const auto report = files.find("701f1d4cd2ddee7e43d64a6b542ac253860be6b7c43f32c4b1b52371694fc1fe");
  ASSERT_NE(report, files.end());
  const auto content = test::ReadFile(report->second);
  const auto bytes = test::ReadFile(image);
  const auto at = std::search(bytes.begin(), bytes.end(), content.begin(), content.begin() + 512);
  ASSERT_NE(at, bytes.end());
  const uint64_t offset = static_cast<uint64_t>(at - bytes.begin());

  const auto faulty =
      RunSelvane({"recover", image, "--mode", "fast", "--to", dir_ / "faulty"}, FaultEnv(image, offset + 512, offset + 1024));
  EXPECT_EQ(faulty.exitCode, 4) << faulty.err;
  EXPECT_NE(faulty.err.find("The system cannot read from the specified device."), std::string::npos) << faulty.err;
  EXPECT_NE(faulty.err.find("eport.doc"), std::string::npos) << faulty.err;
  const auto recovered = FilesByHash(dir_ / "faulty");
  EXPECT_EQ(recovered.count(report->first), 0u);
  for (const auto& [hash, path] : files) {
    if (hash != report->first) {
      EXPECT_TRUE(recovered.count(hash)) << path;
    }
  }
}

class ImageReadFaults : public ReadFaults {
 protected:
  void SetUp() override {
    image_ = Copy("fat12.img");
    if (image_.empty()) GTEST_SKIP() << "fat12.img is not in the build tree";
    sysfs_.AddDisk("sdb", image_, fs::file_size(image_) / 512, 512, true, "usb1/1-1/1-1:1.0/host6");
  }
  std::string image_;
  test::FakeSysfs sysfs_{dir_.path() / "root"};
};

// Sectors 300 and 301 are unreadable: the copy stops there with "source
// unreadable" (3) and keeps what it read before.
TEST_F(ImageReadFaults, CopyStopsAtTheFirstBadSector) {
  const auto result = RunSelvane({"image", sysfs_.DevPath("sdb"), dir_ / "copy.img"}, FaultEnv(image_, 300 * 512, 302 * 512));
  EXPECT_EQ(result.exitCode, 3) << result.err;
  EXPECT_NE(result.err.find("read error at sector 300"), std::string::npos) << result.err;
  const auto copy = test::ReadFile(dir_ / "copy.img");
  const auto source = test::ReadFile(image_);
  ASSERT_LE(copy.size(), 300u * 512);
  EXPECT_TRUE(std::equal(copy.begin(), copy.end(), source.begin()));
}

// With --skip-bad the copy goes on: the bad sectors are zeros in the image,
// everything else is copied, and the count of skipped sectors is reported.
TEST_F(ImageReadFaults, SkipBadFillsUnreadableSectorsWithZeros) {
  const auto result = RunSelvane({"image", sysfs_.DevPath("sdb"), dir_ / "copy.img", "--skip-bad"},
                                 FaultEnv(image_, 300 * 512 + 100, 302 * 512));
  EXPECT_EQ(result.exitCode, 0) << result.err;
  EXPECT_NE(result.err.find("2 unreadable sectors (the first is sector 300)"), std::string::npos) << result.err;
  auto expected = test::ReadFile(image_);
  std::fill(expected.begin() + 300 * 512, expected.begin() + 302 * 512, 0);
  EXPECT_TRUE(test::ReadFile(dir_ / "copy.img") == expected);
}

}  // namespace
}  // namespace selvane
