// The formatted-volume engine of FAT (EngineCode 3): rebuilds files and folders
// of a FAT volume whose boot sector, FAT or root directory may be gone, from
// directory sectors found anywhere on the disk. It never reads the FAT.
//
// The deep scan coordinator drives it sector by sector:
//
//   StartFatLog("")  or  StartFatLog(<earlier "Pro_Fat_" log name>)
//   PrepareFatWalk()
//   for each sector s of the walk, in ascending order:
//     if (IsDirectoryStartSector(data))     OnDirectoryStart(data, s);
//     else if (IsFatDirectorySector(data))  OnDirectorySector(data, s);
//   FinishFatWalk()
//
// after which the records are queried, previewed and recovered through the
// IFileRecoveryParse operations. Sectors are absolute on the source and of
// BytesPerSector() bytes (512 for an image, the drive's sector size for a
// partition: the same size the coordinator walks with).
//
// Where clusters lie ("geometry") comes from the boot sector when it is still
// a FAT boot sector, and is learned from pairs of subdirectory starts (a "."
// entry names the directory's own first cluster, so two of them at known
// sectors fix the cluster size and the sector of cluster 2). Files met before
// any geometry fits wait until one does; folders are written at the end, with
// "LostFolder<cluster>" for directories whose own entry was never found. A
// sector that is no subdirectory start is placed by the geometry that placed
// the most subdirectory starts (after a format with other sizes the boot
// sector describes the new volume, not the old directories); until some
// geometry has placed one, such sectors are kept for FinishFatWalk. A file's
// data is read as consecutive clusters from its first cluster.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

#include "engine/fat_directory_scan.h"
#include "engine/fat_directory_sector.h"
#include "engine/fat_geometry.h"
#include "engine/recovery_parse.h"
#include "results/scan_log.h"
#include "storage/disk_device.h"

namespace selvane {

class CProfessionalFatRecovery final : public IFileRecoveryParse {
 public:
  CProfessionalFatRecovery() = default;
  ~CProfessionalFatRecovery() override;
  CProfessionalFatRecovery(const CProfessionalFatRecovery&) = delete;
  CProfessionalFatRecovery& operator=(const CProfessionalFatRecovery&) = delete;

  // --- The walk, in the order the coordinator calls it ---

  // Forgets everything learned by an earlier walk, closes the current log and
  // opens a new one: `logName` when not empty (a resumed scan passes its
  // earlier "Pro_Fat_" log, which is appended to), else a new
  // "Pro_Fat_<partition start>_<time>" log in the current scan folder.
  // Returns the result of opening the log; without a log the walk entry
  // points do nothing.
  ResultCode StartFatLog(const std::string& logName);
  // Reads the volume's first 4,096 bytes; a FAT boot sector there gives the
  // first geometry and the root cluster. 0, or the read's error.
  ResultCode PrepareFatWalk();
  // The boot sector of a FAT partition inside the source, at absolute sector
  // partitionStart (a whole disk walked as one source, its partition table
  // read by the coordinator): its geometry is added to those learned.
  // Call after PrepareFatWalk. Returns 0.
  ResultCode AddPartitionBootSector(std::span<const uint8_t> bootSector, uint64_t partitionStart);
  // The coordinator's two tests, in this order, on one sector.
  static bool IsDirectoryStartSector(std::span<const uint8_t> sector) {
    return selvane::IsDirectoryStartSector(sector);
  }
  static bool IsFatDirectorySector(std::span<const uint8_t> sector) { return selvane::IsFatDirectorySector(sector); }
  // A sector that begins a subdirectory ("." then ".."), at absolute sector s.
  // May learn a geometry and write files that were waiting for one. Returns 0.
  ResultCode OnDirectoryStart(std::span<const uint8_t> sector, uint64_t s);
  // Any other directory-looking sector: the rest of a long name cut off at the
  // end of an earlier sector, a later sector of the cluster being walked, a
  // cluster start under a geometry, or else kept until FinishFatWalk. Returns 0.
  ResultCode OnDirectorySector(std::span<const uint8_t> sector, uint64_t s);
  // Places what the walk kept (sectors, waiting files), writes the folders and
  // lost folders, and flushes the log. Returns 0.
  ResultCode FinishFatWalk();

  // --- IFileRecoveryParse ---

