// The deep scan: runs the deleted-file engine of a volume, then walks the
// volume in 64 KiB blocks and offers every sector to the formatted-volume
// engines of NTFS and FAT and to carving. Afterwards it answers queries,
// previews and recoveries by handing each record to the engine that found it.
//
// A deep scan is remembered in the scan history with the position its walk
// reached, so a stopped scan of an unchanged source can be resumed: the logs
// of the earlier scan folder are reopened and the walk goes on where it
// stopped. The formatted-volume engines decide much only when their walk ends
// (which geometry places a folder, which records form a volume), so the
// sectors they were given are listed in the scan folder (".Walk_<first
// sector>"); a resumed walk gives those sectors to them again, into new logs,
// before it goes on, and ends with what an uninterrupted walk would find.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "engine/file_type_recovery.h"
#include "engine/professional_fat_recovery.h"
#include "engine/professional_ntfs_recovery.h"
#include "engine/recovery_parse.h"
#include "results/scan_history.h"
#include "storage/disk_device.h"

namespace selvane {

// How the deep scan gets the deleted-file engine of its volume: the factory in
// fast mode, already opened (none for a volume without one). Handed in so
// that the factory and the deep scan do not depend on each other.
struct FastEngineMaker {
  std::function<std::unique_ptr<IFileRecoveryParse>(int32_t driveNumber, uint64_t firstSector, uint64_t sectorCount,
                                                    uint16_t sourceId)>
      forDisk;
  std::function<std::unique_ptr<IFileRecoveryParse>(const std::string& imagePath, uint16_t imageNumber)> forImage;
};

class CProfessionalRecovery final : public IFileRecoveryParse {
 public:
  // Bytes read per request of the walk.
  static constexpr uint32_t kBlockBytes = 65536;
  // Drive number stored in the history for an image source.
  static constexpr int32_t kImageDriveNumber = 128;
  // Shares of the progress bar: the deleted-file phase fills 0-9 %, the walk 9-99 %.
  static constexpr int32_t kDeletedPhaseScale = 9;
  static constexpr int32_t kWalkScale = 90;

  explicit CProfessionalRecovery(FastEngineMaker makeFastEngine);
  ~CProfessionalRecovery() override;
  CProfessionalRecovery(const CProfessionalRecovery&) = delete;
  CProfessionalRecovery& operator=(const CProfessionalRecovery&) = delete;

  // Opening also looks up an earlier deep scan of the source (CanResume).
  // Returns the result of opening the source and the NTFS engine.
  ResultCode OpenImage(const std::string& imagePath, uint16_t sourceId) override;
  ResultCode OpenPartition(int32_t driveNumber, uint64_t firstSector, uint64_t sectorCount,
                           uint16_t sourceId) override;
  // Registers the progress callback with the deleted-file engine at scale 9
  // and with the walk's engines at scale 90; file progress keeps `scale`.
  ResultCode SetCallbacks(ProgressCallback progress, FileProgressCallback fileProgress, int32_t scale) override;
  // The deep scan (the name is not used). Returns 0, the error of the
  // deleted-file phase, or the nonzero value with which the progress callback
  // stopped the scan; a stopped walk is saved and can be resumed.
  ResultCode Scan(const std::string& logName) override;
  ResultCode QueryFolder(const ScanLogRecord* folder, uint32_t depth, std::vector<ScanLogRecord>& out) override;
  ResultCode QueryFileCount(const ScanLogRecord* folder, uint32_t depth, uint32_t& count) override;
  uint64_t GetRecordCount() override;
  ResultCode QueryFolderPath(const ScanLogRecord& record, std::string& path) override;
  ResultCode RecoverItem(const ScanLogRecord& record, const std::string& destination, int32_t rootSeparators) override;
  ResultCode FindFreeRun(uint64_t&, uint64_t&) override { return kSuccess; }
  ResultCode SetSearchProgress(SearchProgressCallback callback) override;
  // The categories of all four engines; a carved file that a file-system
  // engine already lists at the same first sector is left out.
  ResultCode QueryCategory(const std::string& filter, std::vector<ScanLogRecord>& out) override;
  ResultCode LoadAllocationBitmap() override { return kSuccess; }
  ResultCode ReadItemData(const ScanLogRecord& record, std::string& tempPath, std::span<uint8_t> buffer,
                          uint32_t& size, ReadProgressCallback progress) override;

  // ---- Resuming ----

  // Whether the history holds an earlier deep scan of this unchanged source;
  // the next Scan then continues it.
  bool CanResume() const { return resume_; }
  const ScanHistoryEntry& EarlierScan() const { return resumeState_; }
  // Starts afresh instead: the earlier entry and its scan folder are removed.
  void DiscardEarlierScan();

  // ---- For the command line and tests ----

