// One 32-byte FAT directory entry: its fields, the test that tells a real entry
// from stray bytes, and the names it carries (8.3 and long-name parts).
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>

#include "engine/byte_reader.h"

namespace selvane {

inline constexpr size_t kFatEntrySize = 32;
inline constexpr uint8_t kFatDeletedMark = 0xE5;
inline constexpr uint8_t kAttrReadOnly = 0x01;
inline constexpr uint8_t kAttrVolumeLabel = 0x08;
inline constexpr uint8_t kAttrLongName = 0x0F;
inline constexpr uint8_t kAttrDirectory = 0x10;
inline constexpr uint8_t kAttrArchive = 0x20;

struct FatDirectoryEntry {
  std::array<uint8_t, 11> name{};  // 8 name bytes, 3 extension bytes, blank-padded
  uint8_t attributes = 0;
  uint8_t creationHundredths = 0;  // 10 ms units, 0-199
  uint16_t creationTime = 0;
  uint16_t creationDate = 0;
  uint16_t accessDate = 0;
  uint16_t clusterHigh = 0;
  uint16_t writeTime = 0;
  uint16_t writeDate = 0;
  uint16_t clusterLow = 0;
  uint32_t size = 0;

  bool IsEnd() const { return name[0] == 0x00; }
  bool IsDeleted() const { return name[0] == kFatDeletedMark; }
  bool IsLongName() const { return attributes == kAttrLongName; }
  bool IsVolumeLabel() const { return attributes == kAttrVolumeLabel; }
  bool IsDirectory() const { return !IsLongName() && (attributes & kAttrDirectory) != 0; }
  bool IsArchive() const { return !IsLongName() && (attributes & kAttrArchive) != 0; }
  // "." followed by blanks (the entry that names the directory itself).
  bool IsDotEntry() const;
  // Name beginning "..".
  bool IsDotDotEntry() const { return name[0] == '.' && name[1] == '.'; }
  // High word joined on FAT32; FAT12/16 use the low word only.
  uint32_t FirstCluster(bool fat32) const { return fat32 ? (uint32_t{clusterHigh} << 16) | clusterLow : clusterLow; }
};

// Reads the entry at `offset` (the reader must hold 32 bytes there).
FatDirectoryEntry ParseDirectoryEntry(const ByteReader& bytes, size_t offset);

// Whether an entry is a real directory entry and not stray bytes. `next` is the
// following entry (empty at the end of a buffer); "." followed by ".." passes
// at once. The tests: no file of size 0 with a cluster; a volume label with no
// size or cluster; no other volume-label bit except on long-name entries; no
// attribute bits above 0x3F; no read-only directory; a live long-name entry of
// sequence 1-20 with no cluster; a live file's three times between 1990 and
// 2050; 8.3 bytes that a name may hold; a live directory of size 0; and one of
// the directory or archive bits unless it is a label or a long-name entry.
bool IsPlausibleEntry(std::span<const uint8_t> entry, std::span<const uint8_t> next);

// The 8.3 name in small letters ("readme.txt"; OEM bytes as code page 437).
// A deleted first byte becomes "!", a first byte 0x05 stands for 0xE5.
std::string ShortEntryName(const FatDirectoryEntry& entry);

// A run of long-name entries, gathered as they come (last part of the name
// first) until the 8.3 entry they belong to. Sequence numbers and checksums are
// not trusted: a deleted run has lost them.
class LongNameRun {
 public:
  static constexpr size_t kMaxParts = 20;  // 20 x 13 characters hold the longest name, 255
  void Reset();
  // Adds one long-name entry. A run longer than a name can be is dropped.
  void Add(const ByteReader& bytes, size_t offset);
  bool HasName() const { return parts_ > 0 && !overflowed_; }
  // The gathered name up to its first NUL, as UTF-8.
  std::string Name() const;

 private:
  std::array<char16_t, kMaxParts * 13> units_{};
  size_t parts_ = 0;
  bool overflowed_ = false;
};

}  // namespace selvane
