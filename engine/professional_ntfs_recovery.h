// Files of NTFS volumes that can no longer be reached through a boot sector
// and an intact MFT: a volume formatted since (possibly with another file
// system), a damaged boot sector, or an old volume whose space a new partition
// took. The deep scan reads the whole source and hands every sector that
// begins an MFT record to this engine; the engine takes each record that is
// not a directory as a file (in use or not), works out which volume and MFT it
// belongs to, rebuilds the folders above it from the parent references, and
// writes everything into its own scan log. Files are copied out through the
// location each log record carries, so no MFT is needed afterwards.
//
// A volume is known by its MFT: the boot sector (when the source still has
// one) and every "$MFT" record met give an MFT's runs, cluster size and so
// the volume's first sector. A record of an MFT not known yet makes the
// engine look for a "$MFT" record where the record's number puts record 0;
// failing that, its MFT is taken as contiguous up to the record and its
// volume as starting at the scanned partition's first sector. Folders are
// kept apart per volume, so two volumes on one source do not mix.
//
// How the deep scan drives it, on one thread:
//   1. OpenImage / OpenPartition, SetCallbacks;
//   2. StartLog("") for a new scan, or StartLog(name) to continue the log of
//      an earlier, stopped scan;
//   3. ProcessFoundRecord(bytes, sector, 0, 0) for every sector of the walk for
//      which FoundRecordSize gives a size (the bytes hold at least that size);
//   4. ProcessPendingFolders() once, when the walk ends or is cancelled;
//   5. then the queries, RecoverItem and ReadItemData of IFileRecoveryParse,
//      and GetMftRunsAt / DataStartSector for the duplicate removal of the
//      category merge.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "engine/ntfs_found_volumes.h"
#include "engine/ntfs_record.h"
#include "engine/recovery_parse.h"
#include "storage/disk_device.h"

namespace selvane {

class CScanLog;

class CProfessionalNtfsRecovery final : public IFileRecoveryParse {
 public:
  // Largest MFT record read (records are 1, 2 or 4 KiB).
  static constexpr uint32_t kMaxRecordBytes = 4096;

  CProfessionalNtfsRecovery();
  ~CProfessionalNtfsRecovery() override;
  CProfessionalNtfsRecovery(const CProfessionalNtfsRecovery&) = delete;
  CProfessionalNtfsRecovery& operator=(const CProfessionalNtfsRecovery&) = delete;

  // Opens the source (an image in 512-byte sectors; a partition in the drive's
  // sectors). When the source still begins with an NTFS boot sector, its MFT
  // is known from the start. Returns the result of opening the device.
  ResultCode OpenImage(const std::string& imagePath, uint16_t sourceId) override;
  ResultCode OpenPartition(int32_t driveNumber, uint64_t firstSector, uint64_t sectorCount, uint16_t sourceId) override;
  ResultCode SetCallbacks(ProgressCallback progress, FileProgressCallback fileProgress, int32_t scale) override;
  // Does nothing: the deep scan drives this engine through the entry points below.
  ResultCode Scan(const std::string& logName) override;
  // Without a folder record (or with one whose ItemId is 0) and depth 0: the
  // root of the log. Nothing, and 0, when no log is open.
  ResultCode QueryFolder(const ScanLogRecord* folder, uint32_t depth, std::vector<ScanLogRecord>& out) override;
  ResultCode QueryFileCount(const ScanLogRecord* folder, uint32_t depth, uint32_t& count) override;
  uint64_t GetRecordCount() override;
  // 87 when no log is open.
  ResultCode QueryFolderPath(const ScanLogRecord& record, std::string& path) override;
  ResultCode RecoverItem(const ScanLogRecord& record, const std::string& destination, int32_t rootSeparators) override;
  // Not used for this engine: returns 0 and changes nothing.
  ResultCode FindFreeRun(uint64_t& sector, uint64_t& sectorCount) override;
  // Stores the callback for the log; 87 when no log is open.
  ResultCode SetSearchProgress(SearchProgressCallback callback) override;
  ResultCode QueryCategory(const std::string& filter, std::vector<ScanLogRecord>& out) override;
  // Not used for this engine: returns 0.
  ResultCode LoadAllocationBitmap() override;
  ResultCode ReadItemData(const ScanLogRecord& record, std::string& tempPath, std::span<uint8_t> buffer, uint32_t& size,
                          ReadProgressCallback progress) override;

  // ---- Entry points of the deep scan ----