  ResultCode OpenImage(const std::string& imagePath, uint16_t sourceId) override;
  ResultCode OpenPartition(int32_t driveNumber, uint64_t firstSector, uint64_t sectorCount,
                           uint16_t sourceId) override;
  ResultCode SetCallbacks(ProgressCallback progress, FileProgressCallback fileProgress, int32_t scale) override;
  // The coordinator drives the walk; Scan does nothing.
  ResultCode Scan(const std::string&) override { return kSuccess; }
  // Folder keys: (depth, ItemId); without a record the root, the smallest key.
  ResultCode QueryFolder(const ScanLogRecord* folder, uint32_t depth, std::vector<ScanLogRecord>& out) override;
  ResultCode QueryFileCount(const ScanLogRecord* folder, uint32_t depth, uint32_t& count) override;
  uint64_t GetRecordCount() override;
  ResultCode QueryFolderPath(const ScanLogRecord& record, std::string& path) override;
  ResultCode RecoverItem(const ScanLogRecord& record, const std::string& destination, int32_t rootSeparators) override;
  ResultCode FindFreeRun(uint64_t&, uint64_t&) override { return kSuccess; }
  ResultCode SetSearchProgress(SearchProgressCallback callback) override;
  ResultCode QueryCategory(const std::string& filter, std::vector<ScanLogRecord>& out) override;
  ResultCode LoadAllocationBitmap() override { return kSuccess; }
  ResultCode ReadItemData(const ScanLogRecord& record, std::string& tempPath, std::span<uint8_t> buffer,
                          uint32_t& size, ReadProgressCallback progress) override;

  // --- What the walk knows (for the coordinator's reports and for tests) ---

  uint32_t BytesPerSector() const { return bytesPerSector_; }
  const std::vector<FatGeometry>& Geometries() const { return geometries_; }
  bool BootGeometryFound() const { return bootGeometryFound_; }
  uint32_t RootCluster() const { return rootCluster_; }
  size_t PendingFileCount() const;
  size_t KeptSectorCount() const { return keptSectors_.size(); }
  const CScanLog* Log() const { return log_.get(); }

 private:
  using GeometryIndex = uint32_t;

  // A folder entry met in a directory, before its record is written. The
  // record's RecordNumber holds the cluster of the directory it was found in.
  struct FoundFolder {
    ScanLogRecord record;
    std::optional<GeometryIndex> geometry;
    bool entryDeleted = false;
  };
  // A directory met as the folder of a logged file or above one.
  struct Ancestor {
    std::optional<GeometryIndex> geometry;
    uint64_t sector = 0;  // a sector known to lie in it
  };
  // A file found before any geometry placed its directory. RecordNumber holds
  // the directory's cluster; directorySector is that directory's first sector.
  struct PendingFile {
    ScanLogRecord record;
    uint64_t directorySector = 0;
    bool guessHighWord = false;
    bool written = false;
  };
  // The start of a long name cut off at the end of a sector.
  struct NameTail {
    uint8_t checksum = 0;
    std::optional<GeometryIndex> geometry;
    uint32_t cluster = 0;
    uint64_t sector = 0;  // the sector it was cut off at the end of
    std::optional<uint64_t> directorySector;
    std::vector<uint8_t> bytes;  // its entries
  };
  struct ClusterRun {
    GeometryIndex geometry = 0;
    uint32_t cluster = 0;
    uint64_t sector = 0;
  };
  // Which directory a piece of directory bytes belongs to and where its
  // entries lie: below `boundary` in firstSector, from there on in secondSector.
  struct DirectoryPiece {
    std::optional<GeometryIndex> geometry;
    uint32_t cluster = 0;
    std::optional<uint64_t> directorySector;  // first sector of the directory, when known
    size_t boundary = SIZE_MAX;
    uint64_t firstSector = 0;
    uint64_t secondSector = 0;
  };
  // The first sector of a cluster as far as the walk upwards cares.
  struct ClusterHead {
    bool readable = false;
    bool directory = false;  // begins with "." and ".."
    uint32_t parent = 0;     // the cluster ".." names
  };

  ResultCode OpenDevice(uint16_t sourceId);
  ResultCode ReadDeviceSectors(uint64_t sector, uint32_t count, uint8_t* buffer, uint32_t& read) const;
  void ResetWalk();

  bool IsRoot(uint32_t cluster) const { return cluster == 0 || cluster == rootCluster_; }
  uint32_t KeyId(uint32_t cluster) const { return IsRoot(cluster) ? rootCluster_ : cluster; }
  std::optional<GeometryIndex> GeometryFor(uint32_t cluster, uint64_t sector) const;
  std::optional<GeometryIndex> GeometryHolding(uint32_t cluster, uint64_t sector) const;
  std::optional<GeometryIndex> NearestGeometry(uint64_t sector) const;
  // The cluster that begins at a sector under the best-supported geometry;
  // provenOnly leaves out geometries that placed no subdirectory start yet.
  std::optional<ClusterRun> ClusterStart(uint64_t sector, bool provenOnly) const;
  void LearnFrom(uint32_t cluster, uint64_t sector);

