#include "engine/fat_directory_sector.h"

#include <algorithm>

namespace selvane {
namespace {

// 1 January 1990 00:00 and 1 January 2050 00:00 as FILETIME.
constexpr uint64_t kEarliestEntryTime = 0x01B41E2A18D64000ull;
constexpr uint64_t kLatestEntryTime = 0x01F7630BE39D8000ull;

constexpr bool IsLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysInMonth(int year, int month) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

// Days from 1 January 1601 to the given date.
int64_t DaysSince1601(int year, int month, int day) {
  // Days from 1970-01-01 (civil calendar), then shifted to 1601.
  const int y = year - (month <= 2 ? 1 : 0);
  const int era = (y >= 0 ? y : y - 399) / 400;
  const int yoe = y - era * 400;
  const int doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  const int64_t daysSince1970 = int64_t{era} * 146097 + doe - 719468;
  return daysSince1970 + 134774;
}

bool IsDeleted(const ByteReader& r, size_t offset) { return r.U8(offset) == kFatDeletedMark; }

bool IsDotPair(const ByteReader& r, size_t offset) {
  const size_t next = offset + kFatEntrySize;
  if (!r.Fits(next, kFatEntrySize)) return false;
  return r.U8(offset) == '.' && (r.U8(offset + 11) & kFatDirectory) != 0 && r.U32(offset + 28) == 0 &&
         r.Equals(next, "..") && (r.U8(next + 11) & kFatDirectory) != 0 && r.U32(next + 28) == 0;
}

bool InEntryRange(std::optional<uint64_t> time) {
  const uint64_t value = time.value_or(0);
  return value >= kEarliestEntryTime && value <= kLatestEntryTime;
}

bool IsForbiddenShortNameByte(uint8_t b) {
  if (b < 0x20 || (b >= 'a' && b <= 'z')) return true;
  switch (b) {
    case '"': case '*': case '.': case ':': case '<': case '>': case '?': case '\\': case '|':
      return true;
    default:
      return false;
  }
}

// Step of the sector test for a short entry: a creation date, and printable
// name bytes without inner blanks. A byte above 0x7F may stand alone: 8.3
// names hold single OEM letters ("GRÖSSE", "CAFÉ"), not only double-byte pairs.
bool IsCleanShortEntry(const ByteReader& r, size_t offset) {
  const uint8_t attributes = r.U8(offset + 11);
  if (attributes == kFatVolumeLabel) return true;
  if (!FatTimeToFileTime(r.U16(offset + 16), r.U16(offset + 14), r.U8(offset + 13))) return false;
  auto partIsClean = [&](size_t start, size_t length) {
    bool blankSeen = false;
    for (size_t i = 0; i < length; ++i) {
      const uint8_t b = r.U8(offset + start + i);
      if (b < 0x20 || b == '.') return false;
      if (b == ' ') {
        blankSeen = true;
      } else if (blankSeen) {
        return false;
      }
    }
    return true;
  };
  return partIsClean(0, 8) && partIsClean(8, 3);
}

// Filler that repeats one 32-bit pattern looks like entries to the other tests.
bool IsRepeatedPattern(const ByteReader& r, size_t offset) {
  const uint32_t word = r.U32(offset + 13);
  return r.U32(offset + 17) == word && r.U32(offset + 21) == word && r.U32(offset + 25) == word &&
         r.U8(offset + 29) == r.U8(offset + 13) && r.U8(offset + 30) == r.U8(offset + 14);
}

}  // namespace

std::optional<uint64_t> FatTimeToFileTime(uint16_t date, uint16_t time, uint8_t tenths) {
  const int day = date & 0x1F;
  const int month = (date >> 5) & 0x0F;
  const int year = 1980 + (date >> 9);
  const int seconds = 2 * (time & 0x1F) + tenths / 100;
  const int minutes = (time >> 5) & 0x3F;
  const int hours = time >> 11;
  const int milliseconds = (tenths % 100) * 10;
  if (month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month)) return std::nullopt;
  if (hours > 23 || minutes > 59 || seconds > 59) return std::nullopt;
  const int64_t totalSeconds = DaysSince1601(year, month, day) * 86400 + hours * 3600 + minutes * 60 + seconds;
  return static_cast<uint64_t>(totalSeconds) * 10000000u + static_cast<uint64_t>(milliseconds) * 10000u;
}

