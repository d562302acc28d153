// PDF.
#include "engine/signatures/signature_families.h"

namespace selvane {
namespace {

using namespace std::literals;

CarveType DetectPdf(ByteReader r, CarveContext&) {
  return r.size() >= 5 && r.Equals(0, "%PDF-") ? CarveType::kPdf : CarveType::kNone;
}

// The last "%%EOF" of the chunk and the end of its line, or else the last
// "trailer" keyword.
class PdfEnd final : public EndTest {
 public:
  std::optional<uint64_t> operator()(std::span<const uint8_t> chunk, uint64_t base, size_t beforeCut) override {
    // A marker after the next file start is that file's, not this one's.
    chunk = chunk.first(beforeCut);
    if (size_t pos = FindLast(chunk, "%%EOF"); pos != kNotFound) {
      size_t end = pos + 5;
      // Writers end the line after the marker; those bytes belong to the file.
      if (end < chunk.size() && chunk[end] == '\r') ++end;
      if (end < chunk.size() && chunk[end] == '\n') ++end;
      return base + end;
    }
    if (size_t pos = FindLast(chunk, "trailer"); pos != kNotFound) return base + pos + 7;
    return std::nullopt;
  }
};

}  // namespace

uint64_t MeasurePdf(ByteReader r, CarveContext& context) {
  PdfEnd end;
  return ScanAhead(context, r.bytes(), {.limit = k1GiB, .kind = EndKind::kStopping}, &end);
}

extern const DetectorSpec kPdfDetector{DetectPdf, {{{0, '%'}}}, 1};

}  // namespace selvane
