// CFileTypeRecovery: the engine that finds files by their content alone. The
// deep scan offers it every sector that no file-system engine claims
// (CarveSector); it records each carved file, named after its start sector, in
// the root folder of its own scan log, and later reads carved files back for
// the preview and the recovery.
#pragma once

#include <memory>
#include <string>

#include "engine/recovery_parse.h"
#include "engine/signatures/carve_context.h"
#include "results/scan_log.h"
#include "storage/disk_device.h"

namespace selvane {

class CFileTypeRecovery final : public IFileRecoveryParse {
 public:
  CFileTypeRecovery() = default;
  ~CFileTypeRecovery() override;
  CFileTypeRecovery(const CFileTypeRecovery&) = delete;
  CFileTypeRecovery& operator=(const CFileTypeRecovery&) = delete;

  // Open the source for reading carved files back and start a new log
  // ("File_Type_<first sector>_<time>"). The log's own result is not reported.
  ResultCode OpenImage(const std::string& imagePath, uint16_t sourceId) override;
  ResultCode OpenPartition(int32_t driveNumber, uint64_t firstSector, uint64_t sectorCount,
                           uint16_t sourceId) override;
  ResultCode SetCallbacks(ProgressCallback progress, FileProgressCallback fileProgress, int32_t scale) override;
  // Carving is driven sector by sector through CarveSector; Scan does nothing.
  ResultCode Scan(const std::string& logName) override;
  // Only the root has entries: every carved file lies there.
  ResultCode QueryFolder(const ScanLogRecord* folder, uint32_t depth, std::vector<ScanLogRecord>& out) override;
  ResultCode QueryFileCount(const ScanLogRecord* folder, uint32_t depth, uint32_t& count) override;
  uint64_t GetRecordCount() override;
  ResultCode QueryFolderPath(const ScanLogRecord& record, std::string& path) override;
  ResultCode RecoverItem(const ScanLogRecord& record, const std::string& destination,
                         int32_t rootSeparators) override;
  ResultCode FindFreeRun(uint64_t& sector, uint64_t& sectorCount) override;
  ResultCode SetSearchProgress(SearchProgressCallback callback) override;
  ResultCode QueryCategory(const std::string& filter, std::vector<ScanLogRecord>& out) override;
  ResultCode LoadAllocationBitmap() override;
  ResultCode ReadItemData(const ScanLogRecord& record, std::string& tempPath, std::span<uint8_t> buffer,
                          uint32_t& size, ReadProgressCallback progress) override;

  // The deep scan's entry point. `sector` is the absolute number of
  // `sectorData`; `device` is the scan's own handle, through which the size
  // rules read ahead; the progress values go to the progress callback while
  // they do. When a file is recorded, sectorsConsumed becomes the number of
  // sectors the walk may skip (1 for kinds measured from a header that could
  // be foreign) and filesFound grows by one. Returns 0, 87 (nothing carved
  // here) or kScanStopCode (cancelled while measuring).
  ResultCode CarveSector(uint32_t sectorSize, std::span<const uint8_t> sectorData, uint64_t sector,
                         uint64_t doneSectors, uint64_t totalSectors, int32_t secondsLeft, const DiskDevice& device,
                         uint64_t& sectorsConsumed, uint64_t& filesFound);

  // A new scan starts: transport streams measured before are forgotten.
  void ClearTransportStreamRanges() { context_.ClearTsRanges(); }
  // Resuming a scan: the source is opened again and the earlier log continued.
  ResultCode ResumeImage(const std::string& imagePath, uint16_t sourceId, uint32_t sectorSize,
                         const std::string& logName);
  ResultCode ResumePartition(int32_t driveNumber, uint16_t sourceId, uint32_t sectorSize, const std::string& logName);

  uint32_t SectorSize() const { return sectorSize_; }
  void SetSectorSize(uint32_t sectorSize) { sectorSize_ = sectorSize; }

 private:
  void StartLog(const std::string& logName);
  void CloseLog();

  uint16_t sourceId_ = 0;
  uint64_t partitionFirstSector_ = 0;
  uint64_t partitionSectorCount_ = 0;
  uint32_t sectorSize_ = 512;
  DiskDevice device_;
  std::unique_ptr<CScanLog> log_;
  int32_t scale_ = 0;
  ProgressCallback progress_;
  FileProgressCallback fileProgress_;
  SearchProgressCallback searchProgress_;
  CarveContext context_;
};

}  // namespace selvane
