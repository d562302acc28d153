// Listing and category search over a synthetic scan log of 1,000,000 records
// (about 330 MiB) in 1,000 folders. Reading the main file alone is the
// baseline: compare the bytes per second of the searches with it.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <unistd.h>

#include "results/categories.h"
#include "results/scan_history.h"
#include "results/scan_log.h"
#include "results/selected_types.h"

namespace {

using namespace selvane;

constexpr uint32_t kRecords = 1'000'000;
constexpr uint32_t kFolders = 1'000;
constexpr FolderKey kRoot = MakeFolderKey(0, 5);

// Extensions by share of the records, in percent.
struct Share {
  const char* extension;
  int percent;
};
constexpr Share kShares[] = {{".dat", 30}, {".bin", 15}, {".tmp", 15}, {".jpg", 12}, {".JPG", 3}, {".mp3", 5},
                             {".docx", 5}, {"", 5},      {".txt", 5},  {".zip", 5}};

class SyntheticLog {
 public:
  SyntheticLog() {
    std::string name = "selvane-bench-";
    name += std::to_string(::getpid());
    folder_ = std::filesystem::temp_directory_path() / name;
    ::setenv("SELVANE_DATA_DIR", folder_.c_str(), 1);
    CScanHistory::ResetForTests();
    CScanHistory::Instance().BeginNewScan();
    log_.OpenLog("File_Type_0_bench");
    for (uint32_t f = 0; f < kFolders; ++f) {
      ScanLogRecord& r = log_.NewRecord();
      r.IsFolder = 1;
      r.Intact = 1;
      r.ItemId = 100 + f;
      std::string name = "folder";
      name += std::to_string(f);
      r.SetName(name);
      log_.LinkRecord(kRoot, r.RecordNumber, r.ItemId, "folder");
    }
    uint32_t files = kRecords - kFolders;
    for (uint32_t i = 0; i < files; ++i) {
      int slot = static_cast<int>(i % 100);
      const char* extension = "";
      for (const Share& share : kShares) {
        if (slot < share.percent) {
          extension = share.extension;
          break;
        }
        slot -= share.percent;
      }
      ScanLogRecord& r = log_.NewRecord();
      r.Intact = (i % 50 == 0) ? 0 : 1;  // a few damaged files
      r.FileSize = i;
      std::string name = "f";
      name += std::to_string(i);
      name += extension;
      r.SetName(name);
      log_.LinkRecord(MakeFolderKey(1, 100 + i % kFolders), r.RecordNumber, 0, nullptr);
    }
    log_.FlushLog();
  }
  ~SyntheticLog() {
    log_.CloseLog();
    std::error_code ec;
    std::filesystem::remove_all(folder_, ec);
  }
  CScanLog& log() { return log_; }

 private:
  std::filesystem::path folder_;
  CScanLog log_;
};

SyntheticLog& Log() {
  static SyntheticLog log;
  return log;
}

uint64_t MainFileBytes() { return uint64_t{kRecords} * kScanLogRecordSize; }

void BM_ReadMainFileOnly(benchmark::State& state) {
  CScanLog& log = Log().log();
  FileHandle file;
  OpenFile(log.MainPath(), OpenMode::ReadOnly, file);
  std::vector<uint8_t> block(kLogBufferBytes);
  for (auto _ : state) {
    uint64_t sum = 0;
    for (uint64_t offset = 0;; offset += block.size()) {
      ssize_t n = file.ReadAt(block.data(), block.size(), offset);
      if (n <= 0) break;
      sum += block[0];
    }
    benchmark::DoNotOptimize(sum);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * MainFileBytes()));
}
BENCHMARK(BM_ReadMainFileOnly)->Unit(benchmark::kMillisecond);

void SearchWith(benchmark::State& state, const std::string& filter) {
  CScanLog& log = Log().log();
  std::vector<ScanLogRecord> out;
  out.reserve(kRecords);
  for (auto _ : state) {
    out.clear();
    log.ListCategory(filter, out);
    benchmark::DoNotOptimize(out.data());
  }
  state.counters["found"] = static_cast<double>(out.size());
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * MainFileBytes()));
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kRecords));
}

void BM_ListCategoryPictures(benchmark::State& state) { SearchWith(state, std::string(kPictureList)); }
BENCHMARK(BM_ListCategoryPictures)->Unit(benchmark::kMillisecond);

void BM_ListCategoryEverySelectedType(benchmark::State& state) {
  SelectedTypes selected;
  ResetSelectedTypes(selected);
  SearchWith(state, PatternToFilter(BuildCategoryFilter(selected)));
}
BENCHMARK(BM_ListCategoryEverySelectedType)->Unit(benchmark::kMillisecond);

void BM_ListCategoryNothingMatches(benchmark::State& state) { SearchWith(state, "*.none"); }
BENCHMARK(BM_ListCategoryNothingMatches)->Unit(benchmark::kMillisecond);

void BM_ListFolder(benchmark::State& state) {
  CScanLog& log = Log().log();
  std::vector<ScanLogRecord> out;
  uint32_t folder = 0;
  for (auto _ : state) {
    out.clear();
    log.ListFolder(MakeFolderKey(1, 100 + folder++ % kFolders), out);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * (kRecords / kFolders)));
}
BENCHMARK(BM_ListFolder)->Unit(benchmark::kMicrosecond);

void BM_CountFilesBelowRoot(benchmark::State& state) {
  CScanLog& log = Log().log();
  for (auto _ : state) {
    uint32_t count = 0;
    log.CountFilesBelow(0, count);
    benchmark::DoNotOptimize(count);
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kRecords));
}
BENCHMARK(BM_CountFilesBelowRoot)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
