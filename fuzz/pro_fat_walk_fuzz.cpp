// The FAT formatted-volume engine walked over the input as a disk image, the
// way the deep scan hands it sectors, then queried and asked to recover what
// it found: directory scans, geometry learning, name tails, kept sectors, the
// walks up ".." chains and the cluster reads all meet damaged bytes here.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

#include "engine/professional_fat_recovery.h"
#include "platform/file_handle.h"

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
  constexpr size_t kSector = 512;
  const std::filesystem::path& scratch = Scratch();
  const std::string image = (scratch / "disk.img").string();
  {
    selvane::FileHandle file;
    if (selvane::OpenFile(image, selvane::OpenMode::CreateAlways, file) != selvane::kSuccess) return 0;
    selvane::WriteAll(file, data, size);
  }
  std::string mainPath;
  {
    selvane::CProfessionalFatRecovery engine;
    if (engine.OpenImage(image, 1) != selvane::kSuccess) return 0;
    if (engine.StartFatLog("Pro_Fat_fuzz") != selvane::kSuccess) return 0;
    mainPath = engine.Log()->MainPath();
    engine.PrepareFatWalk();
    const std::span<const uint8_t> bytes(data, size);
    for (size_t s = 0; s + kSector <= size; s += kSector) {
      const std::span<const uint8_t> sector = bytes.subspan(s, kSector);
      if (selvane::CProfessionalFatRecovery::IsDirectoryStartSector(sector))
        engine.OnDirectoryStart(sector, s / kSector);
      else if (selvane::CProfessionalFatRecovery::IsFatDirectorySector(sector))
        engine.OnDirectorySector(sector, s / kSector);
    }
    engine.FinishFatWalk();

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
  }
  std::filesystem::remove_all(scratch / "out");
  for (const char* suffix : {"", "_Relation", "_DirInfo"}) std::remove((mainPath + suffix).c_str());
  return 0;
}
