#include "support/fat_image_builder.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <stdexcept>

namespace selvane::test {
namespace {

void Put16(uint8_t* at, uint32_t v) {
  at[0] = static_cast<uint8_t>(v);
  at[1] = static_cast<uint8_t>(v >> 8);
}
void Put32(uint8_t* at, uint32_t v) {
  Put16(at, v);
  Put16(at + 2, v >> 16);
}

}  // namespace

FatEntryBytes ShortEntry(std::string_view name83, uint8_t attributes, uint32_t cluster, uint32_t size, bool deleted) {
  FatEntryBytes e{};
  std::fill_n(e.begin(), 11, ' ');
  std::copy_n(name83.begin(), std::min<size_t>(11, name83.size()), e.begin());
  if (deleted) e[0] = 0xE5;
  e[11] = attributes;
  e[13] = 50;
  Put16(&e[14], kTestTime);
  Put16(&e[16], kTestDate);
  Put16(&e[18], kTestDate);
  Put16(&e[20], cluster >> 16);
  Put16(&e[22], kTestTime);
  Put16(&e[24], kTestDate);
  Put16(&e[26], cluster & 0xFFFF);
  Put32(&e[28], size);
  return e;
}

std::vector<FatEntryBytes> LongNameEntries(std::u16string_view name, bool deleted) {
  static constexpr size_t kOffsets[13] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
  const size_t parts = (name.size() + 12) / 13;
  std::vector<FatEntryBytes> out;
  for (size_t p = parts; p-- > 0;) {
    FatEntryBytes e{};
    e[0] = static_cast<uint8_t>((p + 1) | (p + 1 == parts ? 0x40 : 0));
    if (deleted) e[0] = 0xE5;
    e[11] = 0x0F;
    for (size_t i = 0; i < 13; ++i) {
      size_t at = p * 13 + i;
      uint16_t unit = at < name.size() ? name[at] : (at == name.size() ? 0 : 0xFFFF);
      Put16(&e[kOffsets[i]], unit);
    }
    out.push_back(e);
  }
  return out;
}

FatImageBuilder::FatImageBuilder(const FatImageSpec& spec) : spec_(spec) {
  const bool fat32 = spec.type == FatType::Fat32;
  const uint32_t bps = spec.bytesPerSector;
  const uint64_t clustersGuess = spec.totalSectors / spec.sectorsPerCluster + 2;
  uint64_t fatBytes = 0;
  switch (spec.type) {
    case FatType::Fat12: fatBytes = (clustersGuess * 3 + 1) / 2; break;
    case FatType::Fat16: fatBytes = clustersGuess * 2; break;
    case FatType::Fat32: fatBytes = clustersGuess * 4; break;
  }
  const uint32_t sectorsPerFat = static_cast<uint32_t>((fatBytes + bps - 1) / bps);

  std::vector<uint8_t> boot(bps, 0);
  boot[0] = 0xEB;
  boot[1] = 0x3C;
  boot[2] = 0x90;
  std::copy_n("SELVTEST", 8, &boot[3]);
  Put16(&boot[0x0B], bps);
  boot[0x0D] = static_cast<uint8_t>(spec.sectorsPerCluster);
  Put16(&boot[0x0E], spec.reservedSectors);
  boot[0x10] = 2;
  Put16(&boot[0x11], fat32 ? 0 : spec.rootEntries);
  if (spec.totalSectors < 0x10000 && !fat32)
    Put16(&boot[0x13], static_cast<uint32_t>(spec.totalSectors));
  else
    Put32(&boot[0x20], static_cast<uint32_t>(spec.totalSectors));
  boot[0x15] = 0xF8;
  if (fat32) {
    Put32(&boot[0x24], sectorsPerFat);
    Put32(&boot[0x2C], 2);
    std::copy_n("FAT32   ", 8, &boot[0x52]);
  } else {
    Put16(&boot[0x16], sectorsPerFat);
    std::copy_n(spec.type == FatType::Fat12 ? "FAT12   " : "FAT16   ", 8, &boot[0x36]);
  }
  boot[510] = 0x55;
  boot[511] = 0xAA;
  WriteAt(0, boot);
  if (!ParseFatBootSector(boot, geometry_) || geometry_.type != spec.type)
    throw std::runtime_error("test FAT geometry does not describe the requested FAT type");
  SetFat(0, 0x0FFFFFF8);
  SetFat(1, 0x0FFFFFFF);
  if (fat32) SetFat(2, EndMark());
}

uint32_t FatImageBuilder::EndMark() const {
  switch (geometry_.type) {
    case FatType::Fat12: return 0xFFF;
    case FatType::Fat16: return 0xFFFF;
    case FatType::Fat32: return 0x0FFFFFFF;
  }
  return 0;
}

void FatImageBuilder::SetFat(uint32_t cluster, uint32_t value) {
  const uint32_t bps = geometry_.bytesPerSector;
  for (uint32_t copy = 0; copy < geometry_.fatCount; ++copy) {
    const uint64_t fatStart = (uint64_t{geometry_.reservedSectors} + uint64_t{copy} * geometry_.sectorsPerFat) * bps;
    switch (geometry_.type) {
      case FatType::Fat12: {
        const uint64_t at = fatStart + cluster + cluster / 2;
        auto pair = ReadAt(at, 2);
        uint32_t v = pair[0] | (pair[1] << 8);
        v = (cluster & 1) ? (v & 0x000F) | ((value & 0xFFF) << 4) : (v & 0xF000) | (value & 0xFFF);
        WriteAt(at, {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8)});
        break;
      }
      case FatType::Fat16:
        WriteAt(fatStart + uint64_t{cluster} * 2, {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8)});
        break;
      case FatType::Fat32:
        WriteAt(fatStart + uint64_t{cluster} * 4,
                {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value >> 16),
                 static_cast<uint8_t>(value >> 24)});
        break;
    }
  }
}

