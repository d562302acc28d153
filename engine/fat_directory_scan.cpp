#include "engine/fat_directory_scan.h"

namespace selvane {

void ScanDirectoryBytes(std::span<const uint8_t> bytes, FatDirectoryScan& out) {
  out.entries.clear();
  out.end = FatScanEnd::DataEnd;
  out.cutOffset = 0;
  out.cutChecksum = 0;

  const ByteReader reader(bytes);
  const size_t count = bytes.size() / kFatEntrySize;
  LongNameRun longName;
  size_t runParts = 0;
  size_t runStart = 0;
  bool runDeleted = false;
  auto dropRun = [&] {
    longName.Reset();
    runParts = 0;
  };

  for (size_t i = 0; i < count; ++i) {
    const size_t offset = i * kFatEntrySize;
    if (reader.U8(offset) == 0) {
      out.end = FatScanEnd::EndMark;
      return;
    }
    const std::span<const uint8_t> entryBytes = reader.Span(offset, kFatEntrySize);
    const std::span<const uint8_t> nextBytes =
        i + 1 < count ? reader.Span(offset + kFatEntrySize, kFatEntrySize) : std::span<const uint8_t>{};
    if (!IsPlausibleEntry(entryBytes, nextBytes)) {
      dropRun();
      continue;
    }
    const FatDirectoryEntry entry = ParseDirectoryEntry(reader, offset);
    if (entry.IsLongName()) {
      if (runParts > 0 && entry.IsDeleted() != runDeleted) dropRun();
      if (runParts == LongNameRun::kMaxParts) {
        out.end = FatScanEnd::LongNameTooLong;
        return;
      }
      if (runParts == 0) {
        runStart = offset;
        runDeleted = entry.IsDeleted();
      }
      longName.Add(reader, offset);
      ++runParts;
      continue;
    }
    if (entry.IsVolumeLabel()) {
      dropRun();
      continue;
    }
    ScannedFatEntry& scanned = out.entries.emplace_back();
    scanned.entry = entry;
    scanned.offset = offset;
    if (runParts > 0 && runDeleted == entry.IsDeleted()) scanned.name = longName.Name();
    if (scanned.name.empty()) scanned.name = ShortEntryName(entry);
    dropRun();
  }
  if (runParts > 0) {
    out.end = FatScanEnd::CutName;
    out.cutOffset = runStart;
    out.cutChecksum = reader.U8(runStart + 13);
  }
}

}  // namespace selvane
