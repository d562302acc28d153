// GIF, BMP, Photoshop, TIFF and icon files.
#include <algorithm>

#include "engine/signatures/signature_families.h"

namespace selvane {
namespace {

using namespace std::literals;

CarveType DetectGif(ByteReader r, CarveContext&) {
  if (r.size() < 8 || !r.Equals(0, "GIF")) return CarveType::kNone;
  auto digit = [](uint8_t b) { return b >= '0' && b <= '9'; };
  return digit(r.U8(3)) && digit(r.U8(4)) && r.U8(5) >= 'a' && r.U8(5) <= 'z' ? CarveType::kGif : CarveType::kNone;
}

CarveType DetectBmp(ByteReader r, CarveContext&) {
  if (r.size() < 40 || !(r.Equals(0, "BM") || r.Equals(0, "BA"))) return CarveType::kNone;
  return r.U16(6) == 0 && r.U16(8) == 0 && r.U32(14) == 40 ? CarveType::kBmp : CarveType::kNone;
}

CarveType DetectPsd(ByteReader r, CarveContext&) {
  return r.size() >= 40 && r.Equals(0, "8BPS") ? CarveType::kPsd : CarveType::kNone;
}

CarveType DetectTiff(ByteReader r, CarveContext&) {
  if (r.size() < 4) return CarveType::kNone;
  return r.Equals(0, "MM\x00\x2A"sv) || r.Equals(0, "II\x2A\x00"sv) ? CarveType::kTiff : CarveType::kNone;
}

// The end of the last image of an icon directory whose images follow it
// without gaps; empty when the directory is not such a chain.
std::optional<uint64_t> IconChainEnd(const ByteReader& r) {
  const uint16_t count = r.U16(4);
  if (count == 0) return std::nullopt;
  uint64_t end = uint64_t{count} * 16 + 6;
  if (!r.Fits(0, end)) return std::nullopt;
  for (size_t i = 0; i < count; ++i) {
    const size_t entry = 6 + 16 * i;
    if (r.U8(entry + 3) != 0 || r.U32(entry + 12) != end) return std::nullopt;
    end += r.U32(entry + 8);
  }
  return end;
}

CarveType DetectIcon(ByteReader r, CarveContext&) {
  if (r.size() < 16 || !r.Equals(0, "\x00\x00\x01\x00"sv)) return CarveType::kNone;
  return IconChainEnd(r) ? CarveType::kIcon : CarveType::kNone;
}

class GifEnd final : public EndTest {
 public:
  explicit GifEnd(uint32_t sectorSize) : sectorSize_(sectorSize) {}
  std::optional<uint64_t> operator()(std::span<const uint8_t> chunk, uint64_t base, size_t beforeCut) override {
    // A marker after the next file start is that file's, not this one's.
    chunk = chunk.first(beforeCut);
    const size_t pos = FindFirstZeroTailed(chunk, "\x00\x3B"sv, sectorSize_);
    if (pos == kNotFound) return std::nullopt;
    return base + pos + 2;
  }

 private:
  uint32_t sectorSize_;
};

}  // namespace

uint64_t MeasureGif(ByteReader r, CarveContext& context) {
  GifEnd end(context.sectorSize);
  return ScanAhead(context, r.bytes(), {.limit = k128MiB, .kind = EndKind::kStopping, .firstSectorFirst = true},
                   &end);
}

uint64_t MeasureBmp(ByteReader r, CarveContext&) { return std::min<uint64_t>(r.U32(2), k128MiB); }

uint64_t MeasureIcon(ByteReader r, CarveContext& context) {
  if (r.U16(4) == 0) return context.sectorSize;
  const uint64_t directoryEnd = uint64_t{r.U16(4)} * 16 + 6;
  if (directoryEnd <= r.size()) {
    const size_t last = 6 + 16 * (size_t{r.U16(4)} - 1);
    return uint64_t{r.U32(last + 12)} + r.U32(last + 8);
  }
  // A directory longer than the sector is read from the start of the file.
  const ByteReader head(ReadFileHead(context));
  if (head.size() == 0 || !head.Fits(0, directoryEnd)) return context.sectorSize;
  const size_t last = 6 + 16 * (size_t{r.U16(4)} - 1);
  return uint64_t{head.U32(last + 12)} + head.U32(last + 8);
}

extern const DetectorSpec kGifDetector{DetectGif, {{{0, 'G'}}}, 1};
extern const DetectorSpec kBmpDetector{DetectBmp, {{{0, 'B'}}}, 1};
extern const DetectorSpec kPsdDetector{DetectPsd, {{{0, '8'}}}, 1};
extern const DetectorSpec kTiffDetector{DetectTiff, {{{0, 'M'}, {0, 'I'}}}, 2};
extern const DetectorSpec kIconDetector{DetectIcon, {{{0, 0x00}}}, 1};

}  // namespace selvane
