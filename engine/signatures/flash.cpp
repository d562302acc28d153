// Flash movies (SWF), Flash video (FLV) and Flash authoring files (FLA).
#include <algorithm>

#include "engine/signatures/signature_families.h"

namespace selvane {
namespace {

using namespace std::literals;

CarveType DetectSwf(ByteReader r, CarveContext&) {
  if (r.size() < 8) return CarveType::kNone;
  const uint8_t version = r.U8(3);
  if (r.Equals(0, "CWS") && version >= 6 && version <= 15) return CarveType::kSwf;
  if (r.Equals(0, "FWS") && version < 6) return CarveType::kSwf;
  return CarveType::kNone;
}

CarveType DetectFlv(ByteReader r, CarveContext&) {
  if (r.size() < 16) return CarveType::kNone;
  return r.Equals(0, "FLV\x01"sv) && r.Equals(5, "\x00\x00\x00\x09"sv) ? CarveType::kFlv : CarveType::kNone;
}

// Any sector that begins like a compound file; the compound file rows come first.
CarveType DetectFla(ByteReader r, CarveContext&) {
  return r.size() >= 16 && r.Equals(0, "\xD0\xCF\x11\xE0"sv) ? CarveType::kFla : CarveType::kNone;
}

}  // namespace

uint64_t MeasureSwf(ByteReader r, CarveContext& context) {
  // An uncompressed movie states its length; a compressed one states only the
  // length after inflating, so it ends at the next file start.
  if (r.U8(0) == 'F') return std::min<uint64_t>(r.U32(4), k256MiB);
  return MeasureToNextFile<k256MiB>(r, context);
}

extern const DetectorSpec kSwfDetector{DetectSwf, {{{0, 'C'}, {0, 'F'}}}, 2};
extern const DetectorSpec kFlvDetector{DetectFlv, {{{0, 'F'}}}, 1};
extern const DetectorSpec kFlaDetector{DetectFla, {{{0, 0xD0}}}, 1};

}  // namespace selvane
