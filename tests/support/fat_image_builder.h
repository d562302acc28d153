// Builds small FAT12/16/32 volumes byte by byte for the corner cases that real
// tools will not produce on request (a cleared high cluster word, a looping
// chain, a directory naming its own ancestor). Only touched sectors are kept;
// the image is written sparse.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "engine/fat_volume.h"

namespace selvane::test {

using FatEntryBytes = std::array<uint8_t, 32>;

struct FatImageSpec {
  FatType type = FatType::Fat16;
  uint32_t bytesPerSector = 512;
  uint32_t sectorsPerCluster = 4;
  uint64_t totalSectors = 8192;
  uint32_t rootEntries = 512;  // FAT12/16
  uint32_t reservedSectors = 4;
};

// Date 2021-06-15 12:30:10, inside the range a live entry must have.
inline constexpr uint16_t kTestDate = ((2021 - 1980) << 9) | (6 << 5) | 15;
inline constexpr uint16_t kTestTime = (12 << 11) | (30 << 5) | 5;

// An 8.3 entry. name83 is the 11 stored bytes ("REPORT  DOC"); deleted puts
// 0xE5 in place of the first byte.
FatEntryBytes ShortEntry(std::string_view name83, uint8_t attributes, uint32_t cluster, uint32_t size,
                         bool deleted = false);
// The long-name entries of `name` in the order they are stored (last part
// first), each marked deleted when asked.
std::vector<FatEntryBytes> LongNameEntries(std::u16string_view name, bool deleted = false);

class FatImageBuilder {
 public:
  explicit FatImageBuilder(const FatImageSpec& spec);
  const FatVolumeGeometry& Geometry() const { return geometry_; }

  // Sets a cluster's entry in every FAT copy.
  void SetFat(uint32_t cluster, uint32_t value);
  // Links the clusters in order and ends the chain.
  void Chain(const std::vector<uint32_t>& clusters);
  uint32_t EndMark() const;

  // Writes bytes at an offset inside a cluster (cluster 0: the fixed root directory).
  void Write(uint32_t cluster, size_t offset, const std::vector<uint8_t>& bytes);
  // Writes directory entries from slot `index` of a directory cluster.
  void WriteEntries(uint32_t cluster, size_t index, const std::vector<FatEntryBytes>& entries);
  // "." and ".." at the start of a directory cluster.
  void WriteDotEntries(uint32_t cluster, uint32_t parent);
  // Writes raw bytes at an absolute byte offset of the volume.
  void WriteAt(uint64_t offset, const std::vector<uint8_t>& bytes);
  std::vector<uint8_t> ReadAt(uint64_t offset, size_t length) const;

  void Save(const std::string& path) const;

 private:
  uint64_t ClusterOffset(uint32_t cluster) const;

  FatImageSpec spec_;
  FatVolumeGeometry geometry_;
  std::map<uint64_t, std::vector<uint8_t>> sectors_;  // sector number -> bytes
};

// Bytes of a recognisable pattern, different for each seed.
std::vector<uint8_t> PatternBytes(size_t size, uint32_t seed);

}  // namespace selvane::test