uint8_t ShortNameChecksum(std::span<const uint8_t> name11) {
  uint8_t sum = 0;
  for (size_t i = 0; i < 11 && i < name11.size(); ++i)
    sum = static_cast<uint8_t>(((sum & 1) << 7) + (sum >> 1) + name11[i]);
  return sum;
}

bool IsPlausibleEntry(const ByteReader& r, size_t offset) {
  if (!r.Fits(offset, kFatEntrySize)) return false;
  if (IsDotPair(r, offset)) return true;

  const uint8_t attributes = r.U8(offset + 11);
  const uint32_t size = r.U32(offset + 28);
  const uint16_t clusterHigh = r.U16(offset + 20);
  const uint16_t clusterLow = r.U16(offset + 26);
  const bool deleted = IsDeleted(r, offset);
  const bool directory = (attributes & kFatDirectory) != 0;
  const bool longName = attributes == kFatLongNameAttributes;

  if (size == 0 && !directory && (uint32_t{clusterHigh} << 16 | clusterLow) != 0) return false;
  if (attributes == kFatVolumeLabel) {
    if (size != 0 || clusterHigh != 0 || clusterLow != 0) return false;
  } else if ((attributes & kFatVolumeLabel) != 0 && !longName) {
    return false;
  }
  if (attributes >= 0x40 || (directory && (attributes & 0x01) != 0)) return false;
  if (longName) {
    if (!deleted && (r.U8(offset) & ~0x40) > 18) return false;
    if (clusterLow != 0) return false;
  } else {
    if (!deleted && !directory) {
      if (!InEntryRange(FatTimeToFileTime(r.U16(offset + 16), r.U16(offset + 14), r.U8(offset + 13))) ||
          !InEntryRange(FatTimeToFileTime(r.U16(offset + 18), 0)) ||
          !InEntryRange(FatTimeToFileTime(r.U16(offset + 24), r.U16(offset + 22))))
        return false;
    }
    if (attributes != kFatVolumeLabel) {
      for (size_t i = 0; i < 11; ++i)
        if (IsForbiddenShortNameByte(r.U8(offset + i))) return false;
    }
  }
  if (!deleted && directory && size != 0) return false;
  return attributes == kFatVolumeLabel || longName || directory || (attributes & kFatArchive) != 0;
}

bool IsDirectoryStartSector(std::span<const uint8_t> sector) { return IsDotPair(ByteReader(sector), 0); }

bool IsFatDirectorySector(std::span<const uint8_t> sector) {
  const ByteReader r(sector);
  if (sector.size() < kFatEntrySize) return true;
  const size_t entries = sector.size() / kFatEntrySize;
  size_t i = 0;
  while (i < entries) {
    const size_t offset = i * kFatEntrySize;
    if (r.U8(offset) == 0) {
      return i != 0 && std::all_of(sector.begin() + static_cast<ptrdiff_t>(offset), sector.end(),
                                   [](uint8_t b) { return b == 0; });
    }
    if (!IsPlausibleEntry(r, offset) || IsRepeatedPattern(r, offset)) return false;
    if (r.U8(offset + 11) != kFatLongNameAttributes) {
      if (!IsCleanShortEntry(r, offset)) return false;
      ++i;
      continue;
    }
    // A long name: entries with the same checksum up to its short entry.
    const uint8_t checksum = r.U8(offset + 13);
    size_t j = i + 1;
    size_t following = 0;
    bool closed = false;
    for (; j < entries; ++j) {
      const size_t at = j * kFatEntrySize;
      if (!IsPlausibleEntry(r, at) || IsRepeatedPattern(r, at)) return false;
      if (r.U8(at + 11) == kFatLongNameAttributes) {
        if (r.U8(at + 13) != checksum || ++following > 18) return false;
        continue;
      }
      const bool matches = IsDeleted(r, at) || ShortNameChecksum(r.Span(at, 11)) == checksum;
      if (!matches || !IsCleanShortEntry(r, at)) return false;
      closed = true;
      break;
    }
    if (!closed) return true;  // the name goes on in the next sector
    i = j + 1;
  }
  return true;
}

}  // namespace selvane
