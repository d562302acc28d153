// Where the signature rules read sectors beyond the one they were handed: a
// device during a scan, or a buffer in memory for tests and fuzzing.
#pragma once

#include <cstdint>
#include <span>

#include "platform/result_codes.h"
#include "storage/disk_device.h"

namespace selvane {

class SectorSource {
 public:
  virtual ~SectorSource() = default;
  virtual uint32_t SectorSize() const = 0;
  virtual uint64_t TotalSectors() const = 0;
  // Reads `count` sectors at `first` into `buffer` (count x SectorSize bytes),
  // with the results of ReadSectors: 87 when the range passes the end (nothing
  // read), 30 when fewer sectors arrived; `sectorsRead` counts whole sectors.
  virtual ResultCode Read(uint64_t first, uint32_t count, uint8_t* buffer, uint32_t& sectorsRead) const = 0;
};

// Sectors of a DiskDevice through ReadSectors.
class DeviceSectorSource final : public SectorSource {
 public:
  DeviceSectorSource(const DiskDevice& device, uint32_t sectorSize) : device_(device), sectorSize_(sectorSize) {}
  uint32_t SectorSize() const override { return sectorSize_; }
  uint64_t TotalSectors() const override;
  ResultCode Read(uint64_t first, uint32_t count, uint8_t* buffer, uint32_t& sectorsRead) const override;

 private:
  const DiskDevice& device_;
  uint32_t sectorSize_;
};

// Sectors of a byte buffer; a partial last sector does not count.
class MemorySectorSource final : public SectorSource {
 public:
  MemorySectorSource(std::span<const uint8_t> bytes, uint32_t sectorSize) : bytes_(bytes), sectorSize_(sectorSize) {}
  uint32_t SectorSize() const override { return sectorSize_; }
  uint64_t TotalSectors() const override { return bytes_.size() / sectorSize_; }
  ResultCode Read(uint64_t first, uint32_t count, uint8_t* buffer, uint32_t& sectorsRead) const override;

 private:
  std::span<const uint8_t> bytes_;
  uint32_t sectorSize_;
};

}  // namespace selvane