  // The size of the MFT record that `sector` (one sector of sectorSize bytes,
  // as read) begins, or 0 when it begins none: "FILE", an allocated size
  // (header 0x1C) of 1, 2 or 4 KiB that holds whole sectors, bytes in use no
  // larger than that, an update sequence array that fits the record's header
  // with one entry per 512 bytes, and the update sequence number in the last
  // two bytes of the first 512. The deep scan hands such a sector, with the
  // sectors after it up to the returned size, to ProcessFoundRecord.
  static uint32_t FoundRecordSize(std::span<const uint8_t> sector, uint32_t sectorSize);

  // Starts the log for a deep scan: forgets the folders of any earlier log and
  // opens the log named `logName` (continuing after the records already in it,
  // for a resumed scan), or, with an empty name, a new log
  // "Pro_Ntfs_<first sector>_<date>" in the current scan folder. Returns the
  // result of opening it; without an open log the other entry points refuse.
  ResultCode StartLog(const std::string& logName);

  // Takes one MFT record found at absolute `sector`. `record` holds at least
  // the record's allocated size (header 0x1C); it is not modified.
  //  pass 0 (the walk; recordNumber unused, pass 0): a directory is passed
  //    over; a "$MFT" record (record 0) makes its MFT known; records 1 to 11
  //    and files below $Extend (NTFS's own files) are passed over; any other
  //    record with a $FILE_NAME becomes a file entry in the log, in use or not,
  //    linked under the folders above it, which are queued for
  //    ProcessPendingFolders.
  //  pass 1 (ProcessPendingFolders): `record` is the record found at `sector`
  //    for the queued folder `recordNumber`; it is written as that folder, or
  //    as "LostFolder<recordNumber>" in the root when it is no longer a
  //    directory with that number.
  // Returns 0 (also for records passed over); -1 when the bytes are not a
  // "FILE" record; 87 when the record's header contradicts itself (bytes in
  // use beyond the record size, a first attribute beyond the bytes in use, an
  // update sequence that does not fit), its attributes are damaged, the
  // record holds fewer bytes than its size, no log is open, pass is neither 0
  // nor 1, or (pass 1) no folder is queued for that record at that sector.
  // Nothing is written to the log for a record refused in pass 0.
  ResultCode ProcessFoundRecord(std::span<const uint8_t> record, uint64_t sector, int32_t pass, uint32_t recordNumber);

  // Writes every queued folder (each once, in the order they were first met)
  // and flushes the log. A folder whose record cannot be read is written as a
  // lost folder and the others still follow. Returns 0, or the first read error.
  ResultCode ProcessPendingFolders();

  // The runs of the first unnamed $DATA of the MFT record at absolute
  // `sector` (the extent in that record, starting at cluster offset 0; an
  // $ATTRIBUTE_LIST is not followed). Returns 0 with the runs appended (none
  // for resident data); -1 when no "FILE" record is there; kNtfsAttributeNotFound
  // when it has no such $DATA extent or is damaged; or the read's error.
  // Runs count clusters of that record's volume (first run relative to 0).
  ResultCode GetMftRunsAt(uint64_t sector, std::vector<MftRun>& runs);

  // The absolute sector where the data of a file found by this engine (or by
  // the fast NTFS engine) begins: PartitionStart + first cluster x
  // ClusterBytes / sector size. kNtfsAttributeNotFound for resident data, no
  // runs or a first run that is sparse; otherwise as GetMftRunsAt.
  ResultCode DataStartSector(const ScanLogRecord& record, uint64_t& sector);

  // ---- State, for tools and tests ----
  uint32_t BytesPerSector() const { return bytesPerSector_; }
  // The sectors per cluster learned so far (guessed from the size at opening).
  int32_t SectorsPerCluster() const { return sectorsPerCluster_; }
  // The MFTs known from "$MFT" records or the boot sector, by ascending sector.
  std::vector<const FoundNtfsVolume*> KnownMfts() const { return volumes_.KnownMfts(); }

 private:
  struct FolderRef {
    uint32_t id = kNtfsRootRecord;
    uint32_t depth = 0;  // depth of the key its contents are linked under
  };
  // What a scan needs to know of a folder's MFT record.
  struct FolderRecordInfo {
    bool directory = false;  // a sound "FILE" record of a directory with that number and a name
    bool inUse = false;
    uint16_t sequence = 0;
    uint32_t parent = 0;
    uint16_t parentSequence = 0;
    uint64_t sector = 0;  // where the record begins
  };
  // A folder of the log.
  struct FolderNode {
    uint32_t id = 0;                    // its ItemId and the low half of its contents' key
    uint32_t volume = 0;                // FoundNtfsVolume::id
    uint32_t record = 0;                // its MFT record number
    bool lost = false;                  // written as "LostFolder<record>" in the root
    bool written = false;               // in the log already
    uint32_t linkId = kNtfsRootRecord;  // the folder it is listed in
    uint32_t depth = 1;                 // depth of its contents' key
    uint64_t sector = 0;                // where its record begins
  };
  using ChunkSink = std::function<ResultCode(std::span<const uint8_t>)>;
  using PercentCallback = std::function<int32_t(int32_t percent)>;

