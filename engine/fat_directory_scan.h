// Walks the 32-byte entries of a piece of a FAT directory (a sector, or a
// sector with the cut-off start of a long name before it) and gives each 8.3
// entry with the name it goes by. Pure: no I/O, the caller decides what the
// entries mean.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "engine/fat_directory_entry.h"

namespace selvane {

struct ScannedFatEntry {
  FatDirectoryEntry entry;
  std::string name;   // the long name before it, else the 8.3 name ("!" for a deleted first byte)
  size_t offset = 0;  // of the 8.3 entry in the scanned bytes
};

enum class FatScanEnd {
  EndMark,         // an entry whose first byte is 0
  DataEnd,         // the bytes ran out between entries
  CutName,         // the bytes ran out inside a long name
  LongNameTooLong  // more long-name entries in a row than a name can have
};

struct FatDirectoryScan {
  std::vector<ScannedFatEntry> entries;  // plausible 8.3 entries other than volume labels, in order
  FatScanEnd end = FatScanEnd::DataEnd;
  size_t cutOffset = 0;     // CutName: offset of the open name's first long-name entry
  uint8_t cutChecksum = 0;  // CutName: that entry's checksum byte
};

// Walks the bytes as FAT directory entries: a first byte 0 ends them; an
// entry that fails IsPlausibleEntry is passed over and drops a pending long
// name; long-name entries gather (a live run never joins a deleted one) until
// the 8.3 entry they name. `out` is reused (its vector keeps its storage).
void ScanDirectoryBytes(std::span<const uint8_t> bytes, FatDirectoryScan& out);

}  // namespace selvane
