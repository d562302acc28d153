// RIFF files: AVI and WAVE, measured by the RIFF chunk size.
#include "engine/signatures/signature_families.h"

namespace selvane {
namespace {

CarveType DetectAvi(ByteReader r, CarveContext&) {
  if (r.size() < 16) return CarveType::kNone;
  return r.Equals(0, "RIFF") && r.Equals(8, "AVI ") && r.Equals(12, "LIST") ? CarveType::kAvi : CarveType::kNone;
}

CarveType DetectWave(ByteReader r, CarveContext&) {
  if (r.size() < 16) return CarveType::kNone;
  return r.Equals(0, "RIFF") && r.Equals(8, "WAVE") && r.Equals(12, "fmt ") ? CarveType::kWave : CarveType::kNone;
}

}  // namespace

uint64_t MeasureRiff(ByteReader r, CarveContext&) { return uint64_t{r.U32(4)} + 8; }

extern const DetectorSpec kAviDetector{DetectAvi, {{{0, 'R'}}}, 1};
extern const DetectorSpec kWaveDetector{DetectWave, {{{0, 'R'}}}, 1};

}  // namespace selvane
