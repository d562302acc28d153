// FileSignatureTable: the rows in the order in which they are tried. The
// first row whose detector answers decides the type; the first row that
// carries a type names its carved files.
#include "engine/signatures/signature_table.h"

#include <array>
#include <bit>

#include "engine/signatures/signature_families.h"
#include "platform/text.h"

namespace selvane {
namespace {

using T = CarveType;

constexpr SignatureRow kRows[] = {
    {"mpeg", T::kMpeg, &kMpegDetector, MeasureMpeg},
    {"mpg", T::kMpeg, &kMpegDetector, MeasureMpeg},
    {"vob", T::kMpeg, &kMpegDetector, MeasureMpeg},
    {"mp4", T::kMp4, &kMp4Detector, MeasureMp4},
    {"rmvb", T::kRealMedia, &kRealMediaDetector, MeasureRealMedia},
    {"rm", T::kRealMedia, &kRealMediaDetector, MeasureRealMedia},
    {"wmv", T::kAsf, &kAsfDetector, MeasureAsf},
    {"asf", T::kAsf, &kAsfDetector, MeasureAsf},
    {"wma", T::kAsf, &kAsfDetector, MeasureAsf},
    {"swf", T::kSwf, &kSwfDetector, MeasureSwf},
    {"avi", T::kAvi, &kAviDetector, MeasureRiff},
    {"flv", T::kFlv, &kFlvDetector, MeasureToNextFile<k6GiB>},
    {"3gp", T::k3gpp, &k3gppDetector, MeasureIsoMedia},
    {"mkv", T::kMatroska, &kMatroskaDetector, MeasureToNextFile<k64GiB>},
    {"ts", T::kTransportStream, &kTransportStreamDetector, MeasureTransportStream},
    {"mts", T::kBdavStream, &kBdavStreamDetector, MeasureToNextFile<k6GiB>},
    {"mxf", T::kMxf, &kMxfDetector, MeasureToNextFile<k6GiB>},
    {"mp3", T::kMp3, &kMp3Detector, MeasureMp3},
    {"mid", T::kMidi, &kMidiDetector, MeasureMidi},
    {"ape", T::kMonkeysAudio, &kMonkeysAudioDetector, MeasureMonkeysAudio},
    {"wav", T::kWave, &kWaveDetector, MeasureRiff},
    {"mov", T::kQuickTime, &kQuickTimeDetector, MeasureIsoMedia},
    {"mp2", T::kMpegAudio, &kMpegAudioDetector, MeasureMpegAudio},
    {"mmf", T::kSmaf, &kSmafDetector, MeasureToNextFile<k256MiB>},
    {"gif", T::kGif, &kGifDetector, MeasureGif},
    {"bmp", T::kBmp, &kBmpDetector, MeasureBmp},
    {"dib", T::kBmp, &kBmpDetector, MeasureBmp},
    {"jpg", T::kJpeg, &kJpegDetector, MeasureJpeg},
    {"jpeg", T::kJpeg, &kJpegDetector, MeasureJpeg},
    {"jpe", T::kJpeg, &kJpegDetector, MeasureJpeg},
    {"jfif", T::kJpeg, &kJpegDetector, MeasureJpeg},
    {"png", T::kPng, &kPngDetector, MeasurePng},
    {"psd", T::kPsd, &kPsdDetector, MeasureToNextFile<k128MiB>},
    {"tif", T::kTiff, &kTiffDetector, MeasureToNextFile<k128MiB>},
    {"tiff", T::kTiff, &kTiffDetector, MeasureToNextFile<k128MiB>},
    {"ico", T::kIcon, &kIconDetector, MeasureIcon},
    {"doc", T::kWordDocument, &kCompoundDetector, MeasureCompoundFile},
    {"dot", T::kWordDocument, &kCompoundDetector, MeasureCompoundFile},
    {"wps", T::kWordDocument, &kCompoundDetector, MeasureCompoundFile},
    {"wpt", T::kWordDocument, &kCompoundDetector, MeasureCompoundFile},
    {"xls", T::kExcelWorkbook, &kCompoundDetector, MeasureCompoundFile},
    {"xlt", T::kExcelWorkbook, &kCompoundDetector, MeasureCompoundFile},
    {"xla", T::kExcelWorkbook, &kCompoundDetector, MeasureCompoundFile},
    {"et", T::kExcelWorkbook, &kCompoundDetector, MeasureCompoundFile},
    {"ett", T::kExcelWorkbook, &kCompoundDetector, MeasureCompoundFile},
    {"ppt", T::kPowerPoint, &kCompoundDetector, MeasureCompoundFile},
    {"pot", T::kPowerPoint, &kCompoundDetector, MeasureCompoundFile},
    {"pps", T::kPowerPoint, &kCompoundDetector, MeasureCompoundFile},
    {"dps", T::kPowerPoint, &kCompoundDetector, MeasureCompoundFile},
    {"dpt", T::kPowerPoint, &kCompoundDetector, MeasureCompoundFile},
    {"ole", T::kCompoundFile, &kCompoundDetector, MeasureCompoundFile},
    {"docx", T::kWordPackage, &kPackageDetector, MeasurePackage},
    {"docm", T::kWordPackage, &kPackageDetector, MeasurePackage},
    {"dotm", T::kWordPackage, &kPackageDetector, MeasurePackage},
    {"dotx", T::kWordPackage, &kPackageDetector, MeasurePackage},
    {"xlsx", T::kExcelPackage, &kPackageDetector, MeasurePackage},
    {"xlsb", T::kExcelPackage, &kPackageDetector, MeasurePackage},
    {"xlsm", T::kExcelPackage, &kPackageDetector, MeasurePackage},
    {"xlam", T::kExcelPackage, &kPackageDetector, MeasurePackage},
    {"xltx", T::kExcelPackage, &kPackageDetector, MeasurePackage},
    {"xltm", T::kExcelPackage, &kPackageDetector, MeasurePackage},
    {"pptx", T::kPowerPointPackage, &kPackageDetector, MeasurePackage},
    {"pptm", T::kPowerPointPackage, &kPackageDetector, MeasurePackage},
    {"potx", T::kPowerPointPackage, &kPackageDetector, MeasurePackage},
    {"potm", T::kPowerPointPackage, &kPackageDetector, MeasurePackage},
    {"ppsx", T::kPowerPointPackage, &kPackageDetector, MeasurePackage},
    {"ppsm", T::kPowerPointPackage, &kPackageDetector, MeasurePackage},
    {"mso07", T::kOfficePackage, &kPackageDetector, MeasurePackage},
    {"pdf", T::kPdf, &kPdfDetector, MeasurePdf},
    {"gz", T::kGzip, &kGzipDetector, MeasureToNextFile<k6GiB>},
    {"gzip", T::kGzip, &kGzipDetector, MeasureToNextFile<k6GiB>},
    {"7z", T::kSevenZip, &kSevenZipDetector, MeasureSevenZip},
    {"zip", T::kZip, &kZipDetector, MeasureZip},
    {"rar", T::kRar, &kRarDetector, MeasureRar},
    {"cab", T::kCabinet, &kCabinetDetector, MeasureCabinet},
    {"exe", T::kExecutable, &kExecutableDetector, nullptr},
    {"dll", T::kDynamicLibrary, &kExecutableDetector, nullptr},
    {"sys", T::kDriver, &kExecutableDetector, nullptr},
    {"gho", T::kDiskImageBackup, &kDiskImageBackupDetector, nullptr},
    {"db", T::kSqlite, &kSqliteDetector, MeasureToNextFile<k4GiB>},
    {"dbx", T::kDbx, &kDbxDetector, MeasureToNextFile<k2GiB>},
    {"pst", T::kPst, &kPstDetector, MeasureToNextFile<k2GiB>},
    {"fla", T::kFla, &kFlaDetector, MeasureToNextFile<k256MiB>},
    {"ttf", T::kTrueType, &kTrueTypeDetector, MeasureTrueType},
    {"", T::kNone, nullptr, nullptr},
};
constexpr size_t kRowCount = std::size(kRows) - 1;
static_assert(kRowCount == 84);

// Index over the detectors in the order of their first row: for each anchor
// offset and byte value, the detectors that may accept a sector holding that
// byte there. Rows after a detector's first one ask the same detector again
// and get the same answer, so each detector is asked once, in this order.
struct DispatchIndex {
  std::array<const DetectorSpec*, 64> detectors{};
  size_t detectorCount = 0;
  std::array<std::array<uint64_t, 256>, kAnchorOffsets.size()> masks{};
  std::array<const SignatureRow*, kCarveTypeCount> firstRowOfType{};

