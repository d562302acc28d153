#include "support/disk_builder.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <stdexcept>

namespace selvane::test {
namespace {

void Put16(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  b[at] = static_cast<uint8_t>(v);
  b[at + 1] = static_cast<uint8_t>(v >> 8);
}
void Put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}
void Put64(std::vector<uint8_t>& b, size_t at, uint64_t v) {
  for (int i = 0; i < 8; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}
void PutText(std::vector<uint8_t>& b, size_t at, std::string_view text, size_t width) {
  for (size_t i = 0; i < width; ++i) b[at + i] = i < text.size() ? static_cast<uint8_t>(text[i]) : ' ';
}

uint32_t Crc32(const uint8_t* data, size_t size) {
  uint32_t crc = 0xFFFFFFFFu;
  for (size_t i = 0; i < size; ++i) {
    crc ^= data[i];
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

void PutMbrEntry(std::vector<uint8_t>& sector, int slot, const TableEntry& e) {
  const size_t at = 0x1BE + 16 * static_cast<size_t>(slot);
  sector[at + 1] = 0xFE;  // CHS fields are past their range on every modern disk
  sector[at + 2] = 0xFF;
  sector[at + 3] = 0xFF;
  sector[at + 4] = e.type;
  sector[at + 5] = 0xFE;
  sector[at + 6] = 0xFF;
  sector[at + 7] = 0xFF;
  Put32(sector, at + 8, static_cast<uint32_t>(e.start));
  Put32(sector, at + 12, static_cast<uint32_t>(e.sectors));
}

}  // namespace

DiskImageBuilder::DiskImageBuilder(std::string path, uint64_t sectors) : path_(std::move(path)), sectors_(sectors) {
  int fd = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0 || ::ftruncate(fd, static_cast<off_t>(sectors * 512)) != 0)
    throw std::runtime_error("cannot make " + path_);
  ::close(fd);
}

void DiskImageBuilder::Write(uint64_t byteOffset, const std::vector<uint8_t>& bytes) const {
  int fd = ::open(path_.c_str(), O_WRONLY | O_CLOEXEC);
  if (fd < 0) throw std::runtime_error("cannot open " + path_);
  ssize_t n = ::pwrite(fd, bytes.data(), bytes.size(), static_cast<off_t>(byteOffset));
  ::close(fd);
  if (n != static_cast<ssize_t>(bytes.size())) throw std::runtime_error("cannot write " + path_);
}

void DiskImageBuilder::WriteMbr(const std::vector<TableEntry>& entries) const {
  std::vector<uint8_t> mbr(512, 0);
  Put32(mbr, 0x1B8, 0x5E1BA4E0);  // disk signature
  for (size_t i = 0; i < entries.size() && i < 4; ++i) PutMbrEntry(mbr, static_cast<int>(i), entries[i]);
  mbr[510] = 0x55;
  mbr[511] = 0xAA;
  WriteAtSector(0, mbr);
}

void DiskImageBuilder::WriteEbr(uint64_t sector, const TableEntry& logical) const {
  std::vector<uint8_t> ebr(512, 0);
  PutMbrEntry(ebr, 0, logical);
  ebr[510] = 0x55;
  ebr[511] = 0xAA;
  WriteAtSector(sector, ebr);
}

void DiskImageBuilder::WriteGpt(const std::vector<TableEntry>& entries) const {
  WriteMbr({{0xEE, 1, std::min<uint64_t>(sectors_ - 1, 0xFFFFFFFFu)}});
  // Entry array: 128 entries of 128 bytes from sector 2.
  std::vector<uint8_t> array(128 * 128, 0);
  static const uint8_t kBasicData[16] = {0xA2, 0xA0, 0xD0, 0xEB, 0xE5, 0xB9, 0x33, 0x44,
                                         0x87, 0xC0, 0x68, 0xB6, 0xB7, 0x26, 0x99, 0xC7};
  for (size_t i = 0; i < entries.size() && i < 128; ++i) {
    const size_t at = i * 128;
    std::copy(std::begin(kBasicData), std::end(kBasicData), array.begin() + static_cast<long>(at));
    for (int k = 0; k < 16; ++k) array[at + 16 + k] = static_cast<uint8_t>(0x10 + i * 16 + k);  // unique id
    Put64(array, at + 32, entries[i].start);
    Put64(array, at + 40, entries[i].start + entries[i].sectors - 1);
  }
  std::vector<uint8_t> header(512, 0);
  PutText(header, 0, "EFI PART", 8);
  Put32(header, 8, 0x00010000);
  Put32(header, 12, 92);
  Put64(header, 24, 1);                                                          // this header
  Put64(header, 32, sectors_ - 1);                                               // the backup header
  Put64(header, 40, 34);                                                         // first usable
  Put64(header, 48, sectors_ - 34);                                              // last usable
  for (int k = 0; k < 16; ++k) header[56 + k] = static_cast<uint8_t>(0xA0 + k);  // disk id
  Put64(header, 72, 2);
  Put32(header, 80, 128);
  Put32(header, 84, 128);
  Put32(header, 88, Crc32(array.data(), array.size()));
  Put32(header, 16, Crc32(header.data(), 92));
  WriteAtSector(1, header);
  WriteAtSector(2, array);
}

std::vector<uint8_t> NtfsVolumeHead(uint64_t sectors, std::u16string_view label) {
  // 8 sectors per cluster, MFT at cluster 4, records of 1,024 bytes.
  constexpr size_t kMftOffset = 4 * 8 * 512;
  std::vector<uint8_t> head(kMftOffset + 4 * 1024, 0);
  head[0] = 0xEB;
  head[1] = 0x52;
  head[2] = 0x90;
  PutText(head, 3, "NTFS", 8);
  Put16(head, 0x0B, 512);
  head[0x0D] = 8;
  head[0x15] = 0xF8;
  Put64(head, 0x28, sectors - 1);
  Put64(head, 0x30, 4);
  Put64(head, 0x38, sectors / 16);
  head[0x40] = 0xF6;  // 2^10 bytes per record
  head[0x44] = 1;
  Put64(head, 0x48, 0x1122334455667788ull);
  head[510] = 0x55;
  head[511] = 0xAA;
  for (size_t i = 0; i < 4; ++i) {
    const size_t at = kMftOffset + i * 1024;
    PutText(head, at, "FILE", 4);
    Put16(head, at + 4, 0x30);
    Put16(head, at + 6, 3);
    Put16(head, at + 0x14, 0x38);
    Put16(head, at + 0x16, 1);
    Put32(head, at + 0x1C, 1024);
    size_t attr = at + 0x38;
    if (i == 3 && !label.empty()) {  // $VOLUME_NAME, resident
      const uint32_t valueLength = static_cast<uint32_t>(label.size() * 2);
      const uint32_t length = (0x18 + valueLength + 7) / 8 * 8;
      Put32(head, attr, 0x60);
      Put32(head, attr + 4, length);
      Put32(head, attr + 0x10, valueLength);
      Put16(head, attr + 0x14, 0x18);
      for (size_t k = 0; k < label.size(); ++k) Put16(head, attr + 0x18 + 2 * k, label[k]);
      attr += length;
    }
    Put32(head, attr, 0xFFFFFFFF);
    Put32(head, at + 0x18, static_cast<uint32_t>(attr - at + 8));
  }
  return head;
}

std::vector<uint8_t> FatVolumeHead(int bits, uint64_t sectors, std::string_view label) {
  const bool fat32 = bits == 32;
  const uint32_t reserved = fat32 ? 32 : 1;
  const uint32_t fatSectors = fat32 ? 200 : bits == 16 ? 64 : 8;
  const uint32_t rootEntries = fat32 ? 0 : 512;
  const uint32_t rootStart = reserved + 2 * fatSectors;  // FAT32: cluster 2, the first data cluster
  std::vector<uint8_t> head((rootStart + 32) * 512, 0);
  head[0] = 0xEB;
  head[1] = 0x58;
  head[2] = 0x90;
  PutText(head, 3, "MSWIN4.1", 8);
  Put16(head, 0x0B, 512);
  head[0x0D] = 1;
  Put16(head, 0x0E, reserved);
  head[0x10] = 2;
  Put16(head, 0x11, rootEntries);
  if (sectors < 0x10000 && !fat32)
    Put16(head, 0x13, static_cast<uint32_t>(sectors));
  else
    Put32(head, 0x20, static_cast<uint32_t>(sectors));
  head[0x15] = 0xF8;
  Put16(head, 0x18, 63);
  Put16(head, 0x1A, 255);
  const size_t ext = fat32 ? 0x40 : 0x24;
  if (fat32) {
    Put32(head, 0x24, fatSectors);
    Put32(head, 0x2C, 2);  // root folder cluster
    Put16(head, 0x30, 1);  // FSInfo sector
    Put16(head, 0x32, 6);  // backup boot sector
  } else {
    Put16(head, 0x16, fatSectors);
  }
  head[ext] = 0x80;
  head[ext + 2] = 0x29;
  Put32(head, ext + 3, 0xDEADBEEF);
  PutText(head, ext + 7, label, 11);
  PutText(head, ext + 18, fat32 ? "FAT32" : bits == 16 ? "FAT16" : "FAT12", 8);
  head[510] = 0x55;
  head[511] = 0xAA;
  if (fat32) {
    PutText(head, 512, "RRaA", 4);
    PutText(head, 512 + 484, "rrAa", 4);
    head[1022] = 0x55;
    head[1023] = 0xAA;
  }
  for (uint32_t f = 0; f < 2; ++f) {
    const size_t at = (reserved + f * fatSectors) * 512;
    if (fat32) {
      Put32(head, at, 0x0FFFFFF8);
      Put32(head, at + 4, 0x0FFFFFFF);
      Put32(head, at + 8, 0x0FFFFFFF);  // the root folder's one cluster
    } else if (bits == 16) {
      Put32(head, at, 0xFFFFFFF8);
    } else {
      head[at] = 0xF8;
      head[at + 1] = 0xFF;
      head[at + 2] = 0xFF;
    }
  }
  const size_t root = rootStart * 512;
  PutText(head, root, label, 11);
  head[root + 11] = 0x08;  // volume label entry
  return head;
}

}  // namespace selvane::test
