// FileSignatureTable: the ordered rows that pair an extension with a type, a
// detector and a size rule, and the two ways of asking it which file begins
// in a sector (row by row, and through the first-bytes dispatch index).
#pragma once

#include <span>
#include <string_view>

#include "engine/signatures/signature_rules.h"

namespace selvane {

struct SignatureRow {
  std::string_view extension;  // ASCII, compared ignoring case
  CarveType type = CarveType::kNone;
  const DetectorSpec* detector = nullptr;
  SizeRule measure = nullptr;  // none: recognised (it ends other files) but not carved
};

// All rows in order, the last one the terminator (type kNone).
std::span<const SignatureRow> FileSignatureTable();

// The type of file that begins in `sector`: the answer of the first row whose
// detector recognises it, kNone when none does.
CarveType DetectByRows(ByteReader sector, CarveContext& context);
// The same answer, asking only the detectors that the sector's anchor bytes
// allow, in table order.
CarveType DetectFileStart(ByteReader sector, CarveContext& context);

// The first row that carries `type` (its extension names carved files); null for kNone.
const SignatureRow* FirstRowOfType(CarveType type);
// The first row whose extension equals `extension` ignoring case; null when none.
const SignatureRow* FindRowByExtension(std::string_view extension);

}  // namespace selvane
