// ZIP archives and the Office packages (ZIP files whose parts are named
// word/…, xl/… or ppt/…).
#include <algorithm>

#include "engine/signatures/signature_families.h"

namespace selvane {
namespace {

using namespace std::literals;

constexpr Pattern kLocalHeader = "PK\x03\x04"sv;
constexpr Pattern kCentralHeader = "PK\x01\x02"sv;
constexpr Pattern kEndOfCentralDirectory = "PK\x05\x06"sv;
constexpr uint32_t kWindowSectors = 4;
constexpr uint32_t kPackageCheckSectors = 20;

// The Office part that a name in a ZIP header starts, if any.
CarveType PartType(std::span<const uint8_t> name) {
  if (name.size() >= 5 && StartsWithNoCase(name, "word")) return CarveType::kWordPackage;
  if (name.size() >= 4 && StartsWithNoCase(name, "ppt")) return CarveType::kPowerPointPackage;
  if (name.size() >= 3 && StartsWithNoCase(name, "xl")) return CarveType::kExcelPackage;
  return CarveType::kNone;
}

// One kind of header searched through the window, each after the previous one.
struct HeaderSearch {
  Pattern signature;
  size_t nameOffset;   // from the signature to the name
  size_t minimumLeft;  // bytes a header needs before the window's end to hold a name
  size_t next = 0;
  bool done = false;

  // The type the next header's name decides (kNone: undecided).
  CarveType Step(std::span<const uint8_t> window, size_t endOfDirectory) {
    const size_t pos = FindFirst(window, signature, next);
    if (pos == kNotFound || pos > endOfDirectory || window.size() - pos < minimumLeft) {
      done = true;
      return CarveType::kNone;
    }
    next = pos + 1;
    if (pos + nameOffset >= window.size()) return CarveType::kNone;
    return PartType(window.subspan(pos + nameOffset));
  }
};

// Looks for the first Office part name in the headers of the file's first sectors.
CarveType CheckPackage(CarveContext& context) {
  const uint32_t sectorSize = context.sectorSize;
  const size_t windowBytes = size_t{kWindowSectors} * sectorSize + 4;
  auto window = context.DetectorBuffer(windowBytes);
  std::fill_n(window.begin(), 4, 0);
  for (uint32_t done = 0; done < kPackageCheckSectors; done += kWindowSectors) {
    if (done != 0) std::copy(window.end() - 4, window.end(), window.begin());
    if (!context.ReadFull(context.sectorUnderTest + done, kWindowSectors, window.subspan(4)))
      return CarveType::kNone;
    const size_t eocd = FindFirst(window, kEndOfCentralDirectory);
    const size_t bound = eocd == kNotFound ? window.size() : eocd;
    HeaderSearch local{kLocalHeader, 30, 4};
    HeaderSearch central{kCentralHeader, 46, 47};
    while (!local.done || !central.done) {
      if (!local.done)
        if (CarveType t = local.Step(window, bound); t != CarveType::kNone) return t;
      if (!central.done)
        if (CarveType t = central.Step(window, bound); t != CarveType::kNone) return t;
    }
  }
  return CarveType::kNone;
}

CarveType DetectPackage(ByteReader r, CarveContext& context) {
  if (r.size() < 31) return CarveType::kNone;
  if (!r.Equals(0, kLocalHeader) && !r.Equals(31, "[Content_Types].xml")) return CarveType::kNone;
  return CheckPackage(context);
}

CarveType DetectZip(ByteReader r, CarveContext&) {
  return r.size() >= 48 && r.Equals(0, kLocalHeader) ? CarveType::kZip : CarveType::kNone;
}

// The last end-of-central-directory record of the chunk that closes this
// archive (its central directory ends right before it, counted from the
// file's start), with its comment. Records of archives that follow are
// skipped; without such a record, the last one before the next file start.
class ZipEnd final : public EndTest {
 public:
  std::optional<uint64_t> operator()(std::span<const uint8_t> chunk, uint64_t base, size_t beforeCut) override {
    const ByteReader r(chunk);
    size_t fallback = kNotFound;
    for (size_t pos = FindLast(chunk, kEndOfCentralDirectory); pos != kNotFound;
         pos = pos == 0 ? kNotFound : FindLast(chunk.first(pos + kEndOfCentralDirectory.size() - 1),
                                                kEndOfCentralDirectory)) {
      if (ClosesThisArchive(r, pos, base)) return RecordEnd(r, pos, base);
      if (fallback == kNotFound && pos < beforeCut) fallback = pos;
    }
    if (fallback == kNotFound) return std::nullopt;
    return RecordEnd(r, fallback, base);
  }

 private:
  static bool ClosesThisArchive(const ByteReader& r, size_t pos, uint64_t base) {
    const uint32_t directorySize = r.U32(pos + 12);
    const uint32_t directoryOffset = r.U32(pos + 16);
    if (directorySize == 0xFFFFFFFF || directoryOffset == 0xFFFFFFFF)
      return pos >= 20 && r.Equals(pos - 20, "PK\x06\x07"sv);  // ZIP64: the locator precedes the record
    return uint64_t{directoryOffset} + directorySize == base + pos;
  }
  static uint64_t RecordEnd(const ByteReader& r, size_t pos, uint64_t base) {
    const uint64_t comment = r.Fits(pos + 20, 2) ? r.U16(pos + 20) : 0;
    return base + pos + 22 + comment;
  }
};

}  // namespace

uint64_t MeasurePackage(ByteReader r, CarveContext& context) {
  ZipEnd end;
  return ScanAhead(context, r.bytes(), {.limit = kOfficeLimit, .kind = EndKind::kStopping, .firstSectorFirst = true}, &end);
}

uint64_t MeasureZip(ByteReader r, CarveContext& context) {
  ZipEnd end;
  return ScanAhead(context, r.bytes(), {.limit = k4GiB, .kind = EndKind::kStopping, .firstSectorFirst = true}, &end);
}

extern const DetectorSpec kPackageDetector{DetectPackage, {{{0, 'P'}, {31, '['}}}, 2};
extern const DetectorSpec kZipDetector{DetectZip, {{{0, 'P'}}}, 1};

}  // namespace selvane
