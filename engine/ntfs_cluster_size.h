// The cluster size of an NTFS volume whose boot sector is gone: first guessed
// from the size of the source, then learned from the MFT records found on it.
#pragma once

#include <cstdint>
#include <span>

namespace selvane {

// The sectors per cluster that NTFS formatting picks by default for a volume
// of this many sectors (d = bytesPerSector / 512): 8 up to 7 x d MiB, 1 up to
// 512 x d MiB, 2 up to 1,024 x d MiB, 4 up to 2,048 x d MiB, 8 above.
int32_t GuessNtfsSectorsPerCluster(uint32_t bytesPerSector, uint64_t sectorCount);

// The sectors per cluster a file record implies: the allocated size of its
// first $DATA, when non-resident, divided by the bytes of its clusters. The
// record must have its update sequence applied. 0 when the record tells
// nothing: not a "FILE" record, resident or no $DATA, an $ATTRIBUTE_LIST
// before it, an extent that does not start the attribute, or a value that is
// not a whole power of two of at most 4,096 sectors.
uint32_t LearnSectorsPerCluster(std::span<const uint8_t> record, uint32_t bytesPerSector);

}  // namespace selvane
