// The fast NTFS scan against its floor: reading the bytes of the MFT once, in
// the same 1 MiB chunks. A synthetic volume of 4 KiB clusters holds an MFT of
// 120,000 one-KiB records: 3,000 folders (300 of them deleted) in a tree up to
// eight deep, and files of which one in ten is deleted (half with resident
// data, half with a JPEG start in a cluster of their own). Each is measured
// twice: with the image in the page cache (the harshest comparison: reading
// is then a memory copy, while the scan also writes its log) and with the
// image's pages dropped before every run, as when a drive is scanned. The
// program prints the ratio of the two times for both; the aim is below 2.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "engine/fast_ntfs_recovery.h"
#include "results/scan_history.h"
#include "storage/disk_device.h"

namespace {

using namespace selvane;

constexpr uint32_t kBytesPerSector = 512;
constexpr uint32_t kSectorsPerCluster = 8;
constexpr uint32_t kClusterBytes = kBytesPerSector * kSectorsPerCluster;
constexpr uint32_t kRecordSize = 1024;
constexpr uint32_t kRecords = 120'000;
constexpr uint32_t kFolders = 3'000;
constexpr uint32_t kFirstFolder = 16;
constexpr uint64_t kMftCluster = 4;
constexpr uint64_t kMftClusters = uint64_t{kRecords} * kRecordSize / kClusterBytes;
constexpr uint64_t kBitmapCluster = kMftCluster + kMftClusters;
constexpr uint64_t kFirstDataCluster = kBitmapCluster + 4;

void Put(std::vector<uint8_t>& b, size_t at, uint64_t v, size_t width) {
  for (size_t i = 0; i < width; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

// One MFT record, protected by its update sequence as on disk.
class Record {
 public:
  Record(uint32_t number, uint16_t flags, uint16_t sequence) : bytes_(kRecordSize, 0) {
    std::copy_n("FILE", 4, bytes_.begin());
    Put(bytes_, 0x04, 0x30, 2);
    Put(bytes_, 0x06, 3, 2);
    Put(bytes_, 0x10, sequence, 2);
    Put(bytes_, 0x14, 0x38, 2);
    Put(bytes_, 0x16, flags, 2);
    Put(bytes_, 0x1C, kRecordSize, 4);
    Put(bytes_, 0x2C, number, 4);
  }
  Record& FileName(uint32_t parent, uint16_t parentSequence, const std::string& name) {
    std::vector<uint8_t> a(0x18 + 0x42 + 2 * name.size(), 0);
    Put(a, 0x10, 0x42 + 2 * name.size(), 4);
    Put(a, 0x14, 0x18, 2);
    Put(a, 0x18, parent | (uint64_t{parentSequence} << 48), 8);
    for (size_t t : {0x20, 0x28, 0x30, 0x38}) Put(a, t, 132000000000000000ull, 8);
    a[0x18 + 0x40] = static_cast<uint8_t>(name.size());
    a[0x18 + 0x41] = 3;
    for (size_t i = 0; i < name.size(); ++i) Put(a, 0x18 + 0x42 + 2 * i, static_cast<uint8_t>(name[i]), 2);
    return Attribute(0x30, a);
  }
  Record& Resident(size_t size, uint8_t fill) {
    std::vector<uint8_t> a(0x18 + size, fill);
    std::fill_n(a.begin(), 0x18, 0);
    Put(a, 0x10, size, 4);
    Put(a, 0x14, 0x18, 2);
    return Attribute(0x80, a);
  }
  // Unnamed $DATA of `clusters` clusters at `cluster`, `size` bytes long.
  Record& NonResident(uint64_t cluster, uint64_t clusters, uint64_t size) {
    std::vector<uint8_t> a(0x50, 0);
    a[0x08] = 1;
    Put(a, 0x18, clusters - 1, 8);
    Put(a, 0x20, 0x40, 2);
    Put(a, 0x28, clusters * kClusterBytes, 8);
    Put(a, 0x30, size, 8);
    Put(a, 0x38, size, 8);
    a[0x40] = 0x44;  // 4-byte length, 4-byte cluster
    Put(a, 0x41, clusters, 4);
    Put(a, 0x45, cluster, 4);
    return Attribute(0x80, a);
  }
  std::vector<uint8_t> Build() {
    Put(bytes_, at_, 0xFFFFFFFF, 4);
    Put(bytes_, 0x18, at_ + 8, 4);
    Put(bytes_, 0x30, 0x0101, 2);
    for (size_t i = 0; i < 2; ++i) {
      const size_t end = (i + 1) * 512 - 2;
      bytes_[0x32 + 2 * i] = bytes_[end];
      bytes_[0x33 + 2 * i] = bytes_[end + 1];
      Put(bytes_, end, 0x0101, 2);
    }
    return bytes_;
  }

 private:
  Record& Attribute(uint32_t type, std::vector<uint8_t> a) {
    a.resize((a.size() + 7) & ~size_t{7});
    Put(a, 0, type, 4);
    Put(a, 4, a.size(), 4);
    std::copy(a.begin(), a.end(), bytes_.begin() + static_cast<ptrdiff_t>(at_));
    at_ += a.size();
    return *this;
  }
  std::vector<uint8_t> bytes_;
  size_t at_ = 0x38;
};

class SyntheticVolume {
 public:
  SyntheticVolume() {
    folder_ = std::filesystem::temp_directory_path() / ("selvane-ntfs-bench-" + std::to_string(::getpid()));
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
  uint64_t deletedFiles() const { return deletedFiles_; }

 private:
  void Build() {
    uint64_t seed = 12345;
    auto random = [&](uint64_t bound) {
      seed = seed * 6364136223846793005ull + 1442695040888963407ull;
      return (seed >> 33) % bound;
    };
    const uint64_t totalClusters = kFirstDataCluster + kRecords / 10 + 16;
    std::vector<uint8_t> image(totalClusters * kClusterBytes, 0);
    auto put = [&](uint64_t offset, const std::vector<uint8_t>& bytes) {
      std::copy(bytes.begin(), bytes.end(), image.begin() + static_cast<ptrdiff_t>(offset));
    };
    auto putRecord = [&](uint32_t n, Record r) {
      put(kMftCluster * kClusterBytes + uint64_t{n} * kRecordSize, r.Build());
    };

    std::vector<uint8_t> boot(512, 0);
    std::copy_n("\xEB\x52\x90NTFS    ", 11, boot.begin());
    Put(boot, 0x0B, kBytesPerSector, 2);
    boot[0x0D] = kSectorsPerCluster;
    boot[0x15] = 0xF8;
    Put(boot, 0x28, totalClusters * kSectorsPerCluster - 1, 8);
    Put(boot, 0x30, kMftCluster, 8);
    Put(boot, 0x38, 2, 8);
    boot[0x40] = 0xF6;
    boot[0x44] = 1;
    boot[510] = 0x55;
    boot[511] = 0xAA;
    put(0, boot);

    putRecord(
        0, Record(0, 1, 1).FileName(5, 5, "$MFT").NonResident(kMftCluster, kMftClusters, kMftClusters * kClusterBytes));
    putRecord(5, Record(5, 3, 5).FileName(5, 5, "."));

    // Folders: each below the root or an earlier folder, up to eight deep.
    std::vector<uint32_t> depth(kFirstFolder + kFolders, 0);
    for (uint32_t i = 0; i < kFolders; ++i) {
      const uint32_t n = kFirstFolder + i;
      uint32_t parent = 5;
      if (i > 10) {
        parent = kFirstFolder + static_cast<uint32_t>(random(i));
        if (depth[parent] >= 8) parent = 5;
      }
      depth[n] = parent == 5 ? 1 : depth[parent] + 1;
      const bool deleted = i % 10 == 9;
      putRecord(n, Record(n, deleted ? 2 : 3, deleted ? 2 : 1)
                       .FileName(parent, parent == 5 ? 5 : 1, "Folder " + std::to_string(i)));
    }
    // Files: one in ten deleted; of those, half resident, half a JPEG start in a cluster of its own.
    uint64_t nextCluster = kFirstDataCluster;
    const std::vector<uint8_t> jpeg = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 'J', 'F', 'I', 'F', 0x00, 0x01, 0x01};
    for (uint32_t n = kFirstFolder + kFolders; n < kRecords; ++n) {
      const uint32_t parent = kFirstFolder + static_cast<uint32_t>(random(kFolders));
      const bool deleted = n % 10 == 0;
      Record r(n, deleted ? 0 : 1, deleted ? 2 : 1);
      if (!deleted) {
        r.FileName(parent, 1, "document " + std::to_string(n) + ".txt").Resident(120, 'a');
      } else if (n % 20 == 0) {
        r.FileName(parent, 1, "note " + std::to_string(n) + ".txt").Resident(300, 'n');
        ++deletedFiles_;
      } else {
        put(nextCluster * kClusterBytes, jpeg);
        r.FileName(parent, 1, "photo " + std::to_string(n) + ".jpg").NonResident(nextCluster++, 1, 3000);
        ++deletedFiles_;
      }
      putRecord(n, r);
    }
    std::ofstream out(path_, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
  }

  std::filesystem::path folder_;
  std::string path_;
  uint64_t deletedFiles_ = 0;
};

SyntheticVolume& Volume() {
  static SyntheticVolume volume;
  return volume;
}

// Drops the image's pages from the page cache, so the next read comes from the disk.
void EvictImage() {
  FileHandle file;
  if (OpenFile(Volume().path(), OpenMode::ReadOnly, file) == kSuccess)
    ::posix_fadvise(file.fd(), 0, 0, POSIX_FADV_DONTNEED);
}

// state.range(0): 1 reads a cold cache (the image evicted before each run).
void BM_ReadMftOnce(benchmark::State& state) {
  DiskDevice device;
  OpenImageFile(Volume().path(), device);
  constexpr uint32_t kChunkSectors = 1024 * kRecordSize / kBytesPerSector;
  std::vector<uint8_t> chunk(size_t{kChunkSectors} * kBytesPerSector);
  const uint64_t mftSectors = kMftClusters * kSectorsPerCluster;
  for (auto _ : state) {
    if (state.range(0)) {
      state.PauseTiming();
      EvictImage();
      state.ResumeTiming();
    }
    for (uint64_t s = 0; s < mftSectors; s += kChunkSectors) {
      uint32_t read = 0;
      const uint64_t n = std::min<uint64_t>(kChunkSectors, mftSectors - s);
      ReadSectors(static_cast<int32_t>(n), device, chunk.data(), kMftCluster * kSectorsPerCluster + s, kBytesPerSector,
                  read);
      benchmark::DoNotOptimize(chunk.data());
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * mftSectors * kBytesPerSector));
}
BENCHMARK(BM_ReadMftOnce)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_FastScan(benchmark::State& state) {
  uint64_t records = 0;
  for (auto _ : state) {
    state.PauseTiming();
    if (state.range(0)) EvictImage();
    CScanHistory::Instance().BeginNewScan();
    state.ResumeTiming();
    CFastNtfsRecovery engine;
    engine.OpenImage(Volume().path(), 1001);
    engine.Scan("");
    records = engine.GetRecordCount();
  }
  state.counters["records"] = static_cast<double>(records);
  state.counters["deleted_files"] = static_cast<double>(Volume().deletedFiles());
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kMftClusters * kClusterBytes));
}
BENCHMARK(BM_FastScan)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// Keeps the time per iteration of each run to print their ratio at the end.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    // With repetitions, the medians stand for the runs.
    for (const Run& run : runs) {
      if (run.run_type == Run::RT_Iteration && run.repetitions <= 1)
        times_[run.benchmark_name()] = run.GetAdjustedRealTime();
      if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median")
        times_[run.run_name.str()] = run.GetAdjustedRealTime();
    }
    ConsoleReporter::ReportRuns(runs);
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    for (const char* cache : {"0", "1"}) {
      auto read = times_.find(std::string("BM_ReadMftOnce/") + cache);
      auto scan = times_.find(std::string("BM_FastScan/") + cache);
      if (read != times_.end() && scan != times_.end() && read->second > 0)
        std::printf("%s cache: fast scan / reading the MFT once = %.2f (aim: below 2)\n",
                    cache[0] == '1' ? "cold" : "warm", scan->second / read->second);
    }
  }

 private:
  std::map<std::string, double> times_;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
