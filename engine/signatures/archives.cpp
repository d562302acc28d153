// gzip, 7-Zip, RAR and cabinet archives.
#include <algorithm>

#include "engine/signatures/signature_families.h"

namespace selvane {
namespace {

using namespace std::literals;

CarveType DetectGzip(ByteReader r, CarveContext&) {
  if (r.size() < 16 || !r.Equals(0, "\x1F\x8B\x08"sv)) return CarveType::kNone;
  const uint8_t flags = r.U8(3);
  const uint8_t extraFlags = r.U8(8);
  const uint8_t system = r.U8(9);
  if (flags != 0 && flags != 8) return CarveType::kNone;
  if (extraFlags != 2 && extraFlags != 4) return CarveType::kNone;
  return system <= 13 || system == 0xFF ? CarveType::kGzip : CarveType::kNone;
}

CarveType DetectSevenZip(ByteReader r, CarveContext&) {
  return r.size() >= 2 && r.Equals(0, "7z\xBC\xAF\x27"sv) ? CarveType::kSevenZip : CarveType::kNone;
}

CarveType DetectRar(ByteReader r, CarveContext&) {
  return r.size() >= 7 && r.Equals(0, "Rar!\x1A\x07\x00"sv) ? CarveType::kRar : CarveType::kNone;
}

CarveType DetectCabinet(ByteReader r, CarveContext&) {
  return r.size() >= 36 && r.Equals(0, "MSCF") ? CarveType::kCabinet : CarveType::kNone;
}

// The coder record of the LZMA-packed header at the end of a 7-Zip archive.
// What follows it to the archive's end is short and fixed but for the size
// of the packed header (one byte for a header under 128 bytes, else more):
// dictionary size, unpack sizes, the CRC and two end marks. It is walked when
// it is at hand; otherwise the end lies 27 bytes after the record's start.
class SevenZipEnd final : public EndTest {
 public:
  std::optional<uint64_t> operator()(std::span<const uint8_t> chunk, uint64_t base, size_t beforeCut) override {
    // A marker after the next file start is that file's, not this one's.
    chunk = chunk.first(beforeCut);
    constexpr Pattern kCoder = "\x00\x07\x0B\x01\x00\x01\x23\x03\x01\x01\x05\x5D"sv;
    const size_t pos = FindLast(chunk, kCoder);
    if (pos == kNotFound) return std::nullopt;
    if (auto end = WalkTail(ByteReader(chunk), pos + kCoder.size() + 4)) return base + *end;
    return base + pos + 27;
  }

 private:
  static std::optional<size_t> WalkTail(const ByteReader& r, size_t at) {
    if (r.U8(at) != 0x0C) return std::nullopt;  // unpack sizes
    const uint8_t first = r.U8(at + 1);
    size_t extra = 0;  // a 7-Zip number has one more byte per leading 1 bit
    while (extra < 8 && (first & (0x80 >> extra)) != 0) ++extra;
    at += 2 + extra;
    if (r.U8(at) != 0x0A || r.U8(at + 1) != 0x01) return std::nullopt;  // the CRC, defined
    at += 2 + 4;
    if (r.U8(at) != 0x00 || r.U8(at + 1) != 0x00 || r.overrun()) return std::nullopt;
    return at + 2;
  }
};

// RAR's end-of-archive block, padded with zeros to its sector's end.
class RarEnd final : public EndTest {
 public:
  explicit RarEnd(uint32_t sectorSize) : sectorSize_(sectorSize) {}
  std::optional<uint64_t> operator()(std::span<const uint8_t> chunk, uint64_t base, size_t beforeCut) override {
    // A marker after the next file start is that file's, not this one's.
    chunk = chunk.first(beforeCut);
    constexpr Pattern kMarker = "\xC4\x3D\x7B\x00\x40\x07\x00"sv;
    const size_t pos = FindFirstZeroTailed(chunk, kMarker, sectorSize_);
    if (pos == kNotFound) return std::nullopt;
    return base + pos + kMarker.size();
  }

 private:
  uint32_t sectorSize_;
};

}  // namespace

uint64_t MeasureSevenZip(ByteReader r, CarveContext& context) {
  SevenZipEnd end;
  return ScanAhead(context, r.bytes(), {.limit = k4GiB, .kind = EndKind::kStopping, .firstSectorFirst = true}, &end);
}

uint64_t MeasureRar(ByteReader r, CarveContext& context) {
  RarEnd end(context.sectorSize);
  return ScanAhead(context, r.bytes(), {.limit = k4GiB, .kind = EndKind::kStopping, .firstSectorFirst = true}, &end);
}

uint64_t MeasureCabinet(ByteReader r, CarveContext& context) {
  if (r.size() < 36) return context.sectorSize;
  return std::min<uint64_t>(r.U32(8), k1GiB);
}

extern const DetectorSpec kGzipDetector{DetectGzip, {{{0, 0x1F}}}, 1};
extern const DetectorSpec kSevenZipDetector{DetectSevenZip, {{{0, '7'}}}, 1};
extern const DetectorSpec kRarDetector{DetectRar, {{{0, 'R'}}}, 1};
extern const DetectorSpec kCabinetDetector{DetectCabinet, {{{0, 'M'}}}, 1};

}  // namespace selvane
