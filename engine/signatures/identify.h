// IdentifyCarvedFile: whether a known kind of file begins in a sector, and how
// long it is.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string_view>

#include "engine/signatures/carve_context.h"
#include "engine/signatures/carve_type.h"
#include "platform/result_codes.h"

namespace selvane {

struct CarvedFile {
  std::array<char, 32> name{};  // "<start sector>.<extension>", NUL-terminated
  CarveType type = CarveType::kNone;
  uint64_t length = 0;  // bytes

  std::string_view Name() const { return std::string_view(name.data()); }
};

// Looks at `sector` (the sector at absolute startSector of `source`). Returns
// 0 with the file's name, type and length; 87 when no known file begins there
// or its kind is recognised but not carved (out untouched); kScanStopCode when
// the progress callback stopped the measuring (out holds what was measured).
// The context keeps the stream flags and the measured transport streams
// between calls; its progress callback hears from long measurements.
ResultCode IdentifyCarvedFile(CarveContext& context, const SectorSource& source, std::span<const uint8_t> sector,
                              uint64_t startSector, const CarveProgress& progress, CarvedFile& out);

}  // namespace selvane
