// Synthetic disks for enumeration and imaging tests: a sparse image file with
// an MBR or GPT partition table, and the first bytes of NTFS and FAT volumes,
// enough for libblkid to recognise them with their labels.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace selvane::test {

struct TableEntry {
  uint8_t type = 0;  // MBR type byte (ignored for GPT, where every entry is "basic data")
  uint64_t start = 0;
  uint64_t sectors = 0;
};

class DiskImageBuilder {
 public:
  // Creates (or cuts) a sparse file of `sectors` 512-byte sectors.
  DiskImageBuilder(std::string path, uint64_t sectors);
  const std::string& path() const { return path_; }
  uint64_t sectors() const { return sectors_; }

  void Write(uint64_t byteOffset, const std::vector<uint8_t>& bytes) const;
  void WriteAtSector(uint64_t sector, const std::vector<uint8_t>& bytes) const { Write(sector * 512, bytes); }
  // A classic MBR with up to four entries.
  void WriteMbr(const std::vector<TableEntry>& entries) const;
  // An extended boot record at `sector` describing one logical partition whose
  // start is relative to that sector.
  void WriteEbr(uint64_t sector, const TableEntry& logical) const;
  // A protective MBR and a primary GPT with one entry per item.
  void WriteGpt(const std::vector<TableEntry>& entries) const;

 private:
  std::string path_;
  uint64_t sectors_;
};

// The first bytes of an NTFS volume of `sectors` sectors: boot sector and MFT
// records 0-3, record 3 ($Volume) holding the label.
std::vector<uint8_t> NtfsVolumeHead(uint64_t sectors, std::u16string_view label);

// The first bytes of a FAT12/16/32 volume: boot sector, FATs and a root folder
// holding the label entry.
std::vector<uint8_t> FatVolumeHead(int bits, uint64_t sectors, std::string_view label);

}  // namespace selvane::test
