// RealMedia, ASF (Windows Media), Matroska and MXF.
#include <algorithm>

#include "engine/signatures/signature_families.h"

namespace selvane {
namespace {

using namespace std::literals;

// {75B22630-668E-11CF-A6D9-00AA0062CE6C} and {8CABDCA1-A947-11CF-8EE4-00C00C205365}
// as stored.
constexpr Pattern kAsfHeaderObject = "\x30\x26\xB2\x75\x8E\x66\xCF\x11\xA6\xD9\x00\xAA\x00\x62\xCE\x6C"sv;
constexpr Pattern kAsfFilePropertiesObject = "\xA1\xDC\xAB\x8C\x47\xA9\xCF\x11\x8E\xE4\x00\xC0\x0C\x20\x53\x65"sv;
constexpr Pattern kMxfPartitionPack = "\x06\x0E\x2B\x34\x02\x05\x01\x01\x0D\x01\x02\x01\x01\x02\x04\x00"sv;

CarveType DetectRealMedia(ByteReader r, CarveContext&) {
  return r.size() >= 4 && r.Equals(0, ".RMF") ? CarveType::kRealMedia : CarveType::kNone;
}

CarveType DetectAsf(ByteReader r, CarveContext&) {
  return r.size() >= 24 && r.Equals(0, kAsfHeaderObject) ? CarveType::kAsf : CarveType::kNone;
}

CarveType DetectMatroska(ByteReader r, CarveContext&) {
  return r.size() >= 16 && r.Equals(0, "\x1A\x45\xDF\xA3"sv) ? CarveType::kMatroska : CarveType::kNone;
}

CarveType DetectMxf(ByteReader r, CarveContext&) {
  return r.size() >= 16 && r.Equals(0, kMxfPartitionPack) ? CarveType::kMxf : CarveType::kNone;
}

// An empty index chunk closes the file.
class RealMediaEnd final : public EndTest {
 public:
  std::optional<uint64_t> operator()(std::span<const uint8_t> chunk, uint64_t base, size_t beforeCut) override {
    // A marker after the next file start is that file's, not this one's.
    chunk = chunk.first(beforeCut);
    constexpr Pattern kMarker = "INDX\x00\x00\x00\x14\x00\x00\x00\x00\x00\x00\x00\x02\x00\x00\x00\x00"sv;
    const size_t pos = FindFirst(chunk, kMarker);
    if (pos == kNotFound) return std::nullopt;
    return base + pos + kMarker.size();
  }
};

}  // namespace

uint64_t MeasureRealMedia(ByteReader r, CarveContext& context) {
  RealMediaEnd end;
  return ScanAhead(context, r.bytes(), {.limit = k6GiB, .kind = EndKind::kStopping}, &end);
}

uint64_t MeasureAsf(ByteReader r, CarveContext& context) {
  // The file properties object in the header gives the file size, unless the
  // file was written as a broadcast (size unknown while writing).
  const size_t found = FindFirst(r.bytes(), kAsfFilePropertiesObject, 30);
  if (found != kNotFound && r.Fits(found + 88, 4) && (r.U32(found + 88) & 1) == 0) {
    const uint64_t size = r.U64(found + 40);
    if (size != 0) return std::min(size, k256MiB);
  }
  // Without a size the file ends at the next file start.
  return MeasureToNextFile<k256MiB>(r, context);
}

extern const DetectorSpec kRealMediaDetector{DetectRealMedia, {{{0, '.'}}}, 1};
extern const DetectorSpec kAsfDetector{DetectAsf, {{{0, 0x30}}}, 1};
extern const DetectorSpec kMatroskaDetector{DetectMatroska, {{{0, 0x1A}}}, 1};
extern const DetectorSpec kMxfDetector{DetectMxf, {{{0, 0x06}}}, 1};

}  // namespace selvane
