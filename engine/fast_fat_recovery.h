// The fast-mode engine of FAT12/16/32 volumes: walks the directory tree from the
// root, live and deleted directories alike, logs every deleted file, every file
// inside a deleted directory and the folders above them, and recovers files by
// following the FAT (or, where a deleted file's entries are free, the next free
// clusters).
#pragma once

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

#include "engine/fat_allocation_bitmap.h"
#include "engine/fat_directory_entry.h"
#include "engine/fat_table.h"
#include "engine/fat_volume.h"
#include "engine/recovery_parse.h"
#include "results/scan_log.h"
#include "storage/disk_device.h"

namespace selvane {

inline constexpr uint32_t kMaxClusterBytes = 0x6400000;  // 104,857,600

class CFastFatRecovery final : public IFileRecoveryParse {
 public:
  CFastFatRecovery() = default;
  ~CFastFatRecovery() override;
  CFastFatRecovery(const CFastFatRecovery&) = delete;
  CFastFatRecovery& operator=(const CFastFatRecovery&) = delete;

  ResultCode OpenImage(const std::string& imagePath, uint16_t sourceId) override;
  ResultCode OpenPartition(int32_t driveNumber, uint64_t firstSector, uint64_t sectorCount,
                           uint16_t sourceId) override;
  ResultCode SetCallbacks(ProgressCallback progress, FileProgressCallback fileProgress, int32_t scale) override;
  ResultCode Scan(const std::string& logName) override;
  ResultCode QueryFolder(const ScanLogRecord* folder, uint32_t depth, std::vector<ScanLogRecord>& out) override;
  ResultCode QueryFileCount(const ScanLogRecord* folder, uint32_t depth, uint32_t& count) override;
  uint64_t GetRecordCount() override;
  ResultCode QueryFolderPath(const ScanLogRecord& record, std::string& path) override;
  ResultCode RecoverItem(const ScanLogRecord& record, const std::string& destination, int32_t rootSeparators) override;
  ResultCode FindFreeRun(uint64_t& sector, uint64_t& sectorCount) override;
  ResultCode SetSearchProgress(SearchProgressCallback callback) override;
  ResultCode QueryCategory(const std::string& filter, std::vector<ScanLogRecord>& out) override;
  ResultCode LoadAllocationBitmap() override;
  ResultCode ReadItemData(const ScanLogRecord& record, std::string& tempPath, std::span<uint8_t> buffer,
                          uint32_t& size, ReadProgressCallback progress) override;

  const FatVolumeGeometry& Geometry() const { return geometry_; }
  bool IsOpen() const { return open_; }

 private:
  // A folder met in the walk, before its record is written.
  struct FolderInfo {
    ScanLogRecord record;    // the folder record as it will be logged
    uint32_t parent = 0;     // first cluster of the directory holding its entry (root id for the root)
    uint32_t depth = 0;      // depth of the folder itself: 1 for a folder in the root
    bool ownEntryDeleted = false;
    bool walked = false;     // its first cluster was read as this folder
  };

  ResultCode OpenVolume(uint16_t sourceId);
  ResultCode ReadVolumeSectors(uint64_t relativeSector, uint32_t count, uint8_t* buffer, uint32_t& sectorsRead) const;
  uint64_t AbsoluteSector(uint64_t relativeSector) const { return volumeStart_ + relativeSector; }

  // The scan.
  ResultCode WalkTree();
  ResultCode ReadDirectory(uint32_t directory);
  bool StartsLikeDirectory(const uint8_t* sector, size_t length, uint32_t parent) const;
  void AddFolder(const FatDirectoryEntry& entry, const std::string& name, bool deleted, uint32_t parent,
                 uint32_t parentDepth, uint64_t entrySector);
  void LogFile(const FatDirectoryEntry& entry, const std::string& name, uint32_t directory, uint32_t depth,
               uint64_t entrySector);
  void MarkFoldersToLog(uint32_t directory);
  void WriteFolderRecords();
  // The cluster of a deleted FAT32 entry whose high word was cleared: the
  // first free cluster with that low word that starts like the entry's
  // directory, or whose first sector matches the file's extension.
  uint32_t GuessDirectoryCluster(uint16_t low, uint32_t parent);
  uint32_t GuessFileCluster(uint16_t low, std::string_view extension);
  bool CheckIntact(const ScanLogRecord& record);
  // Reads one sector into sectorBuffer_, unless it holds that sector already.
  bool ReadCheckSector(uint64_t relativeSector);
  int32_t Report(int32_t percent, int32_t secondsLeft);
  uint32_t NormalizeParent(uint32_t cluster) const;

  // Reading a found file.
  using ChunkSink = std::function<ResultCode(const uint8_t* data, size_t length)>;
  // Reads up to `limit` bytes of a file cluster by cluster into `sink`, calling
  // `progress` after each cluster; `stopped` tells that progress ended it.
  ResultCode ReadFileData(const ScanLogRecord& record, const ChunkSink& sink,
                          const std::function<int32_t(uint64_t done)>& progress, uint64_t limit, bool& stopped);
  ResultCode CopyFile(const ScanLogRecord& record, const std::string& path, bool& stopped);
  ResultCode RecoverFolder(const ScanLogRecord& record, const std::string& destination);
  ResultCode ReportFile(int32_t percent, ResultCode error, const std::string& path);

  bool open_ = false;
  ResultCode openResult_ = kInvalidHandle;  // why the engine is not open
  DiskDevice device_;
  uint64_t partitionStart_ = 0;     // in device sectors, as given
  uint64_t partitionSectors_ = 0;   // in device sectors
  uint32_t deviceSectorSize_ = 512;
  uint64_t volumeStart_ = 0;        // partition start in the volume's sectors
  uint64_t volumeSectors_ = 0;      // partition length in the volume's sectors
  uint16_t sourceId_ = 0;
  FatVolumeGeometry geometry_;
  CFatTable fat_;
  FatAllocationBitmap bitmap_;
  std::unique_ptr<CScanLog> log_;

  ProgressCallback progress_;
  FileProgressCallback fileProgress_;
  int32_t scale_ = 100;
  SearchProgressCallback searchProgress_;

  std::map<uint32_t, FolderInfo> folders_;
  std::vector<uint32_t> foldersToLog_;
  std::unordered_set<uint32_t> foldersToLogSet_;
  std::deque<uint32_t> directoryQueue_;
  std::unordered_set<uint32_t> readClusters_;
  std::vector<uint8_t> clusterBuffer_;  // one directory cluster (or the fixed root directory)
  std::vector<uint8_t> sectorBuffer_;   // one sector, for the checks of found entries
  uint64_t checkSector_ = UINT64_MAX;   // the sector in sectorBuffer_ (relative), if any
};

}  // namespace selvane
