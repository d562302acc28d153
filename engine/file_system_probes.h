// Tests that tell which file system a volume holds, from its first bytes.
#pragma once

#include <cstdint>
#include <span>

#include "engine/recovery_parse.h"

namespace selvane {

inline constexpr size_t kProbeBytes = 16384;  // bytes the factory reads and classifies

// Each test takes the volume's first bytes; a buffer too short for the test is false.
bool IsNtfsBootSector(std::span<const uint8_t> sector);
bool IsLockedVolume(std::span<const uint8_t> sector);
bool IsFat16BootSector(std::span<const uint8_t> sector);
bool IsFat32BootSector(std::span<const uint8_t> sector);
bool IsFatBootSector(std::span<const uint8_t> sector);
// Takes the 1,024 bytes of the superblock (volume offset 1,024).
bool IsExtSuperblock(std::span<const uint8_t> superblock);

// NTFS, then FAT, then ext (superblock at offset 1,024), else Unknown.
FileSystemKind ClassifyVolume(std::span<const uint8_t> firstBytes);

const char* FileSystemKindName(FileSystemKind kind);

}  // namespace selvane
