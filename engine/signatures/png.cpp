// PNG.
#include "engine/signatures/signature_families.h"

namespace selvane {
namespace {

using namespace std::literals;

CarveType DetectPng(ByteReader r, CarveContext&) {
  return r.size() >= 8 && r.Equals(0, "\x89PNG\r\n\x1A\n"sv) ? CarveType::kPng : CarveType::kNone;
}

// The IEND chunk with its CRC, padded with zeros to its sector's end.
class PngEnd final : public EndTest {
 public:
  explicit PngEnd(uint32_t sectorSize) : sectorSize_(sectorSize) {}
  std::optional<uint64_t> operator()(std::span<const uint8_t> chunk, uint64_t base, size_t beforeCut) override {
    // A marker after the next file start is that file's, not this one's.
    chunk = chunk.first(beforeCut);
    constexpr Pattern kMarker = "IEND\xAE\x42\x60\x82"sv;
    const size_t pos = FindFirstZeroTailed(chunk, kMarker, sectorSize_);
    if (pos == kNotFound) return std::nullopt;
    return base + pos + kMarker.size();
  }

 private:
  uint32_t sectorSize_;
};

}  // namespace

uint64_t MeasurePng(ByteReader r, CarveContext& context) {
  PngEnd end(context.sectorSize);
  return ScanAhead(context, r.bytes(), {.limit = k128MiB, .kind = EndKind::kStopping, .firstSectorFirst = true},
                   &end);
}

extern const DetectorSpec kPngDetector{DetectPng, {{{0, 0x89}}}, 1};

}  // namespace selvane
