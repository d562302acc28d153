// Compound files (the container of Word, Excel and PowerPoint documents before
// the Office packages): classification by their first stream or their
// directory, and the length from the FAT.
#include <algorithm>

#include "engine/signatures/signature_families.h"

namespace selvane {
namespace {

using namespace std::literals;

constexpr Pattern kCompoundMagic = "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1"sv;
// Class identifiers of the root entry, as stored.
constexpr Pattern kWordClass = "\x06\x09\x02\x00\x00\x00\x00\x00\xC0\x00\x00\x00\x00\x00\x00\x46"sv;
constexpr Pattern kExcelClass = "\x20\x08\x02\x00\x00\x00\x00\x00\xC0\x00\x00\x00\x00\x00\x00\x46"sv;
constexpr Pattern kExcel5Class = "\x10\x08\x02\x00\x00\x00\x00\x00\xC0\x00\x00\x00\x00\x00\x00\x46"sv;
constexpr Pattern kPowerPointClass = "\x10\x8D\x81\x64\x9B\x4F\xCF\x11\x86\xEA\x00\xAA\x00\xB9\x29\xE8"sv;
constexpr size_t kDirectoryEntrySize = 128;
constexpr uint32_t kFreeSector = 0xFFFFFFFF;
constexpr uint32_t kLastRegularSector = 0xFFFFFFFC;  // values from here on end a chain

// The entry's UTF-16 name begins with `name` (ASCII), ignoring case.
bool EntryNameIs(const ByteReader& entry, std::string_view name) {
  for (size_t i = 0; i < name.size(); ++i) {
    uint16_t c = entry.U16(2 * i);
    if (c >= 'A' && c <= 'Z') c = static_cast<uint16_t>(c - 'A' + 'a');
    char n = name[i];
    if (n >= 'A' && n <= 'Z') n = static_cast<char>(n - 'A' + 'a');
    if (c != static_cast<uint8_t>(n)) return false;
  }
  return true;
}

CarveType ClassifyCompoundFile(const ByteReader& header, CarveContext& context) {
  const uint32_t sectorSize = context.sectorSize;
  auto buffer = context.DetectorBuffer(sectorSize);

  // The stream that follows the header: Word's file information block or an Excel BOF record.
  if (!context.ReadFull(context.sectorUnderTest + 1, 1, buffer)) return CarveType::kCompoundFile;
  const ByteReader next(buffer);
  if (next.U16(0) == 0xA5EC) return CarveType::kWordDocument;
  if (next.U16(0) == 0x0809 && next.U16(2) == 0x0010 && next.U16(4) == 0x0600) return CarveType::kExcelWorkbook;

  // The directory: the root entry's class, else the names of the entries.
  const uint64_t directorySector = context.sectorUnderTest + 1 + header.U32(48);
  if (!context.ReadFull(directorySector, 1, buffer)) return CarveType::kCompoundFile;
  const ByteReader directory(buffer);
  if (directory.Equals(80, kWordClass)) return CarveType::kWordDocument;
  if (directory.Equals(80, kExcelClass) || directory.Equals(80, kExcel5Class)) return CarveType::kExcelWorkbook;
  if (directory.Equals(80, kPowerPointClass)) return CarveType::kPowerPoint;
  for (size_t i = 0; i < sectorSize / kDirectoryEntrySize; ++i) {
    const ByteReader entry = directory.Sub(i * kDirectoryEntrySize, kDirectoryEntrySize);
    if (EntryNameIs(entry, "WordDocument")) return CarveType::kWordDocument;
    if (EntryNameIs(entry, "Workbook")) return CarveType::kExcelWorkbook;
    if (EntryNameIs(entry, "PowerPoint Document")) return CarveType::kPowerPoint;
  }
  return CarveType::kCompoundFile;
}

CarveType DetectCompound(ByteReader r, CarveContext& context) {
  if (r.size() < 8 || !r.Equals(0, kCompoundMagic)) return CarveType::kNone;
  return ClassifyCompoundFile(r, context);
}

// The length that the FAT covers, less the free entries at the end of its last
// sector; 0 when the header is implausible or a sector cannot be read.
uint64_t CompoundFileSize(const ByteReader& header, CarveContext& context) {
  const uint16_t shift = header.U16(30);
  if (shift != 9 && shift != 12) return 0;
  const uint32_t maxFat = (0xFFFFFFFAu >> (shift - 2)) + 1;
  const uint32_t fatSectors = header.U32(44);
  const uint32_t difatSectors = header.U32(72);
  if (fatSectors == 0 || fatSectors > maxFat || header.U32(64) > maxFat) return 0;
  if (difatSectors > maxFat / ((1u << (shift - 2)) - 1) + 1) return 0;
  if (difatSectors != 0 && fatSectors < 109) return 0;

  const uint32_t sectorSize = context.sectorSize;
  const uint64_t covered = uint64_t{fatSectors} * 128 + 1;
  auto buffer = context.Scratch().first(sectorSize);
  const ByteReader sector(buffer);
  auto readFileSector = [&](uint32_t number) {
    return context.ReadFull(context.candidateStart + 1 + number, 1, buffer);
  };

  uint32_t lastFat = 0;
  if (difatSectors == 0) {
    if (!header.Fits(76 + 4 * (size_t{fatSectors} - 1), 4)) return 0;
    lastFat = header.U32(76 + 4 * (size_t{fatSectors} - 1));
  } else {
    uint32_t difat = header.U32(68);
    for (uint32_t i = 0;; ++i) {
      if (difat >= kLastRegularSector || !readFileSector(difat)) return 0;
      if (i + 1 == difatSectors) {
        const uint32_t rest = (fatSectors - 109) % 127;
        lastFat = sector.U32(4 * (rest == 0 ? 126 : rest - 1));
        break;
      }
      difat = sector.U32(4 * 127);
    }
  }
  if (lastFat >= kLastRegularSector || !readFileSector(lastFat)) return 0;

  const size_t entries = std::min<size_t>(128, sectorSize / 4);
  uint64_t freeAtEnd = 0;
  for (size_t i = entries; i-- > 0 && sector.U32(4 * i) == kFreeSector;) ++freeAtEnd;
  return std::min<uint64_t>((covered - freeAtEnd) * sectorSize, kOfficeLimit);
}

// Without a usable FAT: a Word document's CompObj stream names the program, and
// the file ends with the sector that holds that name.
class CompObjEnd final : public EndTest {
 public:
  explicit CompObjEnd(uint32_t sectorSize) : sectorSize_(sectorSize) {}
  std::optional<uint64_t> operator()(std::span<const uint8_t> chunk, uint64_t base, size_t beforeCut) override {
    // A marker after the next file start is that file's, not this one's.
    chunk = chunk.first(beforeCut);
    if (FindFirst(chunk, "\x01\x00\xFE\xFF\x03\x0A"sv) == kNotFound) return std::nullopt;
    constexpr Pattern kWordName = "Microsoft Office Word\x20\xCE\xC4\xB5\xB5"sv;
    const size_t pos = FindFirst(chunk, kWordName);
    if (pos == kNotFound) return std::nullopt;
    const uint64_t end = base + pos + kWordName.size();
    return (end + sectorSize_ - 1) / sectorSize_ * sectorSize_;
  }

 private:
  uint32_t sectorSize_;
};

}  // namespace

uint64_t MeasureCompoundFile(ByteReader r, CarveContext& context) {
  if (const uint64_t size = CompoundFileSize(r, context); size != 0) return size;
  CompObjEnd end(context.sectorSize);
  return ScanAhead(context, r.bytes(), {.limit = kOfficeLimit, .kind = EndKind::kStopping}, &end);
}

extern const DetectorSpec kCompoundDetector{DetectCompound, {{{0, 0xD0}}}, 1};

}  // namespace selvane
