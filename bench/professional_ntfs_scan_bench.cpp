// The formatted-volume NTFS engine's share of a deep scan, against its floor:
// reading the source once in 64 KiB blocks. A synthetic 80 MiB source holds
// an NTFS volume whose boot sector was wiped: 4 KiB clusters, an MFT of
// 60,000 one-KiB records (2,000 folders up to eight deep, 10 % of them
// deleted; files in use and deleted, nine in ten with resident data, the rest
// with a cluster of their own) and empty space behind it. Three walks are
// timed: reading only; reading and testing every sector for the start of an
// MFT record; and the whole deep scan part of the engine (every record found
// handed to ProcessFoundRecord, then ProcessPendingFolders). Each runs with
// the image in the page cache (the harshest comparison: reading is then a
// memory copy) and with its pages dropped before every run, as when a drive
// is scanned. The program prints the ratio of the engine's walk to reading.
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

#include "engine/professional_ntfs_recovery.h"
#include "results/scan_history.h"
#include "storage/disk_device.h"

namespace {

using namespace selvane;

constexpr uint32_t kSector = 512;
constexpr uint32_t kClusterBytes = 4096;
constexpr uint32_t kRecordSize = 1024;
constexpr uint32_t kRecords = 60'000;
constexpr uint32_t kFolders = 2'000;
constexpr uint32_t kFirstFolder = 64;
constexpr uint64_t kMftCluster = 4;
constexpr uint64_t kMftClusters = uint64_t{kRecords} * kRecordSize / kClusterBytes;
constexpr uint64_t kFirstDataCluster = kMftCluster + kMftClusters + 16;
constexpr uint64_t kSourceBytes = 80ull << 20;
constexpr size_t kBlock = 65536;

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
  Record& NonResident(uint64_t cluster, uint64_t clusters, uint64_t size) {
    std::vector<uint8_t> a(0x50, 0);
    a[0x08] = 1;
    Put(a, 0x18, clusters - 1, 8);
    Put(a, 0x20, 0x40, 2);
    Put(a, 0x28, clusters * kClusterBytes, 8);
    Put(a, 0x30, size, 8);
    Put(a, 0x38, size, 8);
    a[0x40] = 0x44;
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

class Source {
 public:
  Source() {
    folder_ = std::filesystem::temp_directory_path() / ("selvane-pntfs-bench-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder_);
    ::setenv("SELVANE_DATA_DIR", (folder_ / "data").c_str(), 1);
    CScanHistory::ResetForTests();
    path_ = (folder_ / "source.img").string();
    Build();
  }
  ~Source() {
    std::error_code ec;
    std::filesystem::remove_all(folder_, ec);
  }
  const std::string& path() const { return path_; }

 private:
  void Build() {
    uint64_t seed = 12345;
    auto random = [&](uint64_t bound) {
      seed = seed * 6364136223846793005ull + 1442695040888963407ull;
      return (seed >> 33) % bound;
    };
    std::vector<uint8_t> image(kSourceBytes, 0);
    auto put = [&](uint64_t offset, const std::vector<uint8_t>& bytes) {
      std::copy(bytes.begin(), bytes.end(), image.begin() + static_cast<ptrdiff_t>(offset));
    };
    auto putRecord = [&](uint32_t n, Record r) {
      put(kMftCluster * kClusterBytes + uint64_t{n} * kRecordSize, r.Build());
    };
    putRecord(
        0, Record(0, 1, 1).FileName(5, 5, "$MFT").NonResident(kMftCluster, kMftClusters, kMftClusters * kClusterBytes));
    putRecord(5, Record(5, 3, 5).FileName(5, 5, "."));
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
    uint64_t nextCluster = kFirstDataCluster;
    for (uint32_t n = kFirstFolder + kFolders; n < kRecords; ++n) {
      const uint32_t parent = kFirstFolder + static_cast<uint32_t>(random(kFolders));
      const bool deleted = n % 3 == 0;
      Record r(n, deleted ? 0 : 1, 1);
      if (n % 10 != 0) {
        r.FileName(parent, 1, "note " + std::to_string(n) + ".txt").Resident(200, 'n');
      } else {
        r.FileName(parent, 1, "photo " + std::to_string(n) + ".jpg").NonResident(nextCluster++, 1, 3000);
      }
      putRecord(n, r);
    }
    std::ofstream out(path_, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
  }

  std::filesystem::path folder_;
  std::string path_;
};

Source& TheSource() {
  static Source source;
  return source;
}

void Evict() {
  FileHandle file;
  if (OpenFile(TheSource().path(), OpenMode::ReadOnly, file) == kSuccess)
    ::posix_fadvise(file.fd(), 0, 0, POSIX_FADV_DONTNEED);
}

enum class Walk { Read, Test, Engine };

// One deep-scan walk over the source in 64 KiB blocks; returns the records found.
uint64_t WalkOnce(Walk walk, CProfessionalNtfsRecovery* engine) {
  DiskDevice device;
  OpenImageFile(TheSource().path(), device);
  std::vector<uint8_t> block(kBlock);
  const uint32_t perBlock = kBlock / kSector;
  uint64_t found = 0;
  for (uint64_t s = 0; s < device.totalSectors; s += perBlock) {
    const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(perBlock, device.totalSectors - s));
    uint32_t read = 0;
    ReadSectors(static_cast<int32_t>(n), device, block.data(), s, kSector, read);
    benchmark::DoNotOptimize(block.data());
    if (walk == Walk::Read) continue;
    for (uint32_t i = 0; i < read; ++i) {
      const std::span<const uint8_t> sector(block.data() + size_t{i} * kSector, kSector);
      const uint32_t size = CProfessionalNtfsRecovery::FoundRecordSize(sector, kSector);
      if (size == 0 || size_t{i} * kSector + size > size_t{read} * kSector) continue;
      ++found;
      if (engine) engine->ProcessFoundRecord(std::span<const uint8_t>(sector.data(), size), s + i, 0, 0);
    }
  }
  if (engine) engine->ProcessPendingFolders();
  return found;
}

void BM_Walk(benchmark::State& state) {
  const Walk walk = static_cast<Walk>(state.range(0));
  uint64_t found = 0, logged = 0;
  for (auto _ : state) {
    state.PauseTiming();
    if (state.range(1)) Evict();
    CScanHistory::Instance().BeginNewScan();
    state.ResumeTiming();
    if (walk == Walk::Engine) {
      CProfessionalNtfsRecovery engine;
      engine.OpenImage(TheSource().path(), 1);
      engine.StartLog("");
      found = WalkOnce(walk, &engine);
      logged = engine.GetRecordCount();
    } else {
      found = WalkOnce(walk, nullptr);
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kSourceBytes));
  state.counters["records"] = static_cast<double>(found);
  state.counters["logged"] = static_cast<double>(logged);
}
BENCHMARK(BM_Walk)
    ->ArgsProduct({{int(Walk::Read), int(Walk::Test), int(Walk::Engine)}, {0, 1}})
    ->ArgNames({"walk", "cold"})
    ->Unit(benchmark::kMillisecond)
    ->MinTime(2.0);

// Collects each run's time to print the ratios at the end.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) times_[run.benchmark_name()] = run.GetAdjustedRealTime();
    ConsoleReporter::ReportRuns(runs);
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    for (const char* cold : {"0", "1"}) {
      const auto name = [&](int walk) {
        return "BM_Walk/walk:" + std::to_string(walk) + "/cold:" + cold + "/min_time:2.000";
      };
      if (!times_.count(name(0)) || !times_.count(name(2))) continue;
      std::printf("%s cache: sector test / read = %.2f, engine walk / read = %.2f\n", cold[0] == '1' ? "cold" : "warm",
                  times_[name(1)] / times_[name(0)], times_[name(2)] / times_[name(0)]);
    }
  }

 private:
  std::map<std::string, double> times_;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
