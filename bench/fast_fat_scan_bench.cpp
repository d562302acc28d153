// The fast FAT scan against its floor: reading every directory cluster of the
// volume once, and the first sector of every deleted file, which the scan reads
// to tell whether the file's data still matches its type. A synthetic FAT32
// volume of 4 KiB clusters holds 400 folders of 120 files each, every other
// file deleted, with long names. Compare the times of the three.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

#include "engine/fast_fat_recovery.h"
#include "results/scan_history.h"
#include "storage/disk_device.h"

namespace {

using namespace selvane;

constexpr uint32_t kBytesPerSector = 512;
constexpr uint32_t kSectorsPerCluster = 8;
constexpr uint32_t kClusterBytes = kBytesPerSector * kSectorsPerCluster;
constexpr uint32_t kReserved = 32;
constexpr uint32_t kFolders = 400;
constexpr uint32_t kFilesPerFolder = 120;
constexpr uint64_t kTotalSectors = 2'000'000;  // ~1 GiB, written sparse

class SyntheticVolume {
 public:
  SyntheticVolume() {
    folder_ = std::filesystem::temp_directory_path() / ("selvane-fat-bench-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder_);
    ::setenv("SELVANE_DATA_DIR", (folder_ / "data").c_str(), 1);
    CScanHistory::ResetForTests();
    path_ = (folder_ / "volume.img").string();
    Build();
  }
  ~SyntheticVolume() {
    std::error_code ec;
    std::filesystem::remove_all(folder_, ec);
  }
  const std::string& path() const { return path_; }
  const std::vector<uint32_t>& directoryClusters() const { return directoryClusters_; }
  const std::vector<uint32_t>& deletedFileClusters() const { return deletedFileClusters_; }
  uint64_t ClusterSector(uint32_t cluster) const { return firstData_ + uint64_t{cluster - 2} * kSectorsPerCluster; }

 private:
  static void Put16(std::vector<uint8_t>& b, size_t at, uint32_t v) {
    b[at] = static_cast<uint8_t>(v);
    b[at + 1] = static_cast<uint8_t>(v >> 8);
  }
  static void Put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
    Put16(b, at, v);
    Put16(b, at + 2, v >> 16);
  }
  void Entry(std::vector<uint8_t>& dir, size_t slot, const std::string& name83, uint8_t attr, uint32_t cluster,
             uint32_t size, bool deleted) {
    const size_t at = slot * 32;
    for (size_t i = 0; i < 11; ++i) dir[at + i] = i < name83.size() ? static_cast<uint8_t>(name83[i]) : ' ';
    if (deleted) dir[at] = 0xE5;
    dir[at + 11] = attr;
    const uint32_t date = ((2021 - 1980) << 9) | (6 << 5) | 15, time = (12 << 11) | (30 << 5);
    Put16(dir, at + 14, time);
    Put16(dir, at + 16, date);
    Put16(dir, at + 18, date);
    Put16(dir, at + 20, cluster >> 16);
    Put16(dir, at + 22, time);
    Put16(dir, at + 24, date);
    Put16(dir, at + 26, cluster & 0xFFFF);
    Put32(dir, at + 28, size);
  }
  void LongName(std::vector<uint8_t>& dir, size_t slot, const std::string& name, bool deleted) {
    static constexpr size_t kOffsets[13] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
    const size_t at = slot * 32;
    dir[at] = deleted ? 0xE5 : 0x41;
    dir[at + 11] = 0x0F;
    for (size_t i = 0; i < 13; ++i) Put16(dir, at + kOffsets[i], i < name.size() ? name[i] : (i == name.size() ? 0 : 0xFFFF));
  }

