// The signature table: detectors and size rules over an in-memory "disk"
// made of the input, identified sector by sector as the carving walk does,
// plus the content check used by the file-system engines.
#include <cstddef>
#include <cstdint>
#include <span>

#include "engine/signatures/content_match.h"
#include "engine/signatures/identify.h"
#include "engine/signatures/sector_source.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  constexpr uint32_t kSector = 512;
  std::span<const uint8_t> bytes(data, size);
  selvane::MemorySectorSource source(bytes, kSector);
  selvane::CarveContext context;
  const uint64_t sectors = size / kSector;
  for (uint64_t s = 0; s < sectors; ++s) {
    selvane::CarvedFile file;
    selvane::CarveProgress progress;
    selvane::IdentifyCarvedFile(context, source, bytes.subspan(s * kSector, kSector), s, progress, file);
  }
  if (size >= kSector) {
    for (const char* extension : {"jpg", "doc", "docx", "pdf", "mp4", "avi", "zip", "mts", "txt"})
      selvane::ContentMatchesExtension(context, source, bytes.first(kSector), extension, 0);
  }
  return 0;
}
