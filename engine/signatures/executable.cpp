// Windows executables, libraries and drivers: recognised so that they end
// other files, but never carved.
#include "engine/signatures/signature_families.h"

namespace selvane {
namespace {

using namespace std::literals;

CarveType DetectExecutable(ByteReader r, CarveContext&) {
  if (r.size() < 512 || !r.Equals(0, "MZ")) return CarveType::kNone;
  const uint32_t header = r.U32(60);
  if (header > 488 || !r.Equals(header, "PE\x00\x00"sv)) return CarveType::kNone;
  const uint16_t characteristics = r.U16(header + 22);
  if ((characteristics & 0x0002) == 0) return CarveType::kNone;  // not an executable image
  if ((characteristics & 0x1000) != 0) return CarveType::kDriver;
  if ((characteristics & 0x2000) != 0) return CarveType::kDynamicLibrary;
  return CarveType::kExecutable;
}

}  // namespace

extern const DetectorSpec kExecutableDetector{DetectExecutable, {{{0, 'M'}}}, 1};

}  // namespace selvane