  // Parsing directory bytes (scanned into scan_ first).
  void ParseDirectory(std::span<const uint8_t> bytes, const DirectoryPiece& piece);
  void AddFolder(const ScannedFatEntry& scanned, uint32_t directory, std::optional<GeometryIndex> geometry,
                 uint64_t sector);
  void AddFile(const ScannedFatEntry& scanned, uint32_t directory, const DirectoryPiece& piece, uint64_t sector);
  void WriteFile(ScanLogRecord record, bool guessHighWord, uint32_t directory, GeometryIndex geometry);
  void EnterAncestors(uint32_t directory, std::optional<GeometryIndex> geometry, uint64_t sector);
  // A name tail that the sector continues, or nameTails_.end().
  std::vector<NameTail>::iterator FindTail(std::span<const uint8_t> sector, uint64_t s);
  void ParseWithTail(std::vector<NameTail>::iterator tail, std::span<const uint8_t> sector, uint64_t s);
  void ParseKeptSector(uint64_t s, std::span<const uint8_t> bytes, std::optional<ClusterRun>& lastPlaced);

  // Pending files.
  // Writes the waiting files whose directory start a geometry (from `from`
  // on) puts exactly where it was found.
  void PlacePendingExactly(GeometryIndex from);
  void PlacePendingNearest();
  void WritePending(PendingFile& pending, GeometryIndex geometry);
  void DropWrittenPending();
  void WriteFolders();

  // Reads under a geometry.
  ClusterHead HeadOf(uint32_t cluster, GeometryIndex geometry);
  uint32_t Depth(uint32_t cluster, GeometryIndex geometry);
  bool ReadSector(uint64_t sector);  // into sectorBuffer_
  uint32_t GuessDirectoryCluster(uint16_t low, GeometryIndex geometry);
  uint32_t GuessFileCluster(uint16_t low, std::string_view extension, GeometryIndex geometry);
  uint32_t CheckIntact(const ScanLogRecord& record, GeometryIndex geometry);
  void FillGeometry(ScanLogRecord& record, GeometryIndex geometry) const;

  // Reading found files.
  using ChunkSink = std::function<ResultCode(const uint8_t* data, size_t length)>;
  ResultCode ReadFileData(const ScanLogRecord& record, const ChunkSink& sink,
                          const std::function<int32_t(uint64_t done)>& progress, uint64_t limit, bool& stopped);
  ResultCode CopyFile(const ScanLogRecord& record, const std::string& path, bool& stopped);
  ResultCode RecoverFolder(const ScanLogRecord& record, const std::string& destination);
  FolderKey ContentsKey(const ScanLogRecord& folder, uint32_t expectedDepth) const;
  int32_t ReportFile(int32_t percent, ResultCode error, const std::string& path);

  // Source.
  bool open_ = false;
  ResultCode openResult_ = kInvalidHandle;
  DiskDevice device_;
  int32_t driveNumber_ = -1;
  uint64_t partitionStart_ = 0;
  uint64_t sectorCount_ = 0;
  uint16_t sourceId_ = 0;
  uint32_t bytesPerSector_ = 512;

  // Callbacks.
  ProgressCallback progress_;
  FileProgressCallback fileProgress_;
  int32_t scale_ = 100;
  SearchProgressCallback searchProgress_;

  std::unique_ptr<CScanLog> log_;

  // The walk.
  std::vector<FatGeometry> geometries_;
  std::vector<uint32_t> geometryVotes_;  // subdirectory starts each geometry placed
  bool bootGeometryFound_ = false;
  uint32_t rootCluster_ = 2;
  std::vector<std::pair<uint32_t, uint64_t>> observations_;  // (cluster, sector) of unplaced subdirectory starts
  std::map<uint32_t, FoundFolder> folderTable_;
  std::map<uint32_t, Ancestor> ancestorTable_;
  std::vector<PendingFile> pendingFiles_;
  std::map<uint64_t, std::vector<uint8_t>> keptSectors_;
  std::vector<NameTail> nameTails_;
  std::optional<ClusterRun> currentRun_;
  std::vector<uint32_t> writtenFolders_;  // folders of a reopened log, sorted

  // Caches of reads under a geometry, by (geometry << 32 | cluster).
  std::unordered_map<uint64_t, ClusterHead> heads_;
  std::unordered_map<uint64_t, uint32_t> depths_;

  // Scratch.
  FatDirectoryScan scan_;
  std::vector<uint8_t> joined_;
  std::vector<uint8_t> sectorBuffer_;
  std::vector<uint32_t> visited_;       // of EnterAncestors
  std::vector<uint32_t> depthVisited_;  // of Depth
};

}  // namespace selvane
