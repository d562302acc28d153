#include "engine/partition_table.h"

#include <algorithm>

#include "engine/byte_reader.h"

namespace selvane {
namespace {

constexpr size_t kMbrEntries = 446;
constexpr size_t kMbrEntrySize = 16;
constexpr uint8_t kProtectiveType = 0xEE;
constexpr uint8_t kExtendedTypes[] = {0x05, 0x0F, 0x85};
constexpr uint32_t kMaxGptEntries = 128;
constexpr uint32_t kMaxGptEntrySize = 512;

bool HasBootSignature(const ByteReader& r) { return r.Fits(510, 2) && r.U8(510) == 0x55 && r.U8(511) == 0xAA; }

// The four entries are sound: boot flags 0 or 0x80 only.
bool EntriesAreSound(const ByteReader& r) {
  for (size_t i = 0; i < 4; ++i) {
    const uint8_t status = r.U8(kMbrEntries + i * kMbrEntrySize);
    if (status != 0 && status != 0x80) return false;
  }
  return true;
}

}  // namespace

bool IsProtectiveMbr(std::span<const uint8_t> firstSector) {
  const ByteReader r(firstSector);
  if (!HasBootSignature(r) || !EntriesAreSound(r)) return false;
  for (size_t i = 0; i < 4; ++i)
    if (r.U8(kMbrEntries + i * kMbrEntrySize + 4) == kProtectiveType) return true;
  return false;
}

std::vector<DeclaredPartition> ParseMbrPartitions(std::span<const uint8_t> firstSector) {
  std::vector<DeclaredPartition> out;
  const ByteReader r(firstSector);
  if (!HasBootSignature(r) || !EntriesAreSound(r) || IsProtectiveMbr(firstSector)) return out;
  for (size_t i = 0; i < 4; ++i) {
    const size_t entry = kMbrEntries + i * kMbrEntrySize;
    const uint8_t type = r.U8(entry + 4);
    const uint32_t start = r.U32(entry + 8);
    const uint32_t count = r.U32(entry + 12);
    if (type == 0 || start == 0 || count == 0) continue;
    if (std::find(std::begin(kExtendedTypes), std::end(kExtendedTypes), type) != std::end(kExtendedTypes)) continue;
    out.push_back({start, count});
  }
  return out;
}

bool GptEntryArea(std::span<const uint8_t> header, uint64_t& entrySector, uint32_t& entryBytes) {
  const ByteReader r(header);
  if (!r.Fits(0, 92) || !r.Equals(0, "EFI PART")) return false;
  const uint32_t count = r.U32(80);
  const uint32_t size = r.U32(84);
  if (count == 0 || size < 128 || size > kMaxGptEntrySize || size % 8 != 0) return false;
  entrySector = r.U64(72);
  entryBytes = std::min(count, kMaxGptEntries) * size;
  return entrySector != 0;
}

std::vector<DeclaredPartition> ParseGptPartitions(std::span<const uint8_t> header, std::span<const uint8_t> entries) {
  std::vector<DeclaredPartition> out;
  uint64_t entrySector = 0;
  uint32_t entryBytes = 0;
  if (!GptEntryArea(header, entrySector, entryBytes)) return out;
  const ByteReader h(header);
  const uint32_t size = h.U32(84);
  const ByteReader r(entries);
  for (size_t offset = 0; offset + size <= std::min<size_t>(entryBytes, entries.size()); offset += size) {
    const ByteReader entry = r.Sub(offset, size);
    if (entry.U64(0) == 0 && entry.U64(8) == 0) continue;  // an unused entry
    const uint64_t first = entry.U64(32), last = entry.U64(40);
    if (first == 0 || last < first) continue;
    out.push_back({first, last - first + 1});
  }
  return out;
}

std::vector<DeclaredPartition> ReadPartitionTable(const DiskDevice& device, uint64_t firstSector, uint64_t sectorCount,
                                                  uint32_t sectorSize) {
  std::vector<uint8_t> sector(std::max<uint32_t>(sectorSize, 512));
  uint32_t read = 0;
  if (sectorCount < 2 || ReadSectors(1, device, sector.data(), firstSector, sectorSize, read) != kSuccess) return {};
  std::vector<DeclaredPartition> found;
  if (IsProtectiveMbr(sector)) {
    uint64_t entrySector = 0;
    uint32_t entryBytes = 0;
    if (ReadSectors(1, device, sector.data(), firstSector + 1, sectorSize, read) != kSuccess ||
        !GptEntryArea(sector, entrySector, entryBytes) || entrySector >= sectorCount)
      return {};
    const uint32_t count =
        static_cast<uint32_t>(std::min<uint64_t>((entryBytes + sectorSize - 1) / sectorSize, sectorCount - entrySector));
    std::vector<uint8_t> entries(size_t{count} * sectorSize);
    ReadSectors(static_cast<int32_t>(count), device, entries.data(), firstSector + entrySector, sectorSize, read);
    entries.resize(size_t{read} * sectorSize);
    found = ParseGptPartitions(sector, entries);
  } else {
    found = ParseMbrPartitions(sector);
  }
  std::erase_if(found, [&](const DeclaredPartition& p) {
    return p.firstSector >= sectorCount || p.sectorCount > sectorCount - p.firstSector;
  });
  return found;
}

}  // namespace selvane
