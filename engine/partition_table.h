// The partitions that a partition table (MBR or GPT) at the start of a source
// declares. The deep scan walks a whole disk as one source; knowing where its
// partitions begin lets it read their boot sectors, which tell where a FAT
// volume's clusters lie even when no two of its folders are found.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "storage/disk_device.h"

namespace selvane {

// Sectors relative to the start of the source.
struct DeclaredPartition {
  uint64_t firstSector = 0;
  uint64_t sectorCount = 0;
};

// The primary partitions of an MBR (first sector, 512 bytes or more); none
// when the bytes hold no partition table or a GPT's protective entry.
std::vector<DeclaredPartition> ParseMbrPartitions(std::span<const uint8_t> firstSector);

// Whether an MBR is the protective one of a GPT.
bool IsProtectiveMbr(std::span<const uint8_t> firstSector);

// The partitions of a GPT whose header is `header` (the sector after the MBR)
// and whose entries are `entries` (read from the header's entry sector on).
std::vector<DeclaredPartition> ParseGptPartitions(std::span<const uint8_t> header, std::span<const uint8_t> entries);
// Where the GPT header puts its entries (sector) and how many bytes they take
// (at most 128 entries of at most 512 bytes); false when it is no GPT header.
bool GptEntryArea(std::span<const uint8_t> header, uint64_t& entrySector, uint32_t& entryBytes);

// Reads the table of the source that begins at absolute `firstSector` and is
// `sectorCount` sectors long. Partitions that do not lie inside it are left out.
std::vector<DeclaredPartition> ReadPartitionTable(const DiskDevice& device, uint64_t firstSector, uint64_t sectorCount,
                                                  uint32_t sectorSize);

}  // namespace selvane