void FatImageBuilder::Chain(const std::vector<uint32_t>& clusters) {
  for (size_t i = 0; i < clusters.size(); ++i)
    SetFat(clusters[i], i + 1 < clusters.size() ? clusters[i + 1] : EndMark());
}

uint64_t FatImageBuilder::ClusterOffset(uint32_t cluster) const {
  const uint64_t sector = cluster == 0 ? geometry_.rootDirSector : geometry_.ClusterSector(cluster);
  return sector * geometry_.bytesPerSector;
}

void FatImageBuilder::Write(uint32_t cluster, size_t offset, const std::vector<uint8_t>& bytes) {
  WriteAt(ClusterOffset(cluster) + offset, bytes);
}

void FatImageBuilder::WriteEntries(uint32_t cluster, size_t index, const std::vector<FatEntryBytes>& entries) {
  for (size_t i = 0; i < entries.size(); ++i)
    Write(cluster, (index + i) * 32, std::vector<uint8_t>(entries[i].begin(), entries[i].end()));
}

void FatImageBuilder::WriteDotEntries(uint32_t cluster, uint32_t parent) {
  WriteEntries(cluster, 0, {ShortEntry(".", 0x10, cluster, 0), ShortEntry("..", 0x10, parent, 0)});
}

void FatImageBuilder::WriteAt(uint64_t offset, const std::vector<uint8_t>& bytes) {
  const uint32_t bps = spec_.bytesPerSector;
  for (size_t i = 0; i < bytes.size(); ++i) {
    const uint64_t at = offset + i;
    auto& sector = sectors_[at / bps];
    if (sector.empty()) sector.assign(bps, 0);
    sector[at % bps] = bytes[i];
  }
}

std::vector<uint8_t> FatImageBuilder::ReadAt(uint64_t offset, size_t length) const {
  const uint32_t bps = spec_.bytesPerSector;
  std::vector<uint8_t> out(length, 0);
  for (size_t i = 0; i < length; ++i) {
    auto it = sectors_.find((offset + i) / bps);
    if (it != sectors_.end()) out[i] = it->second[(offset + i) % bps];
  }
  return out;
}

void FatImageBuilder::Save(const std::string& path) const {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) throw std::runtime_error("cannot create " + path);
  const uint32_t bps = spec_.bytesPerSector;
  bool ok = ::ftruncate(fd, static_cast<off_t>(spec_.totalSectors * bps)) == 0;
  for (const auto& [sector, bytes] : sectors_)
    ok = ok && ::pwrite(fd, bytes.data(), bytes.size(), static_cast<off_t>(sector * bps)) ==
                   static_cast<ssize_t>(bytes.size());
  ::close(fd);
  if (!ok) throw std::runtime_error("cannot write " + path);
}

std::vector<uint8_t> PatternBytes(size_t size, uint32_t seed) {
  std::vector<uint8_t> out(size);
  uint32_t x = seed * 2654435761u + 1;
  for (size_t i = 0; i < size; ++i) {
    x = x * 1103515245u + 12345u;
    out[i] = static_cast<uint8_t>(x >> 16);
  }
  return out;
}

}  // namespace selvane::test
