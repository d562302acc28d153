// The formatted-volume NTFS engine over a damaged source: the input is the
// source image. Every sector that begins an MFT record is handed over as the
// deep scan does, every 1 KiB window once more whatever it holds; then the
// queued folders are written, the tree is listed and the small files are read.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "engine/professional_ntfs_recovery.h"
#include "results/scan_history.h"

namespace {

constexpr uint32_t kSector = 512;
constexpr const char* kLogName = "Pro_Ntfs_0_2026121112 0";

const std::string& Folder() {
  static const std::string folder = [] {
    std::string root = std::filesystem::temp_directory_path() / ("selvane-fuzz-pntfs-" + std::to_string(::getpid()));
    ::setenv("SELVANE_DATA_DIR", root.c_str(), 1);
    selvane::CScanHistory::ResetForTests();
    std::string scanFolder = selvane::CScanHistory::Instance().GetScanFolder();
    std::filesystem::create_directories(scanFolder);
    return scanFolder;
  }();
  return folder;
}

void List(selvane::CProfessionalNtfsRecovery& engine, const selvane::ScanLogRecord* folder, uint32_t depth,
          int& budget) {
  std::vector<selvane::ScanLogRecord> children;
  engine.QueryFolder(folder, depth, children);
  for (const auto& child : children) {
    if (--budget < 0) return;
    std::string path;
    engine.QueryFolderPath(child, path);
    if (child.IsFolderRecord()) {
      List(engine, &child, depth + 1, budget);
      continue;
    }
    std::vector<selvane::MftRun> runs;
    engine.GetMftRunsAt(child.LocationSector, runs);
    uint64_t start = 0;
    engine.DataStartSector(child, start);
    if (child.FileSize > (1u << 20)) continue;
    std::string temp;
    std::vector<uint8_t> buffer(65536);
    uint32_t size = 0;
    engine.ReadItemData(child, temp, buffer, size, nullptr);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string& folder = Folder();
  const std::string image = folder + "source.img";
  {
    std::ofstream out(image, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  for (const char* suffix : {"", "_Relation", "_DirInfo"}) std::filesystem::remove(folder + kLogName + suffix);

  selvane::CProfessionalNtfsRecovery engine;
  if (engine.OpenImage(image, 1) != selvane::kSuccess || engine.StartLog(kLogName) != selvane::kSuccess) return 0;
  const std::span<const uint8_t> source(data, size);
  for (size_t at = 0; at + kSector <= size; at += kSector) {
    const uint32_t recordSize =
        selvane::CProfessionalNtfsRecovery::FoundRecordSize(source.subspan(at, kSector), kSector);
    if (recordSize != 0 && at + recordSize <= size)
      engine.ProcessFoundRecord(source.subspan(at, recordSize), at / kSector, 0, 0);
    engine.ProcessFoundRecord(source.subspan(at, std::min<size_t>(1024, size - at)), at / kSector, 0, 0);
  }
  engine.ProcessPendingFolders();
  int budget = 200;
  List(engine, nullptr, 0, budget);
  return 0;
}
