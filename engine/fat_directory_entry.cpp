#include "engine/fat_directory_entry.h"

#include "engine/fat_time.h"
#include "platform/text.h"

namespace selvane {
namespace {

bool TimeInRange(uint64_t fileTime) { return fileTime >= kFileTime1990 && fileTime <= kFileTime2050; }

bool IsNameByteAllowed(uint8_t b, size_t position) {
  if (position == 0 && b == 0x05) return true;  // stands for a first byte 0xE5
  if (b < 0x20 || (b >= 'a' && b <= 'z')) return false;
  switch (b) {
    case '"': case '*': case '.': case ':': case '<': case '>': case '?': case '\\': case '|': return false;
    default: return true;
  }
}

// The 13 UTF-16 units of a long-name entry, in their three places.
constexpr size_t kLongNameUnitOffsets[13] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};

}  // namespace

bool FatDirectoryEntry::IsDotEntry() const {
  if (name[0] != '.') return false;
  for (size_t i = 1; i < name.size(); ++i)
    if (name[i] != ' ') return false;
  return true;
}

FatDirectoryEntry ParseDirectoryEntry(const ByteReader& bytes, size_t offset) {
  FatDirectoryEntry e;
  for (size_t i = 0; i < e.name.size(); ++i) e.name[i] = bytes.U8(offset + i);
  e.attributes = bytes.U8(offset + 11);
  e.creationHundredths = bytes.U8(offset + 13);
  e.creationTime = bytes.U16(offset + 14);
  e.creationDate = bytes.U16(offset + 16);
  e.accessDate = bytes.U16(offset + 18);
  e.clusterHigh = bytes.U16(offset + 20);
  e.writeTime = bytes.U16(offset + 22);
  e.writeDate = bytes.U16(offset + 24);
  e.clusterLow = bytes.U16(offset + 26);
  e.size = bytes.U32(offset + 28);
  return e;
}

bool IsPlausibleEntry(std::span<const uint8_t> entryBytes, std::span<const uint8_t> nextBytes) {
  ByteReader r(entryBytes);
  if (!r.Fits(0, kFatEntrySize)) return false;
  const FatDirectoryEntry e = ParseDirectoryEntry(r, 0);
  const uint8_t attr = e.attributes;
  const bool directory = (attr & kAttrDirectory) != 0;

  ByteReader n(nextBytes);
  if (n.Fits(0, kFatEntrySize)) {
    const FatDirectoryEntry next = ParseDirectoryEntry(n, 0);
    if (e.name[0] == '.' && directory && e.size == 0 && next.IsDotDotEntry() &&
        (next.attributes & kAttrDirectory) != 0 && next.size == 0)
      return true;
  }
  if (attr == kAttrLongName) {
    const uint8_t sequence = e.name[0] & ~0x40;
    if (!e.IsDeleted() && (sequence == 0 || sequence > LongNameRun::kMaxParts)) return false;
    return e.clusterLow == 0;
  }
  if (e.size == 0 && !directory && (e.clusterHigh != 0 || e.clusterLow != 0)) return false;
  if (attr == kAttrVolumeLabel) {
    if (e.size != 0 || e.clusterHigh != 0 || e.clusterLow != 0) return false;
  } else if (attr & kAttrVolumeLabel) {
    return false;
  }
  if (attr >= 0x40 || (directory && (attr & kAttrReadOnly))) return false;

  if (!e.IsDeleted() && !directory) {
    if (!TimeInRange(FatCreationTimeToFileTime(e.creationDate, e.creationTime, e.creationHundredths)) ||
        !TimeInRange(FatDateTimeToFileTime(e.accessDate, 0)) ||
        !TimeInRange(FatDateTimeToFileTime(e.writeDate, e.writeTime)))
      return false;
  }
  if (attr != kAttrVolumeLabel) {
    for (size_t i = 0; i < e.name.size(); ++i)
      if (!IsNameByteAllowed(e.name[i], i)) return false;
  }
  if (!e.IsDeleted() && directory && e.size != 0) return false;
  return attr == kAttrVolumeLabel || directory || (attr & kAttrArchive) != 0;
}

std::string ShortEntryName(const FatDirectoryEntry& entry) {
  auto part = [&](size_t from, size_t length) {
    while (length > 0 && entry.name[from + length - 1] == ' ') --length;
    std::string text;
    for (size_t i = from; i < from + length; ++i) {
      uint8_t b = entry.name[i];
      if (i == 0 && b == kFatDeletedMark) {
        text += '!';
        continue;
      }
      if (i == 0 && b == 0x05) b = kFatDeletedMark;
      text += Cp437ToUtf8(std::span<const uint8_t>(&b, 1));
    }
    return AsciiLower(text);
  };
  std::string name = part(0, 8);
  std::string extension = part(8, 3);
  if (!extension.empty()) name += "." + extension;
  return name;
}

void LongNameRun::Reset() {
  parts_ = 0;
  overflowed_ = false;
}

void LongNameRun::Add(const ByteReader& bytes, size_t offset) {
  if (overflowed_) return;
  if (parts_ == kMaxParts) {
    overflowed_ = true;
    return;
  }
  // Entries come last part first, so each one goes before the ones already here.
  const size_t start = units_.size() - (parts_ + 1) * 13;
  for (size_t i = 0; i < 13; ++i) units_[start + i] = static_cast<char16_t>(bytes.U16(offset + kLongNameUnitOffsets[i]));
  ++parts_;
}

std::string LongNameRun::Name() const {
  if (!HasName()) return {};
  const size_t start = units_.size() - parts_ * 13;
  size_t end = start;
  while (end < units_.size() && units_[end] != 0) ++end;
  return Utf16ToUtf8(std::u16string_view(units_.data() + start, end - start));
}

}  // namespace selvane
