// The scan history file ("config") as read at start-up.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <unistd.h>

#include "results/scan_history.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string root = [] {
    std::string dir = std::filesystem::temp_directory_path() / ("selvane-fuzz-history-" + std::to_string(::getpid()));
    ::setenv("SELVANE_DATA_DIR", dir.c_str(), 1);
    std::filesystem::create_directories(dir + "/ScanLog");
    return dir + "/ScanLog";
  }();
  {
    std::ofstream out(root + "/config", std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  selvane::CScanHistory::ResetForTests();
  auto& history = selvane::CScanHistory::Instance();
  history.GetScanFolder();
  selvane::ScanHistoryEntry entry;
  history.FindImageScan("/nonexistent/image.img", entry);
  return 0;
}