  void Build() {
    const uint32_t clusters = static_cast<uint32_t>((kTotalSectors - kReserved) / kSectorsPerCluster);
    const uint32_t sectorsPerFat = (clusters + 2) * 4 / kBytesPerSector + 1;
    firstData_ = kReserved + 2 * sectorsPerFat;
    std::vector<uint32_t> fat(clusters + 2, 0);
    fat[0] = 0x0FFFFFF8;
    fat[1] = 0x0FFFFFFF;
    std::ofstream out(path_, std::ios::binary | std::ios::trunc);
    auto writeAt = [&](uint64_t offset, const std::vector<uint8_t>& bytes) {
      out.seekp(static_cast<std::streamoff>(offset));
      out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    };

    // The root holds one entry per folder in clusters 2..5.
    constexpr uint32_t kRootClusters = 4;
    std::vector<uint8_t> root(kRootClusters * kClusterBytes, 0);
    for (uint32_t c = 2; c < 2 + kRootClusters; ++c) {
      directoryClusters_.push_back(c);
      fat[c] = c + 1 < 2 + kRootClusters ? c + 1 : 0x0FFFFFFF;
    }
    uint32_t next = 2 + kRootClusters;
    for (uint32_t f = 0; f < kFolders; ++f) {
      // Each folder: ".", "..", then per file one long-name slot and its 8.3 slot.
      const uint32_t slots = 2 + 2 * kFilesPerFolder;
      const uint32_t dirClusters = (slots * 32 + kClusterBytes - 1) / kClusterBytes;
      const uint32_t first = next;
      std::vector<uint8_t> dir(size_t{dirClusters} * kClusterBytes, 0);
      for (uint32_t c = 0; c < dirClusters; ++c) {
        directoryClusters_.push_back(first + c);
        fat[first + c] = c + 1 < dirClusters ? first + c + 1 : 0x0FFFFFFF;
      }
      next += dirClusters;
      Entry(dir, 0, ".", 0x10, first, 0, false);
      Entry(dir, 1, "..", 0x10, 0, 0, false);
      for (uint32_t i = 0; i < kFilesPerFolder; ++i) {
        const bool deleted = i % 2 == 0;
        const uint32_t data = next++;
        if (deleted)
          deletedFileClusters_.push_back(data);
        else
          fat[data] = 0x0FFFFFFF;
        char name[16];
        std::snprintf(name, sizeof name, "File %04u.dat", i);
        LongName(dir, 2 + 2 * i, name, deleted);
        std::snprintf(name, sizeof name, "FILE%04uDAT", i);
        Entry(dir, 3 + 2 * i, name, 0x20, data, 1000, deleted);
      }
      writeAt(ClusterSector(first) * kBytesPerSector, dir);
      char name[16];
      std::snprintf(name, sizeof name, "DIR%05u   ", f);
      Entry(root, f, name, 0x10, first, 0, false);
    }
    writeAt(ClusterSector(2) * kBytesPerSector, root);

    std::vector<uint8_t> boot(kBytesPerSector, 0);
    boot[0] = 0xEB;
    boot[1] = 0x58;
    boot[2] = 0x90;
    Put16(boot, 0x0B, kBytesPerSector);
    boot[0x0D] = kSectorsPerCluster;
    Put16(boot, 0x0E, kReserved);
    boot[0x10] = 2;
    boot[0x15] = 0xF8;
    Put32(boot, 0x20, static_cast<uint32_t>(kTotalSectors));
    Put32(boot, 0x24, sectorsPerFat);
    Put32(boot, 0x2C, 2);
    for (size_t i = 0; i < 8; ++i) boot[0x52 + i] = static_cast<uint8_t>("FAT32   "[i]);
    boot[510] = 0x55;
    boot[511] = 0xAA;
    writeAt(0, boot);
    std::vector<uint8_t> fatBytes(fat.size() * 4);
    for (size_t i = 0; i < fat.size(); ++i) Put32(fatBytes, i * 4, fat[i]);
    writeAt(uint64_t{kReserved} * kBytesPerSector, fatBytes);
    writeAt((uint64_t{kReserved} + sectorsPerFat) * kBytesPerSector, fatBytes);
    out.seekp(static_cast<std::streamoff>(kTotalSectors * kBytesPerSector - 1));
    out.put(0);
  }

  std::filesystem::path folder_;
  std::string path_;
  uint64_t firstData_ = 0;
  std::vector<uint32_t> directoryClusters_;
  std::vector<uint32_t> deletedFileClusters_;
};

static_assert(kFolders * 32 <= 4 * kClusterBytes, "root entries must fit in the root cluster");

SyntheticVolume& Volume() {
  static SyntheticVolume volume;
  return volume;
}

void BM_ReadEveryDirectoryClusterOnce(benchmark::State& state) {
  DiskDevice device;
  OpenImageFile(Volume().path(), device);
  std::vector<uint8_t> cluster(kClusterBytes);
  for (auto _ : state) {
    for (uint32_t c : Volume().directoryClusters()) {
      uint32_t read = 0;
      ReadSectors(kSectorsPerCluster, device, cluster.data(), Volume().ClusterSector(c), kBytesPerSector, read);
      benchmark::DoNotOptimize(cluster.data());
    }
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * Volume().directoryClusters().size()));
}
BENCHMARK(BM_ReadEveryDirectoryClusterOnce)->Unit(benchmark::kMillisecond);

void BM_ReadDirectoriesAndFirstSectorOfEachDeletedFile(benchmark::State& state) {
  DiskDevice device;
  OpenImageFile(Volume().path(), device);
  std::vector<uint8_t> cluster(kClusterBytes);
  for (auto _ : state) {
    uint32_t read = 0;
    for (uint32_t c : Volume().directoryClusters())
      ReadSectors(kSectorsPerCluster, device, cluster.data(), Volume().ClusterSector(c), kBytesPerSector, read);
    for (uint32_t c : Volume().deletedFileClusters())
      ReadSectors(1, device, cluster.data(), Volume().ClusterSector(c), kBytesPerSector, read);
    benchmark::DoNotOptimize(cluster.data());
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * Volume().directoryClusters().size()));
}
BENCHMARK(BM_ReadDirectoriesAndFirstSectorOfEachDeletedFile)->Unit(benchmark::kMillisecond);

void BM_FastScan(benchmark::State& state) {
  uint64_t records = 0;
  for (auto _ : state) {
    CScanHistory::Instance().BeginNewScan();
    CFastFatRecovery engine;
    engine.OpenImage(Volume().path(), 1);
    engine.Scan("");
    records = engine.GetRecordCount();
  }
  state.counters["records"] = static_cast<double>(records);
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * Volume().directoryClusters().size()));
}
BENCHMARK(BM_FastScan)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
