// FAT structures over arbitrary bytes: the first 512 bytes as a boot sector,
// the rest as FAT entries and as a run of directory entries with long names.
#include <cstddef>
#include <cstdint>
#include <span>

#include "engine/fat_directory_entry.h"
#include "engine/fat_table.h"
#include "engine/fat_time.h"
#include "engine/fat_volume.h"

using namespace selvane;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::span<const uint8_t> bytes(data, size);
  FatVolumeGeometry geometry;
  ParseFatBootSector(bytes, geometry);
  if (size <= 512) return 0;

  ByteReader rest(bytes.subspan(512));
  for (FatType type : {FatType::Fat12, FatType::Fat16, FatType::Fat32})
    for (uint32_t cluster = 0; cluster < 64; ++cluster) {
      const uint64_t offset = FatEntryOffset(cluster, type);
      if (!rest.Fits(offset, FatEntryWidth(type))) break;
      ClassifyFatEntry(DecodeFatEntry(rest, offset, cluster, type), geometry);
    }

  LongNameRun longName;
  const size_t entries = rest.size() / kFatEntrySize;
  for (size_t i = 0; i < entries; ++i) {
    const size_t offset = i * kFatEntrySize;
    auto next = i + 1 < entries ? rest.Span(offset + kFatEntrySize, kFatEntrySize) : std::span<const uint8_t>{};
    if (!IsPlausibleEntry(rest.Span(offset, kFatEntrySize), next)) {
      longName.Reset();
      continue;
    }
    const FatDirectoryEntry entry = ParseDirectoryEntry(rest, offset);
    if (entry.IsLongName()) {
      longName.Add(rest, offset);
      continue;
    }
    FatCreationTimeToFileTime(entry.creationDate, entry.creationTime, entry.creationHundredths);
    FatDateTimeToFileTime(entry.writeDate, entry.writeTime);
    if (longName.HasName()) longName.Name();
    ShortEntryName(entry);
    longName.Reset();
  }
  return 0;
}
