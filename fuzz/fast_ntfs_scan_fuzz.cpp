// The fast NTFS engine over the input as a volume image: the boot sector, the
// MFT's own runs and attribute list, the scan with its folder chains, then the
// queries, copying found items out, and the free-cluster walk over $Bitmap.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/fast_ntfs_recovery.h"
#include "platform/file_handle.h"
#include "results/scan_history.h"

namespace {

const std::filesystem::path& Scratch() {
  static const std::filesystem::path path = [] {
    std::string pattern = (std::filesystem::temp_directory_path() / "selvane-fuzz-XXXXXX").string();
    const char* made = ::mkdtemp(pattern.data());
    if (!made) std::abort();
    ::setenv("SELVANE_DATA_DIR", made, 1);
    return std::filesystem::path(made);
  }();
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::filesystem::path& scratch = Scratch();
  const std::string image = (scratch / "volume.img").string();
  {
    selvane::FileHandle file;
    if (selvane::OpenFile(image, selvane::OpenMode::CreateAlways, file) != selvane::kSuccess) return 0;
    selvane::WriteAll(file, data, size);
  }
  {
    selvane::CScanHistory::Instance().BeginNewScan();
    selvane::CFastNtfsRecovery engine;
    if (engine.OpenImage(image, 1001) != selvane::kSuccess) return 0;
    engine.Scan("");
    std::vector<selvane::ScanLogRecord> found;
    engine.QueryCategory(".other|*.txt|*.jpg", found);
    std::vector<selvane::ScanLogRecord> root;
    engine.QueryFolder(nullptr, 0, root);
    found.insert(found.end(), root.begin(), root.end());
    size_t recovered = 0;
    for (const selvane::ScanLogRecord& record : found) {
      if (recovered++ == 4) break;
      if (!record.IsFolderRecord() && record.FileSize > (1u << 20)) continue;
      std::string path;
      engine.QueryFolderPath(record, path);
      engine.RecoverItem(record, (scratch / "out" / "item").string(), 0);
    }
    if (engine.LoadAllocationBitmap() == selvane::kSuccess) {
      uint64_t sector = 0, count = 0;
      for (int runs = 0; runs < 64; ++runs) {
        engine.FindFreeRun(sector, count);
        if (count == 0) break;
        sector += count;
      }
    }
  }
  std::error_code ec;
  std::filesystem::remove_all(scratch / "out", ec);
  std::filesystem::remove_all(scratch / "ScanLog", ec);
  return 0;
}
