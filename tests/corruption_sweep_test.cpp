// Damaged sources: every fixture image is copied a few times with seeded random
// byte flips and zeroed stretches (aimed half at file-system structures), and a
// full deep scan of each copy must end, list its root and recover a few small
// files without a crash or a sanitizer report. A watchdog aborts a scan that
// runs far beyond what the image's size explains (an endless loop).
// By default only images up to 16 MiB are swept, to keep the suite short.
//   SELVANE_SWEEP_COUNT=N  copies per image (default 2), and every image up to
//                          128 MiB (all but the 4 GiB sparse one)
//   SELVANE_SWEEP_SEED=S   first seed (default 1); a failure names its seed
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <random>
#include <thread>

#include "engine/recovery_factory.h"
#include "support/data_dir.h"
#include "support/test_support.h"

namespace selvane {
namespace {

namespace fs = std::filesystem;

uint64_t EnvNumber(const char* name, uint64_t fallback) {
  const char* value = std::getenv(name);
  return value && *value ? std::strtoull(value, nullptr, 10) : fallback;
}

// Sectors worth aiming at: the first 64 KiB (boot sectors, FATs, root folders)
// and sectors that begin like NTFS records or index blocks, or hold FAT
// directory entries ("." entry).
std::vector<uint64_t> StructureSectors(const std::vector<uint8_t>& image) {
  std::vector<uint64_t> sectors;
  for (uint64_t s = 0; (s + 1) * 512 <= image.size(); ++s) {
    const uint8_t* p = image.data() + s * 512;
    if (s < 128 || !std::memcmp(p, "FILE", 4) || !std::memcmp(p, "INDX", 4) || !std::memcmp(p, ".          ", 11))
      sectors.push_back(s);
  }
  return sectors;
}

// A reproducible mutant of `image`: byte flips and zeroed ranges from the seed.
std::vector<uint8_t> Mutate(std::vector<uint8_t> image, const std::vector<uint64_t>& structure, uint64_t seed) {
  std::mt19937_64 random(seed);
  const uint64_t size = image.size();
  auto pick = [&](bool aimed) -> uint64_t {
    if (aimed && !structure.empty()) return structure[random() % structure.size()] * 512 + random() % 512;
    return random() % size;
  };
  const int flips = 8 + static_cast<int>(random() % 120);
  for (int i = 0; i < flips; ++i) image[pick(i % 2 == 0)] ^= static_cast<uint8_t>(1 + random() % 255);
  const int zeroed = static_cast<int>(random() % 4);
  for (int i = 0; i < zeroed; ++i) {
    const uint64_t at = pick(i % 2 == 0);
    const uint64_t length = std::min<uint64_t>(size - at, 1 + random() % 8192);
    std::fill_n(image.begin() + static_cast<std::ptrdiff_t>(at), length, uint8_t{0});
  }
  return image;
}

// Aborts the process, naming the mutant, when a scan outlives its bound.
class Watchdog {
 public:
  Watchdog(std::string what, std::chrono::seconds bound) : what_(std::move(what)) {
    thread_ = std::thread([this, bound] {
      std::unique_lock lock(mutex_);
      if (!done_.wait_for(lock, bound, [this] { return finished_; })) {
        std::fprintf(stderr, "corruption sweep: %s did not finish within %llds\n", what_.c_str(),
                     static_cast<long long>(bound.count()));
        std::abort();
      }
    });
  }
  ~Watchdog() {
    {
      std::lock_guard lock(mutex_);
      finished_ = true;
    }
    done_.notify_all();
    thread_.join();
  }

 private:
  std::string what_;
  std::mutex mutex_;
  std::condition_variable done_;
  bool finished_ = false;
  std::thread thread_;
};

TEST(CorruptionSweep, DeepScansOfDamagedImagesEnd) {
  const uint64_t count = EnvNumber("SELVANE_SWEEP_COUNT", 2);
  const uint64_t largest = std::getenv("SELVANE_SWEEP_COUNT") ? (128u << 20) : (16u << 20);
  const uint64_t firstSeed = EnvNumber("SELVANE_SWEEP_SEED", 1);
  std::vector<fs::path> fixtures;
  for (const auto& entry : fs::directory_iterator(fs::path(test::Fixture("fat12.img")).parent_path()))
    if (entry.path().extension() == ".img") fixtures.push_back(entry.path());
  std::sort(fixtures.begin(), fixtures.end());
  if (fixtures.empty()) GTEST_SKIP() << "no fixture images in the build tree";

  test::DataDirScope data;
  const auto started = std::chrono::steady_clock::now();
  test::TempDir dir;
  uint16_t sourceId = 2000;
  for (const fs::path& fixture : fixtures) {
    // The 4 GiB sparse FAT32 image would cost gigabytes per copy; its file
    // system is the same as that of the smaller FAT32 images.
    if (fs::file_size(fixture) > largest) continue;
    const auto original = test::ReadFile(fixture.string());
    const auto structure = StructureSectors(original);
    // Half as many copies of images of 16 MiB and more keep the sweep short.
    const uint64_t copies = original.size() >= (16u << 20) ? std::max<uint64_t>(count / 2, 1) : count;
    for (uint64_t seed = firstSeed; seed < firstSeed + copies; ++seed) {
      const std::string what = fixture.filename().string() + " seed " + std::to_string(seed);
      SCOPED_TRACE(what);
      const std::string mutant = dir / "mutant.img";
      test::WriteFile(mutant, Mutate(original, structure, seed));

      // Generous: a minute plus a second per MiB (a sanitizer build scans
      // several MiB a second).
      Watchdog watchdog(what, std::chrono::seconds(60 + (original.size() >> 20)));
      auto engine = CreateRecoveryForImage(mutant, sourceId++, ScanMode::Professional);
      if (!engine) continue;  // too short to hold a volume
      const ResultCode rc = engine->Scan("");
      EXPECT_TRUE(rc == kSuccess || rc > 0) << rc;
      if (rc != kSuccess) continue;
      std::vector<ScanLogRecord> root;
      engine->QueryFolder(nullptr, 0, root);
      int recovered = 0;
      for (const ScanLogRecord& record : root) {
        if (record.IsFolderRecord() || record.FileSize > (1u << 20) || ++recovered > 8) continue;
        engine->RecoverItem(record, dir / (std::to_string(sourceId) + "-" + std::to_string(recovered)), 0);
      }
      if (std::getenv("SELVANE_SWEEP_VERBOSE"))
        std::fprintf(stderr, "%s: %lld ms\n", what.c_str(),
                     static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                                std::chrono::steady_clock::now() - started)
                                                .count()));
    }
  }
}

}  // namespace
}  // namespace selvane
