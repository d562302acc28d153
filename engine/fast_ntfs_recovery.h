// The fast scan of an NTFS volume: deleted files read straight from the Master
// File Table. Every record that is neither in use nor a directory is a deleted
// file; the folders above it are rebuilt from the parent references of the
// $FILE_NAME attributes. Files are copied out through their data runs.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "engine/ntfs_volume_access.h"
#include "engine/recovery_parse.h"
#include "storage/disk_device.h"

namespace selvane {

class CScanLog;

class CFastNtfsRecovery final : public IFileRecoveryParse {
 public:
  CFastNtfsRecovery();
  ~CFastNtfsRecovery() override;
  CFastNtfsRecovery(const CFastNtfsRecovery&) = delete;
  CFastNtfsRecovery& operator=(const CFastNtfsRecovery&) = delete;

  ResultCode OpenImage(const std::string& imagePath, uint16_t sourceId) override;
  ResultCode OpenPartition(int32_t driveNumber, uint64_t firstSector, uint64_t sectorCount,
                           uint16_t sourceId) override;
  ResultCode SetCallbacks(ProgressCallback progress, FileProgressCallback fileProgress, int32_t scale) override;
  ResultCode Scan(const std::string& logName) override;
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

  // The volume as opened (for tools and tests).
  const NtfsVolumeAccess& Volume() const { return volume_; }
  uint64_t PartitionSectorCount() const { return partitionSectorCount_; }

 private:
  // A folder record read during a scan.
  struct FolderRecordInfo {
    bool directory = false;  // a readable "FILE" record of a directory with a name
    bool inUse = false;
    uint16_t sequence = 0;
    uint32_t parent = 0;
    uint16_t parentSequence = 0;
    uint32_t entry = 0;  // its log record as a folder, in folderEntries_
  };
  // A folder listed in the log, by its folder identifier.
  struct FolderNode {
    uint32_t linkParent = kNtfsRootRecord;  // identifier of the folder it is listed in
    uint32_t depth = 1;                     // depth of the key of its contents
    bool lost = false;                      // listed as "LostFolder<record>" in the root
    uint32_t record = 0;                    // its MFT record number
    bool inUse = false;                     // its record's state, to check references to it
    uint16_t sequence = 0;
    uint32_t entry = 0;                     // log record of a folder that is not lost, in folderEntries_
  };
  struct FolderRef {
    uint32_t id = kNtfsRootRecord;
    uint32_t depth = 0;
  };
  using ChunkSink = std::function<ResultCode(std::span<const uint8_t>)>;
  using PercentCallback = std::function<int32_t(int32_t percent)>;

  ResultCode FinishOpen(std::span<const uint8_t> boot, uint32_t firstSectorSize, uint64_t firstSector,
                        uint64_t sectorCount, uint16_t sourceId);
  void LoadMftRuns();
  // Reads MFT sectors through the run list; unreadable sectors come back as zeros.
  ResultCode ReadMftSectors(uint64_t mftSector, uint32_t count, uint8_t* out);
  ResultCode ScanMft();
  void ProcessDeletedRecord(uint32_t number, std::span<uint8_t> record);
  FolderRef ResolveFolder(uint32_t record, uint16_t sequence);
  const FolderRecordInfo& FolderRecord(uint32_t record);
  void WritePendingFolders();
  ScanLogRecord MakeEntry(uint32_t number, const MftFileSummary& summary, bool folder) const;
  uint32_t CheckIntact(const ScanLogRecord& entry, const MftFileSummary& summary, std::span<const uint8_t> record);
  ResultCode ReadBaseRecord(const ScanLogRecord& record);
  ResultCode CopyItemData(const ScanLogRecord& record, uint64_t maxBytes, const ChunkSink& sink,
                          const PercentCallback& progress, bool& stopped);
  ResultCode WriteFoundFile(const ScanLogRecord& record, const std::string& path);
  ResultCode RecoverFolder(const ScanLogRecord& folder, const std::string& destination);

  DiskDevice bootDevice_;
  DiskDevice device_;
  NtfsVolumeAccess volume_;
  ResultCode openResult_ = kInvalidHandle;
  uint64_t partitionSectorCount_ = 0;
  uint16_t sourceId_ = 0;
  std::vector<uint8_t> chunk_;         // one MFT chunk of 1,024 records
  std::vector<uint8_t> recordBuffer_;  // one record read on its own
  std::vector<uint8_t> sectorBuffer_;  // one sector of file data
  std::vector<uint8_t> dataBuffer_;    // file data in chunks of up to 64 KiB
  std::vector<uint8_t> bitmap_;        // $Bitmap: bit n set = cluster n allocated
  std::vector<uint32_t> pendingFolders_;  // folder identifiers in order of first sight
  std::unordered_map<uint32_t, FolderNode> folders_;
  std::unordered_map<uint32_t, FolderRecordInfo> folderRecords_;
  std::vector<ScanLogRecord> folderEntries_;
  std::vector<std::pair<uint32_t, FolderNode>> chain_;
  std::vector<MftRun> runScratch_;
  std::unique_ptr<CScanLog> log_;
  ProgressCallback progress_;
  FileProgressCallback fileProgress_;
  int32_t scale_ = 0;
  int32_t lastSecondsLeft_ = -1;
  SearchProgressCallback searchProgress_;
};

}  // namespace selvane
