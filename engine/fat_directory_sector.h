// Tests on raw FAT directory entries and sectors, shared by the FAT engines
// and by the carving rules (a directory sector ends a carved file).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "engine/byte_reader.h"
#include "engine/fat_directory_entry.h"  // kFatEntrySize, kFatDeletedMark

namespace selvane {

inline constexpr uint8_t kFatLongNameAttributes = 0x0F;
inline constexpr uint8_t kFatVolumeLabel = 0x08;
inline constexpr uint8_t kFatDirectory = 0x10;
inline constexpr uint8_t kFatArchive = 0x20;

// A FAT date and time as a FILETIME (100 ns units since 1601), the stored local
// time taken as it stands; tenths (0 to 199) add seconds and milliseconds.
// Empty when the fields are no valid date and time.
std::optional<uint64_t> FatTimeToFileTime(uint16_t date, uint16_t time, uint8_t tenths = 0);

// The checksum of an 8.3 name that its long-name entries carry.
uint8_t ShortNameChecksum(std::span<const uint8_t> name11);

// Whether the 32-byte entry at `offset` of `entries` can be a real directory
// entry (the entry after it, when it fits, is looked at for "." and "..").
bool IsPlausibleEntry(const ByteReader& entries, size_t offset);

// Whether a sector begins a subdirectory: a "." entry and a ".." entry, both
// directories of size 0.
bool IsDirectoryStartSector(std::span<const uint8_t> sector);

// Whether a sector holds FAT directory entries and nothing else.
bool IsFatDirectorySector(std::span<const uint8_t> sector);

}  // namespace selvane
