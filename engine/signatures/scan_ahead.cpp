// The read-ahead loop of the size rules, the search for the next file start,
// and the byte-pattern searches that the end tests use.
#include <algorithm>
#include <cstring>

#include "engine/signatures/signature_rules.h"
#include "engine/signatures/signature_table.h"

namespace selvane {

size_t FindFirst(std::span<const uint8_t> bytes, Pattern pattern, size_t from) {
  if (pattern.empty() || from >= bytes.size() || bytes.size() - from < pattern.size()) return kNotFound;
  const void* hit = memmem(bytes.data() + from, bytes.size() - from, pattern.data(), pattern.size());
  return hit == nullptr ? kNotFound : static_cast<size_t>(static_cast<const uint8_t*>(hit) - bytes.data());
}

size_t FindLast(std::span<const uint8_t> bytes, Pattern pattern) {
  if (pattern.empty() || bytes.size() < pattern.size()) return kNotFound;
  const auto first = static_cast<uint8_t>(pattern[0]);
  for (size_t pos = bytes.size() - pattern.size() + 1; pos-- > 0;) {
    if (bytes[pos] == first && std::memcmp(bytes.data() + pos, pattern.data(), pattern.size()) == 0) return pos;
  }
  return kNotFound;
}

bool IsZeroTailed(std::span<const uint8_t> bytes, size_t end, uint32_t sectorSize) {
  if (end % sectorSize == 0) return true;
  const size_t sectorEnd = std::min(bytes.size(), (end / sectorSize + 1) * size_t{sectorSize});
  return std::all_of(bytes.begin() + static_cast<ptrdiff_t>(end), bytes.begin() + static_cast<ptrdiff_t>(sectorEnd),
                     [](uint8_t b) { return b == 0; });
}

size_t FindFirstZeroTailed(std::span<const uint8_t> bytes, Pattern pattern, uint32_t sectorSize) {
  for (size_t pos = FindFirst(bytes, pattern); pos != kNotFound; pos = FindFirst(bytes, pattern, pos + 1)) {
    if (IsZeroTailed(bytes, pos + pattern.size(), sectorSize)) return pos;
  }
  return kNotFound;
}

bool StartsWithNoCase(std::span<const uint8_t> bytes, std::string_view prefix) {
  if (bytes.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    uint8_t b = bytes[i];
    if (b >= 'A' && b <= 'Z') b = static_cast<uint8_t>(b - 'A' + 'a');
    uint8_t p = static_cast<uint8_t>(prefix[i]);
    if (p >= 'A' && p <= 'Z') p = static_cast<uint8_t>(p - 'A' + 'a');
    if (b != p) return false;
  }
  return true;
}

bool ChainedHeaders::Read(std::span<const uint8_t> chunk, uint64_t base, uint64_t offset,
                          std::span<uint8_t> out) const {
  for (size_t k = 0; k < out.size(); ++k) {
    const uint64_t pos = offset + k;
    if (pos >= base && pos - base < chunk.size()) {
      out[k] = chunk[pos - base];
    } else if (pos >= keptBase_ && pos - keptBase_ < keptLength_) {
      out[k] = kept_[pos - keptBase_];
    } else {
      return false;
    }
  }
  return true;
}

void ChainedHeaders::Keep(std::span<const uint8_t> chunk, uint64_t base) {
  keptLength_ = std::min(chunk.size(), kept_.size());
  keptBase_ = base + chunk.size() - keptLength_;
  std::copy(chunk.end() - static_cast<ptrdiff_t>(keptLength_), chunk.end(), kept_.begin());
}

bool FindNextFileStart(CarveContext& context, std::span<const uint8_t> block, uint64_t& length, CarveType sameKind) {
  const uint32_t sectorSize = context.sectorSize;
  const size_t sectors = block.size() / sectorSize;
  for (size_t i = 0; i < sectors; ++i) {
    ++context.sectorUnderTest;
    const auto sector = block.subspan(i * sectorSize, sectorSize);
    const CarveType found = DetectFileStart(ByteReader(sector), context);
    const bool fileStart = found != CarveType::kNone && found != sameKind;
    if (fileStart || IsFileSystemStructure(sector)) {
      length += uint64_t{i} * sectorSize;
      return true;
    }
  }
  return false;
}

std::span<const uint8_t> ReadFileHead(CarveContext& context) {
  if (context.source == nullptr) return {};
  const uint32_t sectorSize = context.sectorSize;
  const uint64_t total = context.source->TotalSectors();
  if (context.candidateStart >= total) return {};
  const uint32_t count =
      static_cast<uint32_t>(std::min<uint64_t>(kScratchBytes / sectorSize, total - context.candidateStart));
  if (count == 0) return {};
  auto scratch = context.Scratch();
  uint32_t read = 0;
  context.source->Read(context.candidateStart, count, scratch.data(), read);
  if (read == 0) return {};
  return scratch.first(size_t{read} * sectorSize);
}

namespace {

// Calls the scan's progress callback; its non-zero answer stops the rule.
bool ReportProgress(CarveContext& context, uint64_t sectorsReadByRule) {
  if (!context.progressCallback) return true;
  const CarveProgress& p = context.progress;
  const uint64_t done = p.doneSectors + sectorsReadByRule;
  const uint64_t percent = (p.totalSectors == 0 ? 0 : done * 100 / p.totalSectors) + 10;
  const int32_t result = context.progressCallback(static_cast<int32_t>(std::min<uint64_t>(percent, INT32_MAX)),
                                                  context.progressScale, p.secondsLeft, done, p.totalSectors,
                                                  p.filesFound);
  if (result == 0) return true;
  context.cancelResult = result;
  return false;
}

}  // namespace

uint64_t ScanAhead(CarveContext& context, std::span<const uint8_t> firstSector, const ScanAheadOptions& options,
                   EndTest* endTest) {
  const uint32_t sectorSize = context.sectorSize;
  if (options.firstSectorFirst && endTest != nullptr) {
    if (auto end = (*endTest)(firstSector, 0, firstSector.size())) return *end;
  }

  uint64_t length = sectorSize;
  uint64_t base = sectorSize;
  uint64_t consumed = 0;
  uint64_t remaining = options.limit / sectorSize;
  const uint32_t chunkSectors = kScratchBytes / sectorSize;
  std::optional<uint64_t> candidate;
  const SectorSource* source = context.source;
  if (source == nullptr) return length;
  const uint64_t total = source->TotalSectors();
  auto scratch = context.Scratch();

  while (remaining != 0) {
    // A file that reaches the end of the source is read up to that end.
    const uint64_t first = context.candidateStart + 1 + consumed;
    if (first >= total) break;
    const uint32_t n = static_cast<uint32_t>(std::min({uint64_t{chunkSectors}, remaining, total - first}));
    uint32_t got = 0;
    const ResultCode rc = source->Read(first, n, scratch.data(), got);
    if (got == 0) break;
    // A partial read (a bad sector) ends the file after what arrived.
    const bool lastChunk = rc != kSuccess || got < n;

    if (!ReportProgress(context, consumed + got)) break;

    const auto chunk = std::span<const uint8_t>(scratch).first(size_t{got} * sectorSize);
    uint64_t cutLength = length;
    const bool cut = FindNextFileStart(context, chunk, cutLength, options.sameKind);
    const size_t beforeCut = static_cast<size_t>(cutLength - length);
    if (cut) length = cutLength;

    if (endTest != nullptr) {
      if (auto end = (*endTest)(chunk, base, cut ? beforeCut : chunk.size())) {
        if (options.kind == EndKind::kStopping) {
          length = (options.markerYieldsToCut && cut) ? std::min(*end, length) : *end;
          return length;
        }
        if (options.kind == EndKind::kCandidate) candidate = *end;
      }
    }
    if (cut) break;
    length += chunk.size();
    base += chunk.size();
    consumed += got;
    remaining -= got;
    if (lastChunk) break;
  }
  if (candidate && *candidate < length) length = *candidate;
  return length;
}

}  // namespace selvane