  DispatchIndex() {
    for (size_t row = 0; row < kRowCount; ++row) {
      const SignatureRow& r = kRows[row];
      if (firstRowOfType[CarveTypeCode(r.type)] == nullptr) firstRowOfType[CarveTypeCode(r.type)] = &r;
      size_t k = 0;
      while (k < detectorCount && detectors[k] != r.detector) ++k;
      if (k < detectorCount) continue;
      detectors[detectorCount++] = r.detector;
      for (size_t a = 0; a < r.detector->anchorCount; ++a) {
        const DetectorAnchor anchor = r.detector->anchors[a];
        for (size_t slot = 0; slot < kAnchorOffsets.size(); ++slot)
          if (kAnchorOffsets[slot] == anchor.offset) masks[slot][anchor.value] |= uint64_t{1} << k;
      }
    }
  }
};

const DispatchIndex& Index() {
  static const DispatchIndex index;
  return index;
}

}  // namespace

std::span<const SignatureRow> FileSignatureTable() { return kRows; }

CarveType DetectByRows(ByteReader sector, CarveContext& context) {
  for (size_t row = 0; row < kRowCount; ++row) {
    const CarveType found = kRows[row].detector->detect(sector, context);
    if (found != CarveType::kNone) return found;
  }
  return CarveType::kNone;
}

CarveType DetectFileStart(ByteReader sector, CarveContext& context) {
  const DispatchIndex& index = Index();
  const auto bytes = sector.bytes();
  uint64_t candidates = 0;
  for (size_t slot = 0; slot < kAnchorOffsets.size(); ++slot)
    if (kAnchorOffsets[slot] < bytes.size()) candidates |= index.masks[slot][bytes[kAnchorOffsets[slot]]];
  while (candidates != 0) {
    const int k = std::countr_zero(candidates);
    candidates &= candidates - 1;
    const CarveType found = index.detectors[static_cast<size_t>(k)]->detect(sector, context);
    if (found != CarveType::kNone) return found;
  }
  return CarveType::kNone;
}

const SignatureRow* FirstRowOfType(CarveType type) {
  if (type == CarveType::kNone) return nullptr;
  return Index().firstRowOfType[CarveTypeCode(type)];
}

const SignatureRow* FindRowByExtension(std::string_view extension) {
  for (size_t row = 0; row < kRowCount; ++row)
    if (CompareNoCase(kRows[row].extension, extension) == 0) return &kRows[row];
  return nullptr;
}

}  // namespace selvane
