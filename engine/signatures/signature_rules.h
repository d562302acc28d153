// Building blocks of the signature table: the detector and size-rule types,
// the shared read-ahead loop and the marker searches. Each format family's
// file (jpeg.cpp, mpeg.cpp, …) defines its detectors and size rules with them;
// table.cpp puts them in order.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "engine/byte_reader.h"
#include "engine/signatures/carve_context.h"
#include "engine/signatures/carve_type.h"

namespace selvane {

// Tests one sector; kNone when it is not the start of a file of this family.
using Detector = CarveType (*)(ByteReader sector, CarveContext& context);
// Measures the file that begins with `sector` at context.candidateStart.
using SizeRule = uint64_t (*)(ByteReader sector, CarveContext& context);

// A byte that every sector a detector accepts holds at a fixed offset. The
// dispatch index looks only at these offsets.
struct DetectorAnchor {
  uint8_t offset = 0;  // one of kAnchorOffsets
  uint8_t value = 0;
};
inline constexpr std::array<uint8_t, 4> kAnchorOffsets = {0, 4, 10, 31};

struct DetectorSpec {
  Detector detect = nullptr;
  std::array<DetectorAnchor, 3> anchors{};
  uint8_t anchorCount = 0;
};

// Byte patterns written as text with \x escapes.
using Pattern = std::string_view;

inline constexpr size_t kNotFound = static_cast<size_t>(-1);

// First occurrence of `pattern` in bytes at or after `from`.
size_t FindFirst(std::span<const uint8_t> bytes, Pattern pattern, size_t from = 0);
// Last occurrence of `pattern` in bytes.
size_t FindLast(std::span<const uint8_t> bytes, Pattern pattern);
// First occurrence whose end lies on a sector boundary of `bytes` or is
// followed by zeros only up to the end of its sector (the padding of a file's
// last sector).
size_t FindFirstZeroTailed(std::span<const uint8_t> bytes, Pattern pattern, uint32_t sectorSize);
bool IsZeroTailed(std::span<const uint8_t> bytes, size_t end, uint32_t sectorSize);

enum class EndKind {
  kNone,       // the file ends at the next file start or at the limit
  kStopping,   // the first chunk that holds the marker ends the file there
  kCandidate,  // the latest marker seen ends the file, unless a file start comes first
};

struct ScanAheadOptions {
  uint64_t limit = 0;             // bytes after the first sector that may be read
  EndKind kind = EndKind::kNone;
  bool firstSectorFirst = false;  // run the end test on the first sector before reading
  // A start of this kind does not end the file (MPEG packs and audio frames
  // that happen to begin at a sector boundary look like new files).
  CarveType sameKind = CarveType::kNone;
  bool markerYieldsToCut = false; // a file start before the marker still ends the file
};

// The end test of a rule: given a chunk that begins at file offset `base`,
// the file offset where the marker ends, if the chunk holds one. beforeCut is
// the number of the chunk's bytes before the next file start (the chunk's size
// when none begins in it): a marker after it belongs to another file.
class EndTest {
 public:
  virtual std::optional<uint64_t> operator()(std::span<const uint8_t> chunk, uint64_t base, size_t beforeCut) = 0;

 protected:
  ~EndTest() = default;
};

// Gives the bytes at any file offset of the buffers an end test has seen so
// far, as long as they lie in the current chunk or in the tail kept from the
// previous one: for formats made of chained records whose headers may straddle
// two chunks.
class ChainedHeaders {
 public:
  static constexpr size_t kKept = 16;

  // Copies `out.size()` bytes (at most kKept) at file offset `offset`; false
  // when they are not all at hand.
  bool Read(std::span<const uint8_t> chunk, uint64_t base, uint64_t offset, std::span<uint8_t> out) const;
  // Keeps the tail of the chunk for the next call.
  void Keep(std::span<const uint8_t> chunk, uint64_t base);

 private:
  std::array<uint8_t, kKept> kept_{};
  size_t keptLength_ = 0;
  uint64_t keptBase_ = 0;
};

// The read-ahead loop shared by most size rules. Reads 64 KiB chunks after the
// first sector, reports progress, cuts the file where a later file or a
// file-system structure begins, and applies the end test.
uint64_t ScanAhead(CarveContext& context, std::span<const uint8_t> firstSector, const ScanAheadOptions& options,
                   EndTest* endTest);

// The first sector of `block` (whole sectors) at which a recognised file (other
// than one of kind `sameKind`) or a file-system structure begins; adds its
// offset to `length`. Advances context.sectorUnderTest by the sectors looked at.
bool FindNextFileStart(CarveContext& context, std::span<const uint8_t> block, uint64_t& length,
                       CarveType sameKind = CarveType::kNone);

// A sector that belongs to a file system rather than to a file.
bool IsFileSystemStructure(std::span<const uint8_t> sector);

// Reads the first bytes of the candidate file (up to 64 KiB, whole sectors)
// into the scratch buffer; empty when the read fails.
std::span<const uint8_t> ReadFileHead(CarveContext& context);

// Case-insensitive ASCII prefix test.
bool StartsWithNoCase(std::span<const uint8_t> bytes, std::string_view prefix);

}  // namespace selvane
