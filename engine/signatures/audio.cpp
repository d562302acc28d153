// Audio files: MP3 with an ID3v2 tag, Standard MIDI, Monkey's Audio and SMAF.
#include <algorithm>
#include <array>

#include "engine/signatures/signature_families.h"

namespace selvane {
namespace {

using namespace std::literals;

constexpr uint64_t kMidiLimit = 0x800000;  // 8 MiB

CarveType DetectMp3(ByteReader r, CarveContext&) {
  if (r.size() < 10 || !r.Equals(0, "ID3")) return CarveType::kNone;
  if (r.U8(3) == 0xFF || r.U8(4) == 0xFF || (r.U8(5) & 0x1F) != 0) return CarveType::kNone;
  for (size_t i = 6; i <= 9; ++i)
    if (r.U8(i) >= 0x80) return CarveType::kNone;
  return CarveType::kMp3;
}

CarveType DetectMidi(ByteReader r, CarveContext&) {
  if (r.size() < 16) return CarveType::kNone;
  return r.Equals(0, "MThd") && r.Be32(4) == 6 && r.Equals(14, "MTrk") ? CarveType::kMidi : CarveType::kNone;
}

CarveType DetectMonkeysAudio(ByteReader r, CarveContext&) {
  return r.size() >= 4 && r.Equals(0, "MAC ") ? CarveType::kMonkeysAudio : CarveType::kNone;
}

CarveType DetectSmaf(ByteReader r, CarveContext&) {
  return r.size() >= 4 && r.Equals(0, "MMMD") ? CarveType::kSmaf : CarveType::kNone;
}

// An ID3v1 tag: 128 bytes from its "TAG".
class Id3v1End final : public EndTest {
 public:
  std::optional<uint64_t> operator()(std::span<const uint8_t> chunk, uint64_t base, size_t /*beforeCut*/) override {
    const size_t pos = FindFirst(chunk, "TAG");
    if (pos == kNotFound) return std::nullopt;
    return base + pos + 128;
  }
};

// Follows the chunks of a MIDI file from its header until the number of tracks
// that the header announces has been seen; the file ends after the last track.
class MidiEnd final : public EndTest {
 public:
  explicit MidiEnd(uint16_t tracks) : tracks_(tracks) {}

  std::optional<uint64_t> operator()(std::span<const uint8_t> chunk, uint64_t base, size_t /*beforeCut*/) override {
    std::array<uint8_t, 8> header{};
    while (!broken_ && counted_ < tracks_ && headers_.Read(chunk, base, next_, header)) {
      const ByteReader h(header.data(), header.size());
      if (h.Equals(0, "MTrk")) {
        ++counted_;
      } else if (!std::all_of(header.begin(), header.begin() + 4, [](uint8_t b) { return b >= 0x20 && b < 0x7F; })) {
        broken_ = true;  // not a chunk: the file's structure is lost here
        break;
      }
      next_ += 8 + uint64_t{h.Be32(4)};
    }
    headers_.Keep(chunk, base);
    if (counted_ == tracks_) return next_;
    return std::nullopt;
  }

 private:
  uint16_t tracks_;
  uint16_t counted_ = 0;
  uint64_t next_ = 14;  // the first chunk after the 14-byte header chunk
  bool broken_ = false;
  ChainedHeaders headers_;
};

// The APE tag at the end of the file: a header and a footer of 32 bytes each.
class ApeTagEnd final : public EndTest {
 public:
  std::optional<uint64_t> operator()(std::span<const uint8_t> chunk, uint64_t base, size_t beforeCut) override {
    // A marker after the next file start is that file's, not this one's.
    chunk = chunk.first(beforeCut);
    constexpr Pattern kTag = "APETAGEX\xD0\x07"sv;
    const size_t first = FindFirst(chunk, kTag);
    if (first == kNotFound) return std::nullopt;
    const size_t second = FindFirst(chunk, kTag, first + 1);
    if (second != kNotFound) return base + second + 32;
    // Only one of the two here: a header gives the tag's size (footer included).
    const ByteReader r(chunk);
    constexpr uint32_t kIsHeader = 1u << 29;
    if (r.Fits(first, 32) && (r.U32(first + 20) & kIsHeader) != 0) return base + first + 32 + r.U32(first + 12);
    return base + chunk.size();
  }
};

}  // namespace

uint64_t MeasureMp3(ByteReader r, CarveContext& context) {
  Id3v1End end;
  return ScanAhead(context, r.bytes(), {.limit = k2GiB, .kind = EndKind::kCandidate}, &end);
}

uint64_t MeasureMidi(ByteReader r, CarveContext& context) {
  MidiEnd end(r.Be16(10));
  return ScanAhead(context, r.bytes(),
                   {.limit = kMidiLimit, .kind = EndKind::kStopping, .firstSectorFirst = true,
                    .markerYieldsToCut = true},
                   &end);
}

uint64_t MeasureMonkeysAudio(ByteReader r, CarveContext& context) {
  ApeTagEnd end;
  return ScanAhead(context, r.bytes(), {.limit = k2GiB, .kind = EndKind::kStopping}, &end);
}

extern const DetectorSpec kMp3Detector{DetectMp3, {{{0, 'I'}}}, 1};
extern const DetectorSpec kMidiDetector{DetectMidi, {{{0, 'M'}}}, 1};
extern const DetectorSpec kMonkeysAudioDetector{DetectMonkeysAudio, {{{0, 'M'}}}, 1};
extern const DetectorSpec kSmafDetector{DetectSmaf, {{{0, 'M'}}}, 1};

}  // namespace selvane
