// ISO base media files: MPEG-4, 3GPP and QuickTime.
#include <algorithm>

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

// Follows the top-level boxes from the start of the file; the file ends where
// the next box header is not one (its type is no printable text). A box
// extending to the end of the file ("size 0") leaves the end unknown.
class BoxChainEnd final : public EndTest {
 public:
  explicit BoxChainEnd(uint64_t limit) : limit_(limit) {}

  std::optional<uint64_t> operator()(std::span<const uint8_t> chunk, uint64_t base, size_t /*beforeCut*/) override {
    std::array<uint8_t, 16> header{};
    std::optional<uint64_t> end;
    while (following_ && headers_.Read(chunk, base, next_, std::span(header).first(8))) {
      const ByteReader h(header.data(), header.size());
      const bool isBox = std::all_of(header.begin() + 4, header.begin() + 8,
                                     [](uint8_t b) { return b >= 0x20 && b < 0x7F; });
      uint64_t size = h.Be32(0);
      if (isBox && size == 1) {
        if (!headers_.Read(chunk, base, next_, header)) break;  // the 64-bit size is in the next chunk
        size = h.Be(8, 8);
      }
      if (!isBox || (size < 8 && size != 0)) {
        end = next_;
        following_ = false;
      } else if (size == 0 || size > limit_ - next_ || next_ + size > limit_) {
        following_ = false;
      } else {
        next_ += size;
      }
    }
    headers_.Keep(chunk, base);
    return end;
  }

 private:
  uint64_t limit_;
  uint64_t next_ = 0;
  bool following_ = true;
  ChainedHeaders headers_;
};

uint64_t MeasureBoxes(ByteReader r, CarveContext& context, EndTest* marker) {
  // The box chain marks the end wherever it lies in a chunk: a box of the file
  // itself (its "moov" at a sector boundary) can look like the start of a file.
  class Either final : public EndTest {
   public:
    Either(EndTest* first, EndTest* second) : first_(first), second_(second) {}
    std::optional<uint64_t> operator()(std::span<const uint8_t> chunk, uint64_t base, size_t beforeCut) override {
      auto end = (*first_)(chunk, base, beforeCut);
      if (second_ != nullptr && !end) end = (*second_)(chunk, base, beforeCut);
      return end;
    }

   private:
    EndTest* first_;
    EndTest* second_;
  };
  BoxChainEnd boxes(k6GiB + context.sectorSize);
  Either end(&boxes, marker);
  return ScanAhead(context, r.bytes(), {.limit = k6GiB, .kind = EndKind::kStopping, .firstSectorFirst = true}, &end);
}

// The text some MPEG-4 writers leave in a closing "free" box; the file ends
// after it and the non-zero bytes that follow it.
class Mp4End final : public EndTest {
 public:
  std::optional<uint64_t> operator()(std::span<const uint8_t> chunk, uint64_t base, size_t beforeCut) override {
    // A marker after the next file start is that file's, not this one's.
    chunk = chunk.first(beforeCut);
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
  return MeasureBoxes(r, context, &end);
}

uint64_t MeasureIsoMedia(ByteReader r, CarveContext& context) { return MeasureBoxes(r, context, nullptr); }

extern const DetectorSpec kMp4Detector{DetectMp4, {{{4, 'f'}}}, 1};
extern const DetectorSpec k3gppDetector{Detect3gpp, {{{4, 'f'}}}, 1};
extern const DetectorSpec kQuickTimeDetector{DetectQuickTime, {{{0, 'm'}, {4, 'f'}}}, 2};

}  // namespace selvane
