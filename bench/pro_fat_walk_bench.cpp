// The FAT formatted-volume engine inside the deep scan's walk, against its
// floor. A synthetic 63 MiB disk without boot sector holds 1,000 directories
// of 14 files each (one directory sector per 15 clusters, the rest zeros):
//   ReadOnly     reading the disk in 64 KiB blocks (from the page cache)
//   Dispatch     the same, plus the coordinator's two sector tests
//   Walk         the same, plus the engine: geometry learning, records, folder
//                tree, the first sector of every file read for its check
// Compare the times of the three.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/professional_fat_recovery.h"
#include "results/scan_history.h"
#include "storage/disk_device.h"

namespace {

using namespace selvane;

constexpr uint32_t kSectorsPerCluster = 8;
constexpr uint64_t kDataStart = 9216;
constexpr uint32_t kDirectories = 1000;
constexpr uint32_t kFilesPerDirectory = 14;
constexpr uint32_t kClustersPerDirectory = 1 + kFilesPerDirectory;

void Put16(uint8_t* at, uint32_t v) {
  at[0] = static_cast<uint8_t>(v);
  at[1] = static_cast<uint8_t>(v >> 8);
}

void Entry(uint8_t* e, const char* name83, uint8_t attributes, uint32_t cluster, uint32_t size) {
  std::copy_n(name83, 11, e);
  e[11] = attributes;
  const uint16_t date = ((2021 - 1980) << 9) | (6 << 5) | 15;
  const uint16_t time = 12 << 11;
  for (size_t at : {14, 22}) Put16(e + at, time);
  for (size_t at : {16, 18, 24}) Put16(e + at, date);
  Put16(e + 20, cluster >> 16);
  Put16(e + 26, cluster & 0xFFFF);
  Put16(e + 28, size);
  Put16(e + 30, size >> 16);
}

class Disk {
 public:
  Disk() {
    folder_ = std::filesystem::temp_directory_path() / ("selvane-pfat-bench-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder_);
    ::setenv("SELVANE_DATA_DIR", (folder_ / "data").c_str(), 1);
    CScanHistory::ResetForTests();
    path_ = (folder_ / "disk.img").string();
    const int fd = ::open(path_.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0644);
    const uint64_t clusters = uint64_t{kDirectories} * kClustersPerDirectory;
    if (fd < 0 || ::ftruncate(fd, static_cast<off_t>((kDataStart + clusters * kSectorsPerCluster) * 512)) != 0) std::abort();
    std::vector<uint8_t> sector(512);
    for (uint32_t d = 0; d < kDirectories; ++d) {
      const uint32_t cluster = 3 + d * kClustersPerDirectory;
      std::fill(sector.begin(), sector.end(), 0);
      Entry(&sector[0], ".          ", 0x10, cluster, 0);
      Entry(&sector[32], "..         ", 0x10, 0, 0);
      for (uint32_t f = 0; f < kFilesPerDirectory; ++f) {
        char name[12];
        std::snprintf(name, sizeof name, "F%07uBIN", d * 100 + f);
        Entry(&sector[64 + 32 * f], name, 0x20, cluster + 1 + f, 4000);
      }
      const uint64_t at = kDataStart + uint64_t{cluster - 2} * kSectorsPerCluster;
      if (::pwrite(fd, sector.data(), sector.size(), static_cast<off_t>(at * 512)) != 512) std::abort();
    }
    ::close(fd);
  }
  ~Disk() {
    std::error_code ec;
    std::filesystem::remove_all(folder_, ec);
  }
  const std::string& path() const { return path_; }

 private:
  std::filesystem::path folder_;
  std::string path_;
};

const Disk& TheDisk() {
  static const Disk disk;
  return disk;
}

enum class Work { ReadOnly, Dispatch, Walk };

void Run(benchmark::State& state, Work work) {
  const Disk& disk = TheDisk();
  DiskDevice device;
  if (OpenImageFile(disk.path(), device) != kSuccess) std::abort();
  std::vector<uint8_t> block(65536);
  uint64_t directorySectors = 0;
  for (auto _ : state) {
    CProfessionalFatRecovery engine;
    if (work == Work::Walk) {
      engine.OpenImage(disk.path(), 1);
      engine.StartFatLog("");
      engine.PrepareFatWalk();
    }
    directorySectors = 0;
    for (uint64_t at = 0; at < device.totalSectors; at += 128) {
      const auto n = static_cast<uint32_t>(std::min<uint64_t>(128, device.totalSectors - at));
      uint32_t read = 0;
      ReadSectors(static_cast<int32_t>(n), device, block.data(), at, 512, read);
      if (work == Work::ReadOnly) continue;
      for (uint32_t i = 0; i < read; ++i) {
        const std::span<const uint8_t> sector(block.data() + size_t{i} * 512, 512);
        if (CProfessionalFatRecovery::IsDirectoryStartSector(sector)) {
          ++directorySectors;
          if (work == Work::Walk) engine.OnDirectoryStart(sector, at + i);
        } else if (CProfessionalFatRecovery::IsFatDirectorySector(sector)) {
          ++directorySectors;
          if (work == Work::Walk) engine.OnDirectorySector(sector, at + i);
        }
      }
      benchmark::DoNotOptimize(block.data());
    }
    if (work == Work::Walk) {
      engine.FinishFatWalk();
      if (engine.GetRecordCount() != uint64_t{kDirectories} * (kFilesPerDirectory + 1)) std::abort();
      std::filesystem::remove_all(std::filesystem::path(engine.Log()->MainPath()).parent_path());
    }
  }
  state.counters["directory sectors"] = static_cast<double>(directorySectors);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * device.totalSectors * 512));
}

void BM_ReadOnly(benchmark::State& state) { Run(state, Work::ReadOnly); }
void BM_Dispatch(benchmark::State& state) { Run(state, Work::Dispatch); }
void BM_Walk(benchmark::State& state) { Run(state, Work::Walk); }

BENCHMARK(BM_ReadOnly)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Dispatch)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Walk)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
