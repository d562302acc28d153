// ISO base media files: MPEG-4, 3GPP and QuickTime.
#include "engine/signatures/signature_families.h"

namespace selvane {
namespace {

using namespace std::literals;

CarveType DetectMp4(ByteReader r, CarveContext&) {
  if (r.size() < 32 || !r.Equals(4, "ftyp")) return CarveType::kNone;
  return r.Equals(8, "iso") || r.Equals(8, "mp42") ? CarveType::kMp4 : CarveType::kNone;
}

CarveType Detect3gpp(ByteReader r, CarveContext&) {
  if (r.size() < 32) return CarveType::kNone;
  return r.Equals(4, "ftyp") && r.Equals(8, "3gp") ? CarveType::k3gpp : CarveType::kNone;
}

CarveType DetectQuickTime(ByteReader r, CarveContext&) {
  if (r.size() < 16) return CarveType::kNone;
  if (r.Equals(0, "moov") || (r.Equals(4, "ftyp") && r.Equals(8, "qt  "))) return CarveType::kQuickTime;
  return CarveType::kNone;
}

// The text some MPEG-4 writers leave in a closing "free" box; the file ends
// after it and the non-zero bytes that follow it.
class Mp4End final : public EndTest {
 public:
  std::optional<uint64_t> operator()(std::span<const uint8_t> chunk, uint64_t base) override {
    constexpr Pattern kMarker = "freeIsoMedia File Produced"sv;
    size_t pos = FindFirst(chunk, kMarker);
    if (pos == kNotFound) return std::nullopt;
    pos += kMarker.size();
    while (pos < chunk.size() && chunk[pos] != 0) ++pos;
    return base + pos;
  }
};

}  // namespace

uint64_t MeasureMp4(ByteReader r, CarveContext& context) {
  Mp4End end;
  return ScanAhead(context, r.bytes(), {.limit = k6GiB, .kind = EndKind::kStopping}, &end);
}

extern const DetectorSpec kMp4Detector{DetectMp4, {{{4, 'f'}}}, 1};
extern const DetectorSpec k3gppDetector{Detect3gpp, {{{4, 'f'}}}, 1};
extern const DetectorSpec kQuickTimeDetector{DetectQuickTime, {{{0, 'm'}, {4, 'f'}}}, 2};

}  // namespace selvane
