// Sector sources for carving tests: a buffer that counts the reads made from
// it, and a large device made up on the fly.
#pragma once

#include <algorithm>
#include <cstring>
#include <vector>

#include "engine/signatures/sector_source.h"

namespace selvane::test {

// Sectors of a buffer; counts the sectors read through it.
class CountingSource final : public SectorSource {
 public:
  CountingSource(std::vector<uint8_t> bytes, uint32_t sectorSize = 512)
      : bytes_(std::move(bytes)), memory_(bytes_, sectorSize) {}
  uint32_t SectorSize() const override { return memory_.SectorSize(); }
  uint64_t TotalSectors() const override { return memory_.TotalSectors(); }
  ResultCode Read(uint64_t first, uint32_t count, uint8_t* buffer, uint32_t& sectorsRead) const override {
    const ResultCode rc = memory_.Read(first, count, buffer, sectorsRead);
    sectorsReadSoFar += sectorsRead;
    return rc;
  }
  std::span<const uint8_t> Sector(uint64_t n) const {
    return std::span(bytes_).subspan(n * SectorSize(), SectorSize());
  }
  mutable uint64_t sectorsReadSoFar = 0;

 private:
  std::vector<uint8_t> bytes_;
  MemorySectorSource memory_;
};

// A device of `sectors` sectors whose first sectors come from `head` and whose
// other sectors all hold one filler byte.
class GeneratedSource final : public SectorSource {
 public:
  GeneratedSource(std::vector<uint8_t> head, uint64_t sectors, uint8_t filler)
      : head_(std::move(head)), sectors_(sectors), filler_(filler) {}
  uint32_t SectorSize() const override { return 512; }
  uint64_t TotalSectors() const override { return sectors_; }
  ResultCode Read(uint64_t first, uint32_t count, uint8_t* buffer, uint32_t& sectorsRead) const override {
    sectorsRead = 0;
    if (first > sectors_ || count > sectors_ - first) return 87;
    std::memset(buffer, filler_, size_t{count} * 512);
    const uint64_t begin = first * 512;
    if (begin < head_.size()) {
      const size_t n = static_cast<size_t>(std::min<uint64_t>(head_.size() - begin, uint64_t{count} * 512));
      std::memcpy(buffer, head_.data() + begin, n);
    }
    sectorsRead = count;
    return 0;
  }

 private:
  std::vector<uint8_t> head_;
  uint64_t sectors_;
  uint8_t filler_;
};

// Writes `bytes` into `image` at a byte offset, growing it as needed.
inline void Put(std::vector<uint8_t>& image, size_t offset, std::span<const uint8_t> bytes) {
  if (image.size() < offset + bytes.size()) image.resize(offset + bytes.size());
  std::copy(bytes.begin(), bytes.end(), image.begin() + static_cast<ptrdiff_t>(offset));
}
inline void Put(std::vector<uint8_t>& image, size_t offset, std::string_view text) {
  Put(image, offset, std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
}

}  // namespace selvane::test
