// MPEG program and elementary streams, MPEG audio frames, transport streams
// (188-byte packets) and BDAV streams (192-byte packets).
#include <algorithm>

#include "engine/signatures/signature_families.h"

namespace selvane {
namespace {

using namespace std::literals;

constexpr size_t kTsPacket = 188;
constexpr size_t kTsProbeBytes = 4096;
constexpr size_t kTsProbePackets = 22;

bool HasWithin32(const ByteReader& r, Pattern pattern) {
  const auto head = r.bytes().first(std::min<size_t>(32, r.size()));
  return FindFirst(head, pattern) != kNotFound;
}

CarveType DetectMpeg(ByteReader r, CarveContext&) {
  if (r.size() < 16) return CarveType::kNone;
  if (r.Equals(0, "\x00\x00\x01\xBA"sv) && HasWithin32(r, "\x00\x00\x01\xBB"sv)) return CarveType::kMpeg;
  if (r.Equals(0, "\x00\x00\x01\xB3"sv) && HasWithin32(r, "\x00\x00\x01\xB8"sv)) return CarveType::kMpeg;
  return CarveType::kNone;
}

CarveType DetectMpegAudio(ByteReader r, CarveContext&) {
  if (r.size() < 4) return CarveType::kNone;
  return r.Equals(0, "\xFF\xFD\xE4\x00"sv) ? CarveType::kMpegAudio : CarveType::kNone;
}

CarveType DetectTransportStream(ByteReader r, CarveContext& context) {
  if (r.size() < kTsPacket) return CarveType::kNone;
  if (r.U8(0) != 'G' || (r.U8(1) == 0 && r.U8(2) == 0 && r.U8(3) == 0)) return CarveType::kNone;
  for (size_t pos = 0; pos < r.size(); pos += kTsPacket)
    if (r.U8(pos) != 'G') return CarveType::kNone;

  // The stream goes on for a few more packets.
  const uint32_t sectorSize = context.sectorSize;
  const uint32_t probeSectors = static_cast<uint32_t>((kTsProbeBytes + sectorSize - 1) / sectorSize);
  auto probe = context.DetectorBuffer(size_t{probeSectors} * sectorSize);
  if (!context.ReadFull(context.sectorUnderTest, probeSectors, probe)) return CarveType::kNone;
  for (size_t k = 0; k < kTsProbePackets; ++k)
    if (probe[k * kTsPacket] != 'G') return CarveType::kNone;

  if (context.tsCheck) {
    // Not the continuation of a stream: the sector before holds no packet start
    // on the grid that would lead into this one.
    if (context.sectorUnderTest == 0) return CarveType::kNone;
    auto before = probe.first(sectorSize);
    if (!context.ReadFull(context.sectorUnderTest - 1, 1, before)) return CarveType::kNone;
    for (size_t j = 1; j <= sectorSize / kTsPacket; ++j)
      if (before[sectorSize - kTsPacket * j] == 'G') return CarveType::kNone;
    if (context.InsideTsRange(context.candidateStart)) return CarveType::kNone;
  }
  return CarveType::kTransportStream;
}

CarveType DetectBdavStream(ByteReader r, CarveContext& context) {
  if (r.size() < 16) return CarveType::kNone;
  if (!r.Equals(8, "\x00\x00\xB0\x11\x00\x00\xC1\x00"sv)) return CarveType::kNone;
  const bool timestamped = r.U32(0) != 0;
  if (timestamped && context.mtsActive) return CarveType::kNone;
  return CarveType::kBdavStream;
}

class MpegEnd final : public EndTest {
 public:
  MpegEnd(Pattern marker, uint32_t sectorSize) : marker_(marker), sectorSize_(sectorSize) {}
  std::optional<uint64_t> operator()(std::span<const uint8_t> chunk, uint64_t base, size_t beforeCut) override {
    // A marker after the next file start is that file's, not this one's.
    chunk = chunk.first(beforeCut);
    const size_t pos = FindFirstZeroTailed(chunk, marker_, sectorSize_);
    if (pos == kNotFound) return std::nullopt;
    return base + pos + marker_.size();
  }

 private:
  Pattern marker_;
  uint32_t sectorSize_;
};

// The first position on the 188-byte packet grid, after the first sector, that
// holds no packet start.
class PacketGridEnd final : public EndTest {
 public:
  explicit PacketGridEnd(uint32_t sectorSize) : next_(sectorSize - sectorSize % kTsPacket + kTsPacket) {}
  std::optional<uint64_t> operator()(std::span<const uint8_t> chunk, uint64_t base, size_t /*beforeCut*/) override {
    for (; next_ < base + chunk.size(); next_ += kTsPacket) {
      if (next_ < base) continue;
      if (chunk[next_ - base] != 'G') return next_;
    }
    return std::nullopt;
  }

 private:
  uint64_t next_;
};

}  // namespace

uint64_t MeasureMpeg(ByteReader r, CarveContext& context) {
  const Pattern marker = r.Equals(0, "\x00\x00\x01\xB3"sv) ? "\x00\x00\x01\xB7"sv : "\x00\x00\x01\xB9"sv;
  MpegEnd end(marker, context.sectorSize);
  return ScanAhead(context, r.bytes(), {.limit = k6GiB, .kind = EndKind::kStopping, .sameKind = CarveType::kMpeg}, &end);
}

uint64_t MeasureMpegAudio(ByteReader r, CarveContext& context) {
  return ScanAhead(context, r.bytes(), {.limit = k256MiB, .sameKind = CarveType::kMpegAudio}, nullptr);
}

uint64_t MeasureTransportStream(ByteReader r, CarveContext& context) {
  PacketGridEnd end(context.sectorSize);
  // Once the grid breaks the stream cannot reach further, so the loop stops there.
  const uint64_t length = ScanAhead(
      context, r.bytes(), {.limit = k64GiB, .kind = EndKind::kStopping, .markerYieldsToCut = true}, &end);
  const uint64_t sectors = (length + context.sectorSize - 1) / context.sectorSize;
  context.tsRanges.push_back({context.candidateStart, context.candidateStart + std::max<uint64_t>(sectors, 1) - 1});
  return length;
}

extern const DetectorSpec kMpegDetector{DetectMpeg, {{{0, 0x00}}}, 1};
extern const DetectorSpec kMpegAudioDetector{DetectMpegAudio, {{{0, 0xFF}}}, 1};
extern const DetectorSpec kTransportStreamDetector{DetectTransportStream, {{{0, 'G'}}}, 1};
extern const DetectorSpec kBdavStreamDetector{DetectBdavStream, {{{10, 0xB0}}}, 1};

}  // namespace selvane
