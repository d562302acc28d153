// The kinds of file that the signature table recognises by content.
#pragma once

#include <cstdint>

namespace selvane {

// Type code returned by the detectors. kNone means "not recognised" and also
// ends the signature table.
enum class CarveType : uint8_t {
  kWordDocument = 0,
  kWordPackage = 1,
  kCompoundFile = 2,
  kExcelWorkbook = 3,
  kExcelPackage = 4,
  kPowerPoint = 5,
  kPowerPointPackage = 6,
  kOfficePackage = 7,
  kPdf = 8,
  kDiskImageBackup = 9,
  kJpeg = 10,
  kMpegAudio = 11,
  kMp3 = 12,
  kMidi = 13,
  kSmaf = 14,
  kMpeg = 15,
  k3gpp = 16,
  kQuickTime = 17,
  kMp4 = 18,
  kMatroska = 19,
  kTransportStream = 20,
  kWave = 21,
  kAvi = 22,
  kRealMedia = 23,
  kAsf = 24,
  kMonkeysAudio = 25,
  kSwf = 26,
  kFlv = 27,
  kPsd = 28,
  kBmp = 29,
  kPng = 30,
  kGif = 31,
  kTiff = 32,
  kCabinet = 33,
  kSevenZip = 34,
  kZip = 35,
  kGzip = 36,
  kRar = 37,
  kPst = 38,
  kSqlite = 39,
  kDbx = 40,
  kExecutable = 41,
  kDynamicLibrary = 42,
  kDriver = 43,
  kFla = 44,
  kTrueType = 45,
  kIcon = 46,
  kBdavStream = 47,
  kMxf = 48,
  kNone = 49,
};

inline constexpr int kCarveTypeCount = 50;  // including kNone

constexpr int CarveTypeCode(CarveType type) { return static_cast<int>(type); }

// Types after which the carving walk goes on with the next sector instead of
// skipping the measured file: their length comes from a header field that a
// damaged or foreign header could overstate.
constexpr bool ContinuesWithNextSector(CarveType type) {
  switch (type) {
    case CarveType::kWordDocument:
    case CarveType::kCompoundFile:
    case CarveType::kExcelWorkbook:
    case CarveType::kPowerPoint:
    case CarveType::kWave:
    case CarveType::kAvi:
    case CarveType::kAsf:
    case CarveType::kSwf:
    case CarveType::kBmp:
    case CarveType::kCabinet:
    case CarveType::kTrueType:
    case CarveType::kIcon:
      return true;
    default:
      return false;
  }
}

}  // namespace selvane