  // Removes from `records` the carved files of this source that a file-system
  // engine's record in `records` already covers (same first sector and the
  // same extension, or a "thm" whose data is a "jpg"). Order is kept.
  void RemoveCarvedDuplicates(std::vector<ScanLogRecord>& records);
  // The folder the last scan wrote its logs into ("" before a scan).
  const std::string& ScanFolder() const { return scanFolder_; }
  // Where the last walk stopped (runLength 0 when it ended).
  const WalkPosition& LastPosition() const { return lastPosition_; }
  // Sectors the walk plans to read: the free runs, or the whole volume.
  uint64_t WalkTotal() const { return walkTotal_; }
  FileSystemKind Kind() const { return kind_; }
  uint32_t SectorSize() const { return sectorSize_; }
  IFileRecoveryParse* DeletedEngine() const { return deleted_.get(); }

 private:
  // The walk's state between blocks.
  struct Walk {
    bool freeOnly = false;
    uint64_t total = 0;
    WalkPosition position;
    int32_t secondsLeft = -1;
    uint64_t doneThisRun = 0;
    std::chrono::steady_clock::time_point start;
    std::chrono::steady_clock::time_point lastEstimate;
  };

  ResultCode RunScan();
  void OpenEngines(const std::string& imagePath);
  void Classify();
  IFileRecoveryParse* EngineFor(uint32_t engineCode) const;
  ResultCode StartWalkLogs(bool resuming);
  // A whole disk walked as one source: the FAT partitions its partition table
  // declares give their geometries before any of their folders is met.
  void AddPartitionGeometries();
  void PlanWalk(Walk& walk, bool resuming);
  ResultCode RunWalk(Walk& walk);
  // Offers the `count` sectors of `block` (the first at absolute `firstSector`)
  // to the engines. `advance` becomes the sectors the walk moves on: past the
  // block and any carved file reaching beyond it, or, when stopped, up to the
  // sector whose carving was interrupted.
  ResultCode ProcessBlock(std::span<const uint8_t> block, uint32_t count, uint64_t firstSector, const Walk& walk,
                          uint64_t& filesFound, uint64_t& advance);
  // Hands sector `index` of `block` to the NTFS or FAT engine when it is an MFT
  // record or a directory sector; false when it is neither (carving's turn).
  bool OfferToFileSystems(std::span<const uint8_t> block, uint32_t index, uint32_t count, uint64_t sector);
  void OfferRecord(std::span<const uint8_t> block, uint32_t index, uint32_t count, uint32_t recordSize,
                   uint64_t sector);
  // The list of sectors given to the formatted-volume engines.
  std::string WalkListPath() const;
  bool LoadWalkList(uint64_t below, std::vector<uint64_t>& sectors) const;
  void SaveWalkList(bool walkEnded);
  void Replay(const std::vector<uint64_t>& sectors);
  void Estimate(Walk& walk);
  // The first sector of the data of a file-system engine's record; false when
  // it has none that a carved file could share.
  bool DataStartOf(const ScanLogRecord& record, uint64_t& sector);
  using StartMap = std::map<uint64_t, std::string>;
  void AddStarts(std::span<const ScanLogRecord> records, StartMap& starts);
  bool IsCarvedDuplicate(const StartMap& starts, const ScanLogRecord& carved) const;

  FastEngineMaker makeFastEngine_;

  // Source.
  ResultCode openResult_ = kInvalidHandle;
  DiskDevice device_;
  uint16_t sourceId_ = 0;
  int32_t driveNumber_ = -1;
  uint64_t partitionFirstSector_ = 0;
  uint64_t partitionSectorCount_ = 0;  // what the walk covers: no more than the drive holds
  uint64_t sourceSectorCount_ = 0;     // as given: the history knows the source by it
  uint32_t sectorSize_ = 512;
  std::string imagePath_;   // empty for a partition
  std::string mountPoint_;  // of a partition, for the history's free-space check
  FileSystemKind kind_ = FileSystemKind::Unknown;

  // Engines.
  std::unique_ptr<IFileRecoveryParse> deleted_;
  std::unique_ptr<CProfessionalFatRecovery> fat_;
  std::unique_ptr<CProfessionalNtfsRecovery> ntfs_;
  std::unique_ptr<CFileTypeRecovery> carving_;

  ProgressCallback progress_;         // of the walk's engines, never moving back
  ProgressCallback deletedProgress_;  // as registered
  int32_t walkPercent_ = 0;

  // History.
  bool resume_ = false;
  ScanHistoryEntry resumeState_;
  std::string scanFolder_;
  WalkPosition lastPosition_;
  uint64_t walkTotal_ = 0;

  std::vector<uint64_t> offered_;  // sectors given to the formatted-volume engines, in walk order
  std::vector<uint64_t> replay_;   // of the earlier part of a resumed walk
  std::vector<uint8_t> block_;   // one block of the walk
  std::vector<uint8_t> record_;  // an MFT record that crosses the end of a block
};

}  // namespace selvane