  ResultCode FinishOpen(std::span<const uint8_t> firstBytes);
  ResultCode PrepareRecord(std::span<const uint8_t> bytes, std::vector<uint8_t>& dest, std::span<uint8_t>& record);
  ResultCode ReadRecordAt(uint64_t sector, std::vector<uint8_t>& buffer, std::span<uint8_t>& record);
  void RememberMft(std::span<const uint8_t> record, uint64_t sector);
  void LookForMftRecord(const FoundNtfsVolume& volume);
  ResultCode ProcessFile(std::span<uint8_t> record, uint64_t sector);
  ResultCode ProcessFolderRecord(std::span<const uint8_t> bytes, uint64_t sector, uint32_t recordNumber);
  ResultCode WriteFolderFromRecord(FolderNode& node, std::span<const uint8_t> bytes);
  FolderRef ResolveFolder(const FoundNtfsVolume& volume, uint32_t parent, uint16_t parentSequence, bool& system);
  const FolderRecordInfo& FolderRecord(const FoundNtfsVolume& volume, uint32_t record);
  size_t NodeFor(const FoundNtfsVolume& volume, uint32_t record, bool stale, bool lost, uint64_t sector);
  uint32_t AllocateFolderId(uint32_t preferred);
  void LoadLogFolders();
  void WriteFolder(FolderNode& node, const MftFileSummary* summary);
  uint32_t CheckIntact(const ScanLogRecord& entry, const MftFileSummary& summary, std::span<const uint8_t> record);
  ResultCode ReadItemRecord(const ScanLogRecord& record, NtfsVolumeAccess& access, std::span<uint8_t>& bytes);
  ResultCode CopyItemData(const ScanLogRecord& record, uint64_t maxBytes, const ChunkSink& sink,
                          const PercentCallback& progress, bool& stopped);
  ResultCode WriteFoundFile(const ScanLogRecord& record, const std::string& path);
  ResultCode RecoverFolder(const ScanLogRecord& folder, const std::string& destination);
  uint32_t ClusterBytesFor(uint32_t sectorsPerCluster) const;

  DiskDevice bootDevice_;
  DiskDevice device_;
  ResultCode openResult_ = kInvalidHandle;
  uint64_t partitionFirstSector_ = 0;
  uint64_t partitionSectorCount_ = 0;
  uint16_t sourceId_ = 0;
  uint32_t bytesPerSector_ = 512;
  int32_t sectorsPerCluster_ = 8;
  NtfsFoundVolumes volumes_;

  std::vector<uint8_t> record_;        // the record being taken, repaired
  std::vector<uint8_t> folderRecord_;  // a folder's record
  std::vector<uint8_t> itemRecord_;    // the record of an item being copied
  std::vector<uint8_t> sector_;        // one sector of file data
  std::vector<uint8_t> dataBuffer_;    // file data in pieces of up to 64 KiB
  std::vector<MftRun> runs_;           // runs of the record being taken

  std::vector<FolderNode> nodes_;
  std::unordered_map<uint64_t, size_t> nodeIndex_;                // (volume, stale, record) -> node
  std::unordered_map<uint32_t, size_t> nodeById_;                 // folder id -> node
  std::unordered_map<uint64_t, size_t> folderAtSector_;           // sector of a folder's record -> node
  std::unordered_map<uint64_t, FolderRecordInfo> folderRecords_;  // (volume, record) -> info
  std::unordered_map<uint32_t, uint32_t> logFolders_;             // folders of a continued log: id -> depth
  std::unordered_set<uint32_t> probedVolumes_;                    // volumes whose record 0 was looked for
  std::vector<size_t> pendingFolders_;                            // nodes to write, in order of first sight
  std::vector<std::pair<uint32_t, FolderRecordInfo>> chain_;      // scratch of ResolveFolder
  uint32_t nextFolderId_ = 0xC0000000u;

  std::unique_ptr<CScanLog> log_;
  ProgressCallback progress_;
  FileProgressCallback fileProgress_;
  int32_t scale_ = 0;
  SearchProgressCallback searchProgress_;
};

}  // namespace selvane
