// The engine for ext volumes in fast mode: it opens the drive and finds nothing,
// so an ext volume scanned for deleted files shows an empty result.
#pragma once

#include "engine/recovery_parse.h"
#include "storage/disk_device.h"

namespace selvane {

class CFastExtRecovery final : public IFileRecoveryParse {
 public:
  ResultCode OpenImage(const std::string&, uint16_t) override { return kSuccess; }
  ResultCode OpenPartition(int32_t driveNumber, uint64_t firstSector, uint64_t sectorCount,
                           uint16_t sourceId) override;
  ResultCode SetCallbacks(ProgressCallback, FileProgressCallback, int32_t) override { return kSuccess; }
  ResultCode Scan(const std::string&) override { return kSuccess; }
  ResultCode QueryFolder(const ScanLogRecord*, uint32_t, std::vector<ScanLogRecord>&) override { return kSuccess; }
  ResultCode QueryFileCount(const ScanLogRecord*, uint32_t, uint32_t&) override { return kSuccess; }
  uint64_t GetRecordCount() override { return 0; }
  ResultCode QueryFolderPath(const ScanLogRecord&, std::string&) override { return kSuccess; }
  ResultCode RecoverItem(const ScanLogRecord&, const std::string&, int32_t) override { return kSuccess; }
  ResultCode FindFreeRun(uint64_t&, uint64_t&) override { return kSuccess; }
  ResultCode SetSearchProgress(SearchProgressCallback) override { return kSuccess; }
  ResultCode QueryCategory(const std::string&, std::vector<ScanLogRecord>&) override { return kSuccess; }
  ResultCode LoadAllocationBitmap() override { return kSuccess; }
  ResultCode ReadItemData(const ScanLogRecord&, std::string&, std::span<uint8_t>, uint32_t&,
                          ReadProgressCallback) override {
    return kSuccess;
  }

 private:
  DiskDevice drive_;
  int32_t driveNumber_ = -1;
  uint64_t firstSector_ = 0;
  uint64_t sectorCount_ = 0;
  uint16_t sourceId_ = 0;
};

}  // namespace selvane
