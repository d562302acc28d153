// A scan log read back from damaged files: the input is split into the main
// file, "_Relation" and "_DirInfo"; the log is reopened and every query runs.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

#include "results/scan_history.h"
#include "results/scan_log.h"

namespace {

void Write(const std::string& path, const uint8_t* data, size_t size) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
}

const std::string& Folder() {
  static const std::string folder = [] {
    std::string root = std::filesystem::temp_directory_path() / ("selvane-fuzz-" + std::to_string(::getpid()));
    ::setenv("SELVANE_DATA_DIR", root.c_str(), 1);
    selvane::CScanHistory::ResetForTests();
    std::string scanFolder = selvane::CScanHistory::Instance().GetScanFolder();
    std::filesystem::create_directories(scanFolder);
    return scanFolder;
  }();
  return folder;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4) return 0;
  const std::string& folder = Folder();
  size_t relationSize = std::min<size_t>(data[0] | (data[1] << 8), size - 4);
  size_t dirInfoSize = std::min<size_t>(data[2] | (data[3] << 8), size - 4 - relationSize);
  const uint8_t* relation = data + 4;
  const uint8_t* dirInfo = relation + relationSize;
  const uint8_t* main = dirInfo + dirInfoSize;
  size_t mainSize = size - 4 - relationSize - dirInfoSize;
  const std::string name = "Fast_0_2026121112 0";
  Write(folder + name, main, mainSize);
  Write(folder + name + "_Relation", relation, relationSize);
  Write(folder + name + "_DirInfo", dirInfo, dirInfoSize);

  selvane::CScanLog log;
  if (log.OpenLog(name) != selvane::kSuccess) return 0;
  std::vector<selvane::ScanLogRecord> records;
  log.ListFolder(0, records);
  uint32_t count = 0;
  log.CountFilesBelow(0, count);
  for (const auto& [key, list] : log.Relation()) {
    log.ListFolder(key, records);
    log.CountFilesBelow(key, count);
  }
  for (const auto& record : records) {
    std::string path;
    log.GetFolderPath(record, path);
    selvane::ScanLogRecord folderRecord;
    log.FindFolderRecord(record.ItemId, folderRecord);
  }
  records.clear();
  log.ListCategory("*.jpg|*.doc|.other", records);
  log.CloseLog();
  return 0;
}
