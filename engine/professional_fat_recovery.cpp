#include "engine/professional_fat_recovery.h"

#include <algorithm>
#include <cstdio>

#include "engine/fast_fat_recovery.h"  // kMaxClusterBytes
#include "engine/fat_time.h"
#include "engine/signatures/content_match.h"
#include "platform/text.h"
#include "platform/user_folders.h"
#include "recovery/output_files.h"
#include "results/categories.h"

namespace selvane {
namespace {

constexpr uint32_t kBootProbeBytes = 4096;
constexpr uint32_t kHighWordGuesses = 256;
// Folder levels followed upwards at most; deeper chains are damage (or a loop).
constexpr size_t kMaxFolderDepth = 1024;
// A cut long name has at most this many entries (LongNameRun::kMaxParts).
constexpr size_t kMaxTailBytes = LongNameRun::kMaxParts * kFatEntrySize;

uint64_t CacheKey(uint32_t geometry, uint32_t cluster) { return (uint64_t{geometry} << 32) | cluster; }

uint32_t EntryCluster(const FatDirectoryEntry& entry) {
  return (uint32_t{entry.clusterHigh} << 16) | entry.clusterLow;
}

// Fields every record of this engine carries from its directory entry.
ScanLogRecord RecordFromEntry(const ScannedFatEntry& scanned, uint16_t sourceId, uint64_t sector) {
  const FatDirectoryEntry& e = scanned.entry;
  ScanLogRecord r;
  r.VolumeLetter = sourceId;
  r.EngineCode = kEngineProFat;
  r.IsFolder = e.IsDirectory() ? 1 : 0;
  r.FolderDeleted = e.IsDirectory() && e.IsDeleted() ? 1 : 0;
  r.Intact = 1;
  r.ItemId = EntryCluster(e);
  r.CreationTime = FatCreationTimeToFileTime(e.creationDate, e.creationTime, e.creationHundredths);
  r.AccessTime = FatDateTimeToFileTime(e.accessDate, 0);
  r.WriteTime = FatDateTimeToFileTime(e.writeDate, e.writeTime);
  r.FileSize = e.IsDirectory() ? 0 : e.size;
  r.LocationSector = sector;
  r.SetName(scanned.name);
  return r;
}

}  // namespace

CProfessionalFatRecovery::~CProfessionalFatRecovery() {
  if (log_) log_->CloseLog();
}

// ---------------------------------------------------------------------------
// Opening

ResultCode CProfessionalFatRecovery::OpenImage(const std::string& imagePath, uint16_t sourceId) {
  if (open_) return kSuccess;
  openResult_ = OpenImageFile(imagePath, device_);
  if (openResult_ != kSuccess) return openResult_;
  bytesPerSector_ = 512;
  driveNumber_ = -1;
  partitionStart_ = 0;
  sectorCount_ = device_.totalSectors;
  return OpenDevice(sourceId);
}

ResultCode CProfessionalFatRecovery::OpenPartition(int32_t driveNumber, uint64_t firstSector, uint64_t sectorCount,
                                                   uint16_t sourceId) {
  if (open_) return kSuccess;
  openResult_ = OpenPhysicalDrive(driveNumber, device_);
  if (openResult_ != kSuccess) return openResult_;
  bytesPerSector_ = GetDriveSectorSize(device_);
  driveNumber_ = driveNumber;
  partitionStart_ = firstSector;
  // Directories of a lost volume may lie anywhere on the drive.
  sectorCount_ = device_.totalSectors != 0 ? device_.totalSectors : sectorCount;
  return OpenDevice(sourceId);
}

ResultCode CProfessionalFatRecovery::OpenDevice(uint16_t sourceId) {
  sourceId_ = sourceId;
  sectorBuffer_.assign(bytesPerSector_, 0);
  open_ = true;
  openResult_ = kSuccess;
  return kSuccess;
}

ResultCode CProfessionalFatRecovery::ReadDeviceSectors(uint64_t sector, uint32_t count, uint8_t* buffer,
                                                       uint32_t& read) const {
  read = 0;
  if (!open_) return openResult_ != kSuccess ? openResult_ : kInvalidHandle;
  return ReadSectors(static_cast<int32_t>(count), device_, buffer, sector, bytesPerSector_, read);
}

ResultCode CProfessionalFatRecovery::SetCallbacks(ProgressCallback progress, FileProgressCallback fileProgress,
                                                  int32_t scale) {
  progress_ = std::move(progress);
  fileProgress_ = std::move(fileProgress);
  scale_ = scale;
  return kSuccess;
}

ResultCode CProfessionalFatRecovery::SetSearchProgress(SearchProgressCallback callback) {
  searchProgress_ = std::move(callback);
  if (!log_) return kInvalidParameter;
  log_->SetQueryProgress(searchProgress_);
  return kSuccess;
}

// ---------------------------------------------------------------------------
// Starting the walk

void CProfessionalFatRecovery::ResetWalk() {
  geometries_.clear();
  geometryVotes_.clear();
  bootGeometryFound_ = false;
  rootCluster_ = 2;
  observations_.clear();
  folderTable_.clear();
  ancestorTable_.clear();
  pendingFiles_.clear();
  keptSectors_.clear();
  nameTails_.clear();
  currentRun_.reset();
  writtenFolders_.clear();
  heads_.clear();
  depths_.clear();
}

ResultCode CProfessionalFatRecovery::StartFatLog(const std::string& logName) {
  ResetWalk();
  if (log_) log_->CloseLog();
  log_ = std::make_unique<CScanLog>();
  log_->SetQueryProgress(searchProgress_);
  const std::string name =
      logName.empty() ? MakeLogName(kProFatLogPrefix, static_cast<int64_t>(partitionStart_)) : logName;
  const ResultCode rc = log_->OpenLog(name);
  if (rc != kSuccess) {
    log_.reset();
    return rc;
  }
  // A reopened log already holds the folders its earlier walk wrote.
  for (const DirInfoEntry& entry : log_->FolderIndex()) writtenFolders_.push_back(entry.folderId);
  std::sort(writtenFolders_.begin(), writtenFolders_.end());
  return kSuccess;
}

ResultCode CProfessionalFatRecovery::PrepareFatWalk() {
  const uint32_t count = std::max<uint32_t>(1, kBootProbeBytes / bytesPerSector_);
  std::vector<uint8_t> boot(size_t{count} * bytesPerSector_);
  uint32_t read = 0;
  const ResultCode rc = ReadDeviceSectors(partitionStart_, count, boot.data(), read);
  if (rc != kSuccess) return rc;
  const std::optional<BootGeometry> found = GeometryFromBootSector(boot, bytesPerSector_, partitionStart_);
  if (!found) return kSuccess;
  geometries_.push_back(found->geometry);
  geometryVotes_.push_back(0);
  rootCluster_ = found->rootCluster;
  bootGeometryFound_ = true;
  return kSuccess;
}

ResultCode CProfessionalFatRecovery::AddPartitionBootSector(std::span<const uint8_t> bootSector,
                                                            uint64_t partitionStart) {
  const std::optional<BootGeometry> found = GeometryFromBootSector(bootSector, bytesPerSector_, partitionStart);
  if (!found || std::find(geometries_.begin(), geometries_.end(), found->geometry) != geometries_.end())
    return kSuccess;
  geometries_.push_back(found->geometry);
  geometryVotes_.push_back(0);
  return kSuccess;
}

// ---------------------------------------------------------------------------
// Geometries

std::optional<CProfessionalFatRecovery::GeometryIndex> CProfessionalFatRecovery::GeometryFor(uint32_t cluster,
                                                                                             uint64_t sector) const {
  for (GeometryIndex i = 0; i < geometries_.size(); ++i) {
    const std::optional<uint64_t> first = geometries_[i].ClusterSector(cluster);
    if (first && *first == sector) return i;
  }
  return std::nullopt;
}

std::optional<CProfessionalFatRecovery::GeometryIndex> CProfessionalFatRecovery::GeometryHolding(
    uint32_t cluster, uint64_t sector) const {
  for (GeometryIndex i = 0; i < geometries_.size(); ++i)
    if (geometries_[i].ClusterHolds(cluster, sector)) return i;
  return std::nullopt;
}

std::optional<CProfessionalFatRecovery::GeometryIndex> CProfessionalFatRecovery::NearestGeometry(
    uint64_t sector) const {
  if (geometries_.empty()) return std::nullopt;
  // After a format the boot sector describes the new volume, not the old one
  // whose directories were learned.
  const GeometryIndex from = bootGeometryFound_ && geometries_.size() >= 2 ? 1 : 0;
  std::optional<GeometryIndex> best;
  for (GeometryIndex i = from; i < geometries_.size(); ++i) {
    const uint64_t start = geometries_[i].DataStart();
    if (start <= sector && (!best || start > geometries_[*best].DataStart())) best = i;
  }
  return best ? best : GeometryIndex{0};
}

std::optional<CProfessionalFatRecovery::ClusterRun> CProfessionalFatRecovery::ClusterStart(uint64_t sector,
                                                                                          bool provenOnly) const {
  // Of the geometries under which the sector begins a cluster, the one that
  // placed the most subdirectory starts: after a format with other sizes the
  // boot sector describes the new volume, while the old directories vote for
  // the geometry learned from them.
  std::optional<ClusterRun> best;
  for (GeometryIndex i = 0; i < geometries_.size(); ++i) {
    if (provenOnly && geometryVotes_[i] == 0) continue;
    if (best && geometryVotes_[i] <= geometryVotes_[best->geometry]) continue;
    if (std::optional<uint32_t> cluster = geometries_[i].ClusterStartingAt(sector))
      best = ClusterRun{i, *cluster, sector};
  }
  return best;
}

void CProfessionalFatRecovery::LearnFrom(uint32_t cluster, uint64_t sector) {
  for (const auto& [otherCluster, otherSector] : observations_) {
    if (std::optional<FatGeometry> g = LearnGeometry(cluster, sector, otherCluster, otherSector, partitionStart_)) {
      geometries_.push_back(*g);
      geometryVotes_.push_back(1);  // the earlier subdirectory start it places
      break;
    }
  }
  observations_.emplace_back(cluster, sector);
}

// ---------------------------------------------------------------------------
// The sectors of the walk

ResultCode CProfessionalFatRecovery::OnDirectoryStart(std::span<const uint8_t> sector, uint64_t s) {
  if (!log_) return kSuccess;
  const ByteReader reader(sector);
  if (!reader.Fits(0, 2 * kFatEntrySize)) return kSuccess;
  const uint32_t cluster = EntryCluster(ParseDirectoryEntry(reader, 0));
  if (cluster < 2) return OnDirectorySector(sector, s);  // a "." that names no data cluster

  std::optional<GeometryIndex> geometry = GeometryFor(cluster, s);
  if (!geometry) {
    const size_t known = geometries_.size();
    LearnFrom(cluster, s);
    geometry = GeometryFor(cluster, s);
    // Waiting files fit none of the geometries known when they were found.
    if (geometries_.size() > known) PlacePendingExactly(static_cast<GeometryIndex>(known));
  }
  if (geometry) {
    ++geometryVotes_[*geometry];
    currentRun_ = ClusterRun{*geometry, cluster, s};
  } else {
    currentRun_.reset();
  }

  DirectoryPiece piece;
  piece.geometry = geometry;
  piece.cluster = cluster;
  piece.directorySector = s;
  piece.firstSector = s;
  std::span<const uint8_t> bytes = sector;
  ScanDirectoryBytes(bytes, scan_);
  if (scan_.end == FatScanEnd::CutName) {
    // A sector kept earlier may hold the rest of the name.
    const uint8_t checksum = scan_.cutChecksum;
    for (auto it = keptSectors_.begin(); it != keptSectors_.end(); ++it) {
      const ByteReader kept(it->second);
      if (!kept.Fits(0, kFatEntrySize)) continue;
      const uint8_t first = kept.U8(0);
      bool continues = false;
      if (kept.U8(11) == kAttrLongName) {
        continues = kept.U8(13) == checksum && (!geometry || geometries_[*geometry].ClusterHolds(cluster, it->first));
      } else if (first != 0 && first != kFatDeletedMark) {
        continues = ShortNameChecksum(kept.Span(0, 11)) == checksum;
      }
      if (!continues) continue;
      joined_.assign(sector.begin(), sector.end());
      joined_.insert(joined_.end(), it->second.begin(), it->second.end());
      piece.boundary = sector.size();
      piece.secondSector = it->first;
      keptSectors_.erase(it);
      bytes = joined_;
      ScanDirectoryBytes(bytes, scan_);
      break;
    }
  }
  ParseDirectory(bytes, piece);
  return kSuccess;
}

ResultCode CProfessionalFatRecovery::OnDirectorySector(std::span<const uint8_t> sector, uint64_t s) {
  if (!log_) return kSuccess;
  if (auto tail = FindTail(sector, s); tail != nameTails_.end()) {
    ParseWithTail(tail, sector, s);
    return kSuccess;
  }
  DirectoryPiece piece;
  piece.firstSector = s;
  if (currentRun_ && s > currentRun_->sector &&
      geometries_[currentRun_->geometry].ClusterHolds(currentRun_->cluster, s)) {
    piece.geometry = currentRun_->geometry;
    piece.cluster = currentRun_->cluster;
  } else if (std::optional<ClusterRun> start = ClusterStart(s, /*provenOnly=*/true)) {
    currentRun_ = start;
    piece.geometry = start->geometry;
    piece.cluster = start->cluster;
  }
  if (!piece.geometry) {
    keptSectors_.insert_or_assign(s, std::vector<uint8_t>(sector.begin(), sector.end()));
    return kSuccess;
  }
  ScanDirectoryBytes(sector, scan_);
  ParseDirectory(sector, piece);
  return kSuccess;
}

std::vector<CProfessionalFatRecovery::NameTail>::iterator CProfessionalFatRecovery::FindTail(
    std::span<const uint8_t> sector, uint64_t s) {
  const ByteReader reader(sector);
  if (nameTails_.empty() || !reader.Fits(0, kFatEntrySize)) return nameTails_.end();
  const uint8_t first = reader.U8(0);
  const bool longName = reader.U8(11) == kAttrLongName;
  const uint8_t checksum = longName ? reader.U8(13) : ShortNameChecksum(reader.Span(0, 11));
  return std::find_if(nameTails_.begin(), nameTails_.end(), [&](const NameTail& tail) {
    if (longName) return checksum == tail.checksum;
    if (first == kFatDeletedMark) {
      // A deleted 8.3 entry lost its name's first byte: only nearness tells
      // (within the tail's cluster, or the very next sector).
      const uint32_t span = tail.geometry ? geometries_[*tail.geometry].sectorsPerCluster : 1;
      return s > tail.sector && s - tail.sector <= span;
    }
    return first != 0 && checksum == tail.checksum;
  });
}

void CProfessionalFatRecovery::ParseWithTail(std::vector<NameTail>::iterator tail, std::span<const uint8_t> sector,
                                             uint64_t s) {
  NameTail taken = std::move(*tail);
  nameTails_.erase(tail);
  DirectoryPiece piece;
  piece.geometry = taken.geometry;
  piece.cluster = taken.cluster;
  piece.directorySector = taken.directorySector;
  if (!piece.geometry && taken.directorySector) piece.geometry = GeometryFor(taken.cluster, *taken.directorySector);
  piece.boundary = taken.bytes.size();
  piece.firstSector = taken.sector;
  piece.secondSector = s;
  if (piece.geometry && geometries_[*piece.geometry].ClusterHolds(taken.cluster, s)) {
    if (std::optional<uint64_t> first = geometries_[*piece.geometry].ClusterSector(taken.cluster))
      currentRun_ = ClusterRun{*piece.geometry, taken.cluster, *first};
  }
  joined_ = std::move(taken.bytes);
  joined_.insert(joined_.end(), sector.begin(), sector.end());
  ScanDirectoryBytes(joined_, scan_);
  ParseDirectory(joined_, piece);
}

// ---------------------------------------------------------------------------
// Parsing directory bytes

void CProfessionalFatRecovery::ParseDirectory(std::span<const uint8_t> bytes, const DirectoryPiece& piece) {
  uint32_t directory = piece.cluster;
  for (const ScannedFatEntry& scanned : scan_.entries) {
    const uint64_t sector = scanned.offset < piece.boundary ? piece.firstSector : piece.secondSector;
    const FatDirectoryEntry& entry = scanned.entry;
    if (entry.IsDirectory()) {
      if (entry.IsDotEntry()) {
        if (EntryCluster(entry) >= 2) directory = EntryCluster(entry);
      } else if (!entry.IsDotDotEntry()) {
        AddFolder(scanned, directory, piece.geometry, sector);
      }
    } else if (entry.IsArchive()) {
      AddFile(scanned, directory, piece, sector);
    }
  }
  if (scan_.end != FatScanEnd::CutName) return;
  NameTail tail;
  tail.checksum = scan_.cutChecksum;
  tail.geometry = piece.geometry;
  tail.cluster = directory;
  tail.sector = bytes.size() > piece.boundary ? piece.secondSector : piece.firstSector;
  tail.directorySector = piece.directorySector;
  const size_t length = std::min(bytes.size() - scan_.cutOffset, kMaxTailBytes);
  tail.bytes.assign(bytes.end() - static_cast<ptrdiff_t>(length), bytes.end());
  nameTails_.push_back(std::move(tail));
}

void CProfessionalFatRecovery::AddFolder(const ScannedFatEntry& scanned, uint32_t directory,
                                         std::optional<GeometryIndex> geometry, uint64_t sector) {
  const FatDirectoryEntry& entry = scanned.entry;
  uint32_t cluster = EntryCluster(entry);
  if (geometry && entry.IsDeleted() && entry.clusterHigh == 0) cluster = GuessDirectoryCluster(entry.clusterLow, *geometry);
  if (cluster < 2 || cluster == directory) return;

  auto existing = folderTable_.find(cluster);
  // A deleted entry never displaces a live one that names the same cluster.
  if (existing != folderTable_.end() && !existing->second.entryDeleted && entry.IsDeleted()) return;
  FoundFolder folder;
  folder.record = RecordFromEntry(scanned, sourceId_, sector);
  folder.record.ItemId = cluster;
  folder.record.RecordNumber = directory;
  folder.geometry = geometry;
  folder.entryDeleted = entry.IsDeleted();
  if (geometry) FillGeometry(folder.record, *geometry);
  folderTable_.insert_or_assign(cluster, std::move(folder));
}

void CProfessionalFatRecovery::AddFile(const ScannedFatEntry& scanned, uint32_t directory, const DirectoryPiece& piece,
                                       uint64_t sector) {
  const FatDirectoryEntry& entry = scanned.entry;
  ScanLogRecord record = RecordFromEntry(scanned, sourceId_, sector);
  const bool guessHighWord =
      entry.IsDeleted() && entry.clusterHigh == 0 && entry.size != 0 && !ExtensionOf(scanned.name).empty();
  if (piece.geometry) {
    WriteFile(record, guessHighWord, directory, *piece.geometry);
  } else if (piece.directorySector) {
    record.RecordNumber = directory;
    pendingFiles_.push_back(PendingFile{record, *piece.directorySector, guessHighWord, false});
  }
  EnterAncestors(directory, piece.geometry, sector);
}

void CProfessionalFatRecovery::FillGeometry(ScanLogRecord& record, GeometryIndex geometry) const {
  const FatGeometry& g = geometries_[geometry];
  record.ClusterBytes = bytesPerSector_ * g.sectorsPerCluster;
  record.DataAreaSector = g.dataAreaSector;
  record.PartitionStart = g.partitionStart;
}

void CProfessionalFatRecovery::WriteFile(ScanLogRecord record, bool guessHighWord, uint32_t directory,
                                         GeometryIndex geometry) {
  if (guessHighWord)
    record.ItemId = GuessFileCluster(static_cast<uint16_t>(record.ItemId), ExtensionOf(record.NameView()), geometry);
  FillGeometry(record, geometry);
  record.IsFolder = 0;
  record.Intact = CheckIntact(record, geometry);
  const FolderKey parent = MakeFolderKey(Depth(directory, geometry), KeyId(directory));
  ScanLogRecord& slot = log_->NewRecord();
  record.RecordNumber = slot.RecordNumber;
  slot = record;
  log_->LinkRecord(parent, record.RecordNumber, record.ItemId, nullptr);
}

void CProfessionalFatRecovery::EnterAncestors(uint32_t directory, std::optional<GeometryIndex> geometry,
                                              uint64_t sector) {
  visited_.clear();
  uint32_t cluster = directory;
  for (size_t step = 0; step < kMaxFolderDepth; ++step) {
    if (cluster < 2 || IsRoot(cluster)) return;
    if (std::find(visited_.begin(), visited_.end(), cluster) != visited_.end()) return;
    visited_.push_back(cluster);
    auto [it, added] = ancestorTable_.try_emplace(cluster, Ancestor{geometry, sector});
    if (!added && !it->second.geometry && geometry) it->second = Ancestor{geometry, sector};

    uint32_t parent = 0;
    if (auto folder = folderTable_.find(cluster); folder != folderTable_.end()) {
      parent = folder->second.record.RecordNumber;
      if (folder->second.geometry) geometry = folder->second.geometry;
      sector = folder->second.record.LocationSector;
    } else {
      if (!geometry) return;
      const ClusterHead head = HeadOf(cluster, *geometry);
      if (!head.readable || !head.directory) return;
      parent = head.parent;
      sector = geometries_[*geometry].ClusterSector(parent).value_or(sector);
    }
    if (parent == cluster) return;
    cluster = parent;
  }
}

// ---------------------------------------------------------------------------
// Reads under a geometry

bool CProfessionalFatRecovery::ReadSector(uint64_t sector) {
  uint32_t read = 0;
  return ReadDeviceSectors(sector, 1, sectorBuffer_.data(), read) == kSuccess && read == 1;
}

CProfessionalFatRecovery::ClusterHead CProfessionalFatRecovery::HeadOf(uint32_t cluster, GeometryIndex geometry) {
  auto [it, added] = heads_.try_emplace(CacheKey(geometry, cluster));
  if (!added) return it->second;
  ClusterHead& head = it->second;
  const std::optional<uint64_t> sector = geometries_[geometry].ClusterSector(cluster);
  if (!sector || !ReadSector(*sector)) return head;
  head.readable = true;
  head.directory = selvane::IsDirectoryStartSector(sectorBuffer_);
  if (head.directory) head.parent = EntryCluster(ParseDirectoryEntry(ByteReader(sectorBuffer_), kFatEntrySize));
  return head;
}

uint32_t CProfessionalFatRecovery::Depth(uint32_t cluster, GeometryIndex geometry) {
  if (IsRoot(cluster)) return 0;
  const uint64_t key = CacheKey(geometry, cluster);
  if (auto cached = depths_.find(key); cached != depths_.end()) return cached->second;
  // Each level up adds one; a directory whose first cluster no longer starts
  // with "." and ".." is counted as one level below the root.
  uint32_t depth = 0;
  depthVisited_.clear();
  uint32_t current = cluster;
  while (!IsRoot(current) && depth < kMaxFolderDepth) {
    if (std::find(depthVisited_.begin(), depthVisited_.end(), current) != depthVisited_.end()) break;
    depthVisited_.push_back(current);
    ++depth;
    const ClusterHead head = HeadOf(current, geometry);
    if (!head.readable || !head.directory || head.parent == current) break;
    current = head.parent;
  }
  depths_.emplace(key, depth);
  return depth;
}

uint32_t CProfessionalFatRecovery::GuessDirectoryCluster(uint16_t low, GeometryIndex geometry) {
  for (uint32_t high = 0; high <= kHighWordGuesses; ++high) {
    const uint32_t candidate = (high << 16) | low;
    if (candidate < 2) continue;
    const std::optional<uint64_t> sector = geometries_[geometry].ClusterSector(candidate);
    if (!sector || *sector >= device_.totalSectors) break;
    const ClusterHead head = HeadOf(candidate, geometry);
    if (!head.readable) break;
    if (head.directory) return candidate;
  }
  return low;
}

uint32_t CProfessionalFatRecovery::GuessFileCluster(uint16_t low, std::string_view extension,
                                                    GeometryIndex geometry) {
  for (uint32_t high = 0; high <= kHighWordGuesses; ++high) {
    const uint32_t candidate = (high << 16) | low;
    if (candidate < 2) continue;
    const std::optional<uint64_t> sector = geometries_[geometry].ClusterSector(candidate);
    if (!sector || *sector >= device_.totalSectors || !ReadSector(*sector)) break;
    if (ContentMatchesExtension(sectorBuffer_, extension, device_, bytesPerSector_, *sector)) return candidate;
  }
  return low;
}

uint32_t CProfessionalFatRecovery::CheckIntact(const ScanLogRecord& record, GeometryIndex geometry) {
  const std::string_view extension = ExtensionOf(record.NameView());
  if (extension.empty() || record.FileSize == 0) return 1;
  if (record.ItemId < 2) return 0;  // no data cluster to read it from
  const std::optional<uint64_t> sector = geometries_[geometry].ClusterSector(record.ItemId);
  if (!sector || !ReadSector(*sector)) return 1;
  return ContentMatchesExtension(sectorBuffer_, extension, device_, bytesPerSector_, *sector) ? 1 : 0;
}

// ---------------------------------------------------------------------------
// Files that waited for a geometry

size_t CProfessionalFatRecovery::PendingFileCount() const {
  return static_cast<size_t>(
      std::count_if(pendingFiles_.begin(), pendingFiles_.end(), [](const PendingFile& p) { return !p.written; }));
}

void CProfessionalFatRecovery::WritePending(PendingFile& pending, GeometryIndex geometry) {
  const uint32_t directory = pending.record.RecordNumber;
  WriteFile(pending.record, pending.guessHighWord, directory, geometry);
  // Its folders above can be followed now that a geometry is known.
  EnterAncestors(directory, geometry, pending.record.LocationSector);
  pending.written = true;
}

void CProfessionalFatRecovery::DropWrittenPending() {
  std::erase_if(pendingFiles_, [](const PendingFile& p) { return p.written; });
}

void CProfessionalFatRecovery::PlacePendingExactly(GeometryIndex from) {
  if (pendingFiles_.empty()) return;
  for (GeometryIndex g = from; g < geometries_.size(); ++g) {
    for (PendingFile& pending : pendingFiles_) {
      if (pending.written) continue;
      const std::optional<uint64_t> first = geometries_[g].ClusterSector(pending.record.RecordNumber);
      if (first && *first == pending.directorySector) WritePending(pending, g);
    }
  }
  DropWrittenPending();
}

void CProfessionalFatRecovery::PlacePendingNearest() {
  for (PendingFile& pending : pendingFiles_) {
    if (pending.written) continue;
    if (std::optional<GeometryIndex> g = NearestGeometry(pending.record.LocationSector)) WritePending(pending, *g);
  }
  DropWrittenPending();
}

// ---------------------------------------------------------------------------
// Finishing

void CProfessionalFatRecovery::ParseKeptSector(uint64_t s, std::span<const uint8_t> bytes,
                                               std::optional<ClusterRun>& lastPlaced) {
  if (auto tail = FindTail(bytes, s); tail != nameTails_.end()) {
    ParseWithTail(tail, bytes, s);
    return;
  }
  DirectoryPiece piece;
  piece.firstSector = s;
  if (std::optional<ClusterRun> start = ClusterStart(s, /*provenOnly=*/false)) {
    lastPlaced = start;
    piece.geometry = start->geometry;
    piece.cluster = start->cluster;
  }
  if (!piece.geometry && lastPlaced &&
      geometries_[lastPlaced->geometry].ClusterHolds(lastPlaced->cluster, s)) {
    piece.geometry = lastPlaced->geometry;
    piece.cluster = lastPlaced->cluster;
  }
  if (!piece.geometry) {
    const std::optional<GeometryIndex> nearest = NearestGeometry(s);
    if (!nearest) return;
    const std::optional<uint32_t> cluster = geometries_[*nearest].ClusterContaining(s);
    if (!cluster) return;
    piece.geometry = nearest;
    piece.cluster = *cluster;
  }
  ScanDirectoryBytes(bytes, scan_);
  ParseDirectory(bytes, piece);
}

ResultCode CProfessionalFatRecovery::FinishFatWalk() {
  if (!log_) return kSuccess;
  std::map<uint64_t, std::vector<uint8_t>> kept;
  kept.swap(keptSectors_);
  if (!geometries_.empty()) {
    std::optional<ClusterRun> lastPlaced;
    for (const auto& [s, bytes] : kept) ParseKeptSector(s, bytes, lastPlaced);
  }
  kept.clear();
  nameTails_.clear();
  currentRun_.reset();

  // Files first: placing them enters the folders above them.
  PlacePendingExactly(0);
  PlacePendingNearest();
  WriteFolders();
  folderTable_.clear();
  ancestorTable_.clear();
  log_->FlushLog();
  return kSuccess;
}

void CProfessionalFatRecovery::WriteFolders() {
  // Folder entries found after their files may lead further up than the walks
  // made when those files were logged: complete the chains first.
  std::vector<std::pair<uint32_t, Ancestor>> entered(ancestorTable_.begin(), ancestorTable_.end());
  for (const auto& [cluster, ancestor] : entered) EnterAncestors(cluster, ancestor.geometry, ancestor.sector);

  for (const auto& [cluster, ancestor] : ancestorTable_) {
    if (std::binary_search(writtenFolders_.begin(), writtenFolders_.end(), cluster)) continue;
    ScanLogRecord record;
    uint32_t parent = rootCluster_;
    std::optional<GeometryIndex> geometry;
    std::string name;
    if (auto found = folderTable_.find(cluster); found != folderTable_.end()) {
      record = found->second.record;
      parent = record.RecordNumber;
      geometry = found->second.geometry;
      if (!geometry) geometry = GeometryHolding(parent, record.LocationSector);
      if (!geometry) continue;
      name = std::string(record.NameView());
    } else {
      geometry = ancestor.geometry;
      if (!geometry) geometry = GeometryHolding(cluster, ancestor.sector);
      if (!geometry) continue;
      const ClusterHead head = HeadOf(cluster, *geometry);
      if (head.readable && head.directory && head.parent != cluster) parent = head.parent;
      record.VolumeLetter = sourceId_;
      record.EngineCode = kEngineProFat;
      record.ItemId = cluster;
      record.LocationSector = geometries_[*geometry].ClusterSector(cluster).value_or(ancestor.sector);
      char text[32];
      std::snprintf(text, sizeof text, "LostFolder%u", cluster);
      name = text;
      record.SetName(name);
    }
    FillGeometry(record, *geometry);
    record.IsFolder = 1;
    record.Intact = 1;
    record.FileSize = 0;
    const FolderKey key = MakeFolderKey(Depth(parent, *geometry), KeyId(parent));
    ScanLogRecord& slot = log_->NewRecord();
    record.RecordNumber = slot.RecordNumber;
    slot = record;
    log_->LinkRecord(key, record.RecordNumber, cluster, name.c_str());
  }
}

// ---------------------------------------------------------------------------
// Queries

ResultCode CProfessionalFatRecovery::QueryFolder(const ScanLogRecord* folder, uint32_t depth,
                                                 std::vector<ScanLogRecord>& out) {
  if (!folder && depth != 0) return kInvalidParameter;
  if (!log_) return kSuccess;
  log_->FlushLog();
  return log_->ListFolder(MakeFolderKey(depth, folder ? folder->ItemId : 0), out);
}

ResultCode CProfessionalFatRecovery::QueryFileCount(const ScanLogRecord* folder, uint32_t depth, uint32_t& count) {
  count = 0;
  if (!folder && depth != 0) return kInvalidParameter;
  if (!log_) return kSuccess;
  log_->FlushLog();
  return log_->CountFilesBelow(MakeFolderKey(depth, folder ? folder->ItemId : 0), count);
}

uint64_t CProfessionalFatRecovery::GetRecordCount() { return log_ ? log_->RecordCount() : 0; }

ResultCode CProfessionalFatRecovery::QueryFolderPath(const ScanLogRecord& record, std::string& path) {
  path.clear();
  if (!log_) return kInvalidParameter;
  return log_->GetFolderPath(record, path);
}

ResultCode CProfessionalFatRecovery::QueryCategory(const std::string& filter, std::vector<ScanLogRecord>& out) {
  return log_ ? log_->ListCategory(filter, out) : kSuccess;
}

// ---------------------------------------------------------------------------
// Reading found files

ResultCode CProfessionalFatRecovery::ReadFileData(const ScanLogRecord& record, const ChunkSink& sink,
                                                  const std::function<int32_t(uint64_t)>& progress, uint64_t limit,
                                                  bool& stopped) {
  stopped = false;
  const uint32_t bps = bytesPerSector_;
  if (record.ClusterBytes > kMaxClusterBytes) return kWriteFault;
  if (record.ClusterBytes == 0 || record.ClusterBytes % bps != 0) return kInvalidParameter;
  const uint64_t size = std::min(record.FileSize, limit);
  if (size == 0) return kSuccess;
  if (record.ItemId < 2) return kInvalidParameter;  // no data cluster

  // The FAT is never read: the file goes on in the clusters that follow.
  const uint32_t sectorsPerCluster = record.ClusterBytes / bps;
  std::vector<uint8_t> buffer(record.ClusterBytes);
  uint64_t sector = record.PartitionStart + record.DataAreaSector + uint64_t{record.ItemId - 2} * sectorsPerCluster;
  uint64_t done = 0;
  while (done < size) {
    // Only the sectors the file still needs: its last cluster may reach past
    // the end of the source.
    const uint64_t needed = (size - done + bps - 1) / bps;
    const auto count = static_cast<uint32_t>(std::min<uint64_t>(sectorsPerCluster, needed));
    uint32_t read = 0;
    const ResultCode rc = ReadDeviceSectors(sector, count, buffer.data(), read);
    if (read == 0) return kReadFault;
    if (rc != kSuccess) return rc;
    const uint64_t chunk = std::min<uint64_t>(uint64_t{read} * bps, size - done);
    if (ResultCode written = sink(buffer.data(), static_cast<size_t>(chunk)); written != kSuccess) return written;
    done += chunk;
    if (progress) {
      if (const int32_t answer = progress(done); answer != 0) {
        stopped = true;
        return answer;
      }
    }
    sector += sectorsPerCluster;
  }
  return kSuccess;
}

int32_t CProfessionalFatRecovery::ReportFile(int32_t percent, ResultCode error, const std::string& path) {
  return fileProgress_ ? fileProgress_(percent, scale_, error, path) : 0;
}

ResultCode CProfessionalFatRecovery::CopyFile(const ScanLogRecord& record, const std::string& path, bool& stopped) {
  stopped = false;
  // A cluster size no volume can have fails before anything is created.
  if (record.ClusterBytes > kMaxClusterBytes) {
    ReportFile(100, kWriteFault, path);
    return kWriteFault;
  }
  FileHandle out;
  ResultCode rc = CreateOutputFile(path, out);
  if (rc == kSuccess) {
    const uint64_t size = record.FileSize;
    rc = ReadFileData(
        record, [&](const uint8_t* data, size_t length) { return WriteAll(out, data, length); },
        [&](uint64_t done) -> int32_t {
          if (done >= size) return 0;  // the final report below ends the file
          return ReportFile(static_cast<int32_t>(done * 100 / size), kSuccess, path);
        },
        UINT64_MAX, stopped);
  }
  if (stopped) return rc;
  const int32_t answer = ReportFile(100, rc, path);
  if (rc != kSuccess) return rc;
  if (answer != 0) stopped = true;
  return answer;
}

ResultCode CProfessionalFatRecovery::RecoverItem(const ScanLogRecord& record, const std::string& destination,
                                                 int32_t /*rootSeparators*/) {
  if (!open_) return openResult_ != kSuccess ? openResult_ : kInvalidHandle;
  if (record.EngineCode != kEngineProFat) return kInvalidParameter;
  if (record.IsFolderRecord()) return RecoverFolder(record, destination);
  bool stopped = false;
  return CopyFile(record, destination, stopped);
}

FolderKey CProfessionalFatRecovery::ContentsKey(const ScanLogRecord& folder, uint32_t expectedDepth) const {
  // A folder's contents are filed under its cluster at the depth its ".."
  // chain gave; that depth is the one the log holds for the cluster.
  const FolderKey expected = MakeFolderKey(expectedDepth, folder.ItemId);
  std::optional<FolderKey> other;
  for (const auto& [key, records] : log_->Relation()) {
    if (FolderKeyId(key) != folder.ItemId) continue;
    if (key == expected) return key;
    if (!other) other = key;
  }
  return other.value_or(expected);
}

ResultCode CProfessionalFatRecovery::RecoverFolder(const ScanLogRecord& record, const std::string& destination) {
  if (!log_) return kInvalidParameter;
  ResultCode rc = CreateFolders(destination);
  if (rc != kSuccess) return rc;
  std::vector<ScanLogRecord> ancestors;
  log_->GetAncestorFolders(&record, ancestors);
  log_->FlushLog();

  struct Item {
    ScanLogRecord folder;
    std::string path;
    uint32_t depth;  // of the folder's contents
  };
  std::vector<Item> queue;
  queue.push_back({record, destination, static_cast<uint32_t>(ancestors.size() + 1)});
  std::vector<uint32_t> seen{record.ItemId};
  ResultCode firstError = kSuccess;
  for (size_t next = 0; next < queue.size(); ++next) {
    const Item item = queue[next];
    const FolderKey key = ContentsKey(item.folder, item.depth);
    std::vector<ScanLogRecord> children;
    rc = log_->ListFolder(key, children);
    if (rc != kSuccess && firstError == kSuccess) firstError = rc;
    for (const ScanLogRecord& child : children) {
      const std::string childPath = JoinBelow(item.path, child.NameView());
      if (child.IsFolderRecord()) {
        if (std::find(seen.begin(), seen.end(), child.ItemId) != seen.end()) continue;
        seen.push_back(child.ItemId);
        rc = CreateFolders(childPath);
        if (rc != kSuccess) {
          if (firstError == kSuccess) firstError = rc;
          continue;
        }
        queue.push_back({child, childPath, FolderKeyDepth(key) + 1});
        continue;
      }
      bool stopped = false;
      rc = CopyFile(child, childPath, stopped);
      if (stopped) return rc;
      if (rc != kSuccess && firstError == kSuccess) firstError = rc;
    }
  }
  return firstError;
}

ResultCode CProfessionalFatRecovery::ReadItemData(const ScanLogRecord& record, std::string& tempPath,
                                                  std::span<uint8_t> buffer, uint32_t& size,
                                                  ReadProgressCallback progress) {
  tempPath.clear();
  const uint32_t capacity = size;
  size = 0;
  auto finish = [&](ResultCode rc) {
    if (progress) progress(100, rc);
    return rc;
  };
  if (!open_) return finish(openResult_ != kSuccess ? openResult_ : kInvalidHandle);
  if (record.EngineCode != kEngineProFat || record.IsFolderRecord()) return finish(kInvalidParameter);

  // Documents and archives are previewed from a copy under their own name,
  // media and pictures from fixed temporary names, anything else in memory.
  const std::string extension = AsciiLower(ExtensionOf(record.NameView()));
  const std::string root = ScanLogRoot();
  std::string target;
  if (ListContains(kOfficeArchiveList, extension)) {
    std::string path = JoinBelow(root, record.NameView());
    if (path.size() < 260) target = path;
  }
  if (ListContains(kAudioList, extension) || ListContains(kVideoList, extension))
    target = root + "/tmp.avi";
  else if (ListContains(kPictureList, extension))
    target = root + "/tmp.jpg";

  const uint64_t total = record.FileSize;
  auto report = [&](uint64_t done) -> int32_t {
    if (!progress || total == 0 || done >= total) return 0;
    return progress(static_cast<int32_t>(done * 100 / total), kSuccess);
  };
  bool stopped = false;
  ResultCode rc = kSuccess;
  if (target.empty()) {
    const uint64_t limit = std::min<uint64_t>(capacity, buffer.size());
    uint64_t copied = 0;
    rc = ReadFileData(
        record,
        [&](const uint8_t* data, size_t length) {
          std::copy_n(data, length, buffer.begin() + static_cast<std::ptrdiff_t>(copied));
          copied += length;
          return kSuccess;
        },
        report, limit, stopped);
    size = static_cast<uint32_t>(copied);
  } else {
    FileHandle out;
    rc = CreateOutputFile(target, out);
    if (rc == kSuccess) {
      rc = ReadFileData(
          record, [&](const uint8_t* data, size_t length) { return WriteAll(out, data, length); }, report,
          UINT64_MAX, stopped);
    }
    out.Close();
    if (rc == kSuccess) {
      tempPath = target;
    } else {
      std::remove(target.c_str());
    }
  }
  if (stopped) return rc;
  return finish(rc);
}

}  // namespace selvane
