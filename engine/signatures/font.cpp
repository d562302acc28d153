// TrueType fonts.
#include <algorithm>

#include "engine/signatures/signature_families.h"

namespace selvane {
namespace {

using namespace std::literals;

constexpr size_t kTableRecordSize = 16;

CarveType DetectTrueType(ByteReader r, CarveContext&) {
  if (r.size() < 16 || !r.Equals(0, "\x00\x01\x00\x00"sv)) return CarveType::kNone;
  const uint16_t tables = r.Be16(4);
  if (tables == 0 || r.U16(6) == 0 || r.U16(8) == 0 || r.U16(10) == 0) return CarveType::kNone;
  if (size_t{tables} * kTableRecordSize + 16 > r.size()) return CarveType::kNone;
  // The first table after the directory begins with a 1.0 version number.
  return r.Equals(12 + kTableRecordSize * tables, "\x00\x01\x00\x00"sv) ? CarveType::kTrueType : CarveType::kNone;
}

// The end of the table that reaches furthest, padded to four bytes as the
// format requires of every table.
std::optional<uint64_t> TablesEnd(const ByteReader& r, uint16_t tables) {
  if (!r.Fits(12, size_t{tables} * kTableRecordSize)) return std::nullopt;
  uint64_t end = 0;
  for (size_t i = 0; i < tables; ++i) {
    const size_t record = 12 + kTableRecordSize * i;
    end = std::max(end, uint64_t{r.Be32(record + 8)} + r.Be32(record + 12));
  }
  return (end + 3) / 4 * 4;
}

}  // namespace

uint64_t MeasureTrueType(ByteReader r, CarveContext& context) {
  const uint16_t tables = r.Be16(4);
  if (auto end = TablesEnd(r, tables)) return *end;
  const ByteReader head(ReadFileHead(context));
  if (auto end = TablesEnd(head, tables)) return *end;
  return context.sectorSize;
}

extern const DetectorSpec kTrueTypeDetector{DetectTrueType, {{{0, 0x00}}}, 1};

}  // namespace selvane
