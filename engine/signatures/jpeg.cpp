// JPEG (JFIF and Exif).
#include "engine/signatures/signature_families.h"

namespace selvane {
namespace {

using namespace std::literals;

CarveType DetectJpeg(ByteReader r, CarveContext&) {
  if (r.size() < 16) return CarveType::kNone;
  if (r.Equals(0, "\xFF\xD8\xFF\xE0"sv) && r.Equals(6, "JFIF")) return CarveType::kJpeg;
  if (r.Equals(0, "\xFF\xD8\xFF\xE1"sv) && r.Equals(6, "Exif")) return CarveType::kJpeg;
  return CarveType::kNone;
}

// The end-of-image marker padded with zeros to its sector's end. An embedded
// thumbnail has one too, followed by more of the file, so only a padded one
// counts, and a later chunk's marker replaces an earlier one.
class JpegEnd final : public EndTest {
 public:
  explicit JpegEnd(uint32_t sectorSize) : sectorSize_(sectorSize) {}
  std::optional<uint64_t> operator()(std::span<const uint8_t> chunk, uint64_t base, size_t /*beforeCut*/) override {
    const size_t pos = FindFirstZeroTailed(chunk, "\xFF\xD9"sv, sectorSize_);
    if (pos == kNotFound) return std::nullopt;
    return base + pos + 2;
  }

 private:
  uint32_t sectorSize_;
};

}  // namespace

uint64_t MeasureJpeg(ByteReader r, CarveContext& context) {
  JpegEnd end(context.sectorSize);
  return ScanAhead(context, r.bytes(), {.limit = k128MiB, .kind = EndKind::kCandidate, .firstSectorFirst = true},
                   &end);
}

extern const DetectorSpec kJpegDetector{DetectJpeg, {{{0, 0xFF}}}, 1};

}  // namespace selvane
