#include "engine/fast_fat_recovery.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>

#include "engine/fat_time.h"
#include "engine/signatures/content_match.h"
#include "platform/text.h"
#include "platform/user_folders.h"
#include "recovery/output_files.h"
#include "results/categories.h"
#include "results/scan_history.h"

namespace selvane {
namespace {

constexpr uint32_t kBootSectorBytes = 4096;
constexpr auto kReportInterval = std::chrono::milliseconds(5000);
constexpr uint32_t kHighWordGuesses = 256;

std::string_view NameExtension(std::string_view name) {
  size_t dot = name.rfind('.');
  return dot == std::string_view::npos ? std::string_view{} : name.substr(dot + 1);
}

}  // namespace

CFastFatRecovery::~CFastFatRecovery() {
  if (log_) log_->CloseLog();
}

// ---------------------------------------------------------------------------
// Opening

ResultCode CFastFatRecovery::OpenImage(const std::string& imagePath, uint16_t sourceId) {
  if (open_) return kSuccess;
  openResult_ = OpenImageFile(imagePath, device_);
  if (openResult_ != kSuccess) return openResult_;
  deviceSectorSize_ = 512;
  partitionStart_ = 0;
  partitionSectors_ = device_.totalSectors;
  openResult_ = OpenVolume(sourceId);
  return openResult_;
}

ResultCode CFastFatRecovery::OpenPartition(int32_t driveNumber, uint64_t firstSector, uint64_t sectorCount,
                                           uint16_t sourceId) {
  if (open_) return kSuccess;
  openResult_ = OpenPhysicalDrive(driveNumber, device_);
  if (openResult_ != kSuccess) return openResult_;
  deviceSectorSize_ = GetDriveSectorSize(device_);
  partitionStart_ = firstSector;
  partitionSectors_ = sectorCount;
  openResult_ = OpenVolume(sourceId);
  return openResult_;
}

ResultCode CFastFatRecovery::OpenVolume(uint16_t sourceId) {
  const uint32_t count = std::max<uint32_t>(1, kBootSectorBytes / deviceSectorSize_);
  std::vector<uint8_t> boot(size_t{count} * deviceSectorSize_);
  uint32_t read = 0;
  ResultCode rc = ReadSectors(static_cast<int32_t>(count), device_, boot.data(), partitionStart_, deviceSectorSize_,
                              read);
  if (rc != kSuccess) return rc;
  if (!ParseFatBootSector(boot, geometry_)) return kInvalidParameter;
  const uint32_t bps = geometry_.bytesPerSector;
  // Everything below is counted in the volume's own sectors; the partition must
  // start on one of them.
  if ((partitionStart_ * deviceSectorSize_) % bps != 0) return kInvalidParameter;
  volumeStart_ = partitionStart_ * deviceSectorSize_ / bps;
  volumeSectors_ = partitionSectors_ * deviceSectorSize_ / bps;
  sourceId_ = sourceId;
  sectorBuffer_.assign(bps, 0);
  fat_.Attach(&device_, geometry_, volumeStart_ + geometry_.reservedSectors);
  open_ = true;
  return kSuccess;
}

ResultCode CFastFatRecovery::ReadVolumeSectors(uint64_t relativeSector, uint32_t count, uint8_t* buffer,
                                               uint32_t& sectorsRead) const {
  return ReadSectors(static_cast<int32_t>(count), device_, buffer, AbsoluteSector(relativeSector),
                     geometry_.bytesPerSector, sectorsRead);
}

ResultCode CFastFatRecovery::SetCallbacks(ProgressCallback progress, FileProgressCallback fileProgress,
                                          int32_t scale) {
  progress_ = std::move(progress);
  fileProgress_ = std::move(fileProgress);
  scale_ = scale;
  return kSuccess;
}

ResultCode CFastFatRecovery::SetSearchProgress(SearchProgressCallback callback) {
  searchProgress_ = std::move(callback);
  if (log_) log_->SetQueryProgress(searchProgress_);
  return kSuccess;
}

// ---------------------------------------------------------------------------
// The scan

ResultCode CFastFatRecovery::Scan(const std::string& logName) {
  if (!open_) return openResult_ != kSuccess ? openResult_ : kInvalidHandle;
  if (log_) log_->CloseLog();
  log_ = std::make_unique<CScanLog>();
  log_->SetQueryProgress(searchProgress_);
  if (!logName.empty()) return log_->OpenLog(logName);

  // A new scan starts a new log. A log of the same name in this scan folder
  // (the same partition scanned within the same minute) would otherwise be
  // continued, and every item listed twice.
  const std::string name = MakeLogName(kFastLogPrefix, static_cast<int64_t>(partitionStart_));
  std::string folder = CScanHistory::Instance().GetScanFolder();
  if (!folder.empty() && folder.back() != '/') folder += '/';
  for (const char* suffix : {"", "_Relation", "_DirInfo"}) {
    std::error_code ignored;
    std::filesystem::remove(folder + name + suffix, ignored);
  }
  ResultCode rc = log_->OpenLog(name);
  if (rc != kSuccess) return rc;
  return WalkTree();
}

int32_t CFastFatRecovery::Report(int32_t percent, int32_t secondsLeft) {
  return progress_ ? progress_(percent, scale_, secondsLeft, 0, 0, 0) : 0;
}

ResultCode CFastFatRecovery::WalkTree() {
  folders_.clear();
  foldersToLog_.clear();
  foldersToLogSet_.clear();
  directoryQueue_.clear();
  readClusters_.clear();
  int32_t step = 0;

  ResultCode stopped = Report(1, -1);
  directoryQueue_.push_back(geometry_.RootId());
  auto lastReport = std::chrono::steady_clock::now();
  while (stopped == kSuccess && !directoryQueue_.empty()) {
    const uint32_t directory = directoryQueue_.front();
    directoryQueue_.pop_front();
    if (!readClusters_.contains(directory)) ReadDirectory(directory);  // a read error ends only that directory

    const auto now = std::chrono::steady_clock::now();
    if (now - lastReport < kReportInterval) continue;
    lastReport = now;
    ++step;
    // The walk has no known end: the percentage creeps up and stops short of
    // the 80 that the writing of the folders reports.
    if (scale_ == 100)
      stopped = Report(std::min(1 + step, 79), std::max(100 - step, 11));
    else if (scale_ == 9)
      stopped = Report(std::min(20 + step, 79), -1);
  }
  if (stopped == kSuccess) stopped = Report(80, 10);
  // A stopped scan still writes the folders of the files it logged, so that
  // what it found can be browsed.
  WriteFolderRecords();
  log_->FlushLog();
  if (stopped != kSuccess) return stopped;
  return Report(100, 0);
}

uint32_t CFastFatRecovery::NormalizeParent(uint32_t cluster) const {
  return cluster == 0 ? geometry_.RootId() : cluster;
}

bool CFastFatRecovery::StartsLikeDirectory(const uint8_t* sector, size_t length, uint32_t parent) const {
  ByteReader r(sector, length);
  if (!r.Fits(0, 2 * kFatEntrySize)) return false;
  const FatDirectoryEntry dot = ParseDirectoryEntry(r, 0);
  const FatDirectoryEntry dotDot = ParseDirectoryEntry(r, kFatEntrySize);
  if (!dot.IsDotEntry() || !dot.IsDirectory() || !dotDot.IsDotDotEntry()) return false;
  return parent == UINT32_MAX || NormalizeParent(dotDot.FirstCluster(geometry_.IsFat32())) == NormalizeParent(parent);
}

ResultCode CFastFatRecovery::ReadDirectory(uint32_t directory) {
  const bool isRoot = directory == geometry_.RootId();
  const bool fixedRoot = isRoot && !geometry_.IsFat32();
  FolderInfo* info = nullptr;
  if (!isRoot) {
    auto it = folders_.find(directory);
    if (it == folders_.end()) return kInvalidParameter;
    info = &it->second;
  }
  const bool inheritedDeleted = info && info->record.FolderDeleted != 0;
  const uint32_t depth = info ? info->depth : 0;
  const uint32_t bps = geometry_.bytesPerSector;
  const uint32_t sectorsPerRead = fixedRoot ? geometry_.rootDirSectors : geometry_.sectorsPerCluster;
  if (sectorsPerRead == 0) return kSuccess;
  std::vector<uint8_t>& buffer = clusterBuffer_;
  buffer.resize(size_t{sectorsPerRead} * bps);

  LongNameRun longName;
  bool longNameDeleted = false;
  uint32_t cluster = directory;
  bool first = true;
  for (uint64_t clustersRead = 0; clustersRead <= geometry_.clusterCount; ++clustersRead) {
    const uint64_t sector = fixedRoot ? geometry_.rootDirSector : geometry_.ClusterSector(cluster);
    uint32_t read = 0;
    ResultCode rc = ReadVolumeSectors(sector, sectorsPerRead, buffer.data(), read);
    if (rc != kSuccess) return rc;

    if (first) {
      first = false;
      if (info) {
        // The first cluster must still hold this directory: its "." and ".."
        // entries, and for a deleted folder a ".." naming the folder it was
        // found in (else the cluster now belongs to another directory).
        const uint32_t parent = info->record.FolderDeleted ? info->parent : UINT32_MAX;
        if (!StartsLikeDirectory(buffer.data(), buffer.size(), parent)) {
          folders_.erase(directory);
          return kSuccess;
        }
        info->walked = true;
      }
      readClusters_.insert(directory);
    }

    ByteReader bytes(buffer.data(), buffer.size());
    const size_t entries = buffer.size() / kFatEntrySize;
    bool ended = false;
    for (size_t i = 0; i < entries; ++i) {
      const size_t offset = i * kFatEntrySize;
      if (bytes.U8(offset) == 0x00) {
        ended = true;
        break;
      }
      std::span<const uint8_t> entryBytes = bytes.Span(offset, kFatEntrySize);
      std::span<const uint8_t> nextBytes =
          i + 1 < entries ? bytes.Span(offset + kFatEntrySize, kFatEntrySize) : std::span<const uint8_t>{};
      if (!IsPlausibleEntry(entryBytes, nextBytes)) {
        longName.Reset();
        continue;
      }
      const FatDirectoryEntry entry = ParseDirectoryEntry(bytes, offset);
      if (entry.IsLongName()) {
        // A run belongs to one entry: live parts never join deleted ones.
        if (entry.IsDeleted() != longNameDeleted) longName.Reset();
        longNameDeleted = entry.IsDeleted();
        longName.Add(bytes, offset);
        continue;
      }
      if (entry.IsVolumeLabel()) {
        longName.Reset();
        continue;
      }
      std::string name;
      if (longName.HasName() && longNameDeleted == entry.IsDeleted()) name = longName.Name();
      if (name.empty()) name = ShortEntryName(entry);
      longName.Reset();

      const uint64_t entrySector = AbsoluteSector(sector + offset / bps);
      if (entry.IsDirectory()) {
        if (!entry.IsDotEntry() && !entry.IsDotDotEntry())
          AddFolder(entry, name, entry.IsDeleted() || inheritedDeleted, directory, depth, entrySector);
      } else if (entry.IsArchive() && (entry.IsDeleted() || inheritedDeleted)) {
        LogFile(entry, name, directory, depth, entrySector);
      }
    }
    if (ended || fixedRoot) break;
    const uint32_t next = fat_.NextDirectoryCluster(cluster);
    if (next == 0 || next == cluster || readClusters_.contains(next)) break;
    readClusters_.insert(next);
    cluster = next;
  }
  return kSuccess;
}

void CFastFatRecovery::AddFolder(const FatDirectoryEntry& entry, const std::string& name, bool deleted,
                                 uint32_t parent, uint32_t parentDepth, uint64_t entrySector) {
  uint32_t cluster = entry.FirstCluster(geometry_.IsFat32());
  if (geometry_.IsFat32() && entry.IsDeleted() && entry.clusterHigh == 0)
    cluster = GuessDirectoryCluster(entry.clusterLow, parent);
  if (cluster == parent || cluster == geometry_.RootId() || !geometry_.IsDataCluster(cluster)) return;

  auto existing = folders_.find(cluster);
  if (existing != folders_.end()) {
    // A folder already read keeps its record (files are filed under it), and a
    // live entry is never displaced by a deleted one naming the same cluster.
    if (existing->second.walked) return;
    if (!existing->second.ownEntryDeleted && entry.IsDeleted()) return;
  }
  FolderInfo info;
  ScanLogRecord& r = info.record;
  r.VolumeLetter = sourceId_;
  r.EngineCode = kEngineFastFat;
  r.IsFolder = 1;
  r.FolderDeleted = deleted ? 1 : 0;
  r.Intact = 1;
  r.ItemId = cluster;
  r.ClusterBytes = geometry_.ClusterBytes();
  r.CreationTime = FatCreationTimeToFileTime(entry.creationDate, entry.creationTime, entry.creationHundredths);
  r.AccessTime = FatDateTimeToFileTime(entry.accessDate, 0);
  r.WriteTime = FatDateTimeToFileTime(entry.writeDate, entry.writeTime);
  r.FileSize = 0;
  r.DataAreaSector = geometry_.firstDataSector;
  r.LocationSector = entrySector;
  r.PartitionStart = partitionStart_;
  r.SetName(name);
  info.parent = parent;
  info.depth = parentDepth + 1;
  info.ownEntryDeleted = entry.IsDeleted();
  folders_[cluster] = info;
  directoryQueue_.push_back(cluster);
}

void CFastFatRecovery::LogFile(const FatDirectoryEntry& entry, const std::string& name, uint32_t directory,
                               uint32_t depth, uint64_t entrySector) {
  uint32_t cluster = entry.FirstCluster(geometry_.IsFat32());
  const std::string_view extension = NameExtension(name);
  if (geometry_.IsFat32() && entry.IsDeleted() && entry.clusterHigh == 0 && entry.size != 0 && !extension.empty())
    cluster = GuessFileCluster(entry.clusterLow, extension);

  ScanLogRecord& r = log_->NewRecord();
  r.RecordNumber = log_->RecordCount();
  r.Intact = 1;
  r.SetName(name);
  r.CreationTime = FatCreationTimeToFileTime(entry.creationDate, entry.creationTime, entry.creationHundredths);
  r.AccessTime = FatDateTimeToFileTime(entry.accessDate, 0);
  r.WriteTime = FatDateTimeToFileTime(entry.writeDate, entry.writeTime);
  r.ItemId = cluster;
  r.IsFolder = 0;
  r.FolderDeleted = 0;
  r.FileSize = entry.size;
  r.LocationSector = entrySector;
  r.PartitionStart = partitionStart_;
  r.EngineCode = kEngineFastFat;
  r.ClusterBytes = geometry_.ClusterBytes();
  r.VolumeLetter = sourceId_;
  r.DataAreaSector = geometry_.firstDataSector;
  log_->LinkRecord(MakeFolderKey(depth, directory), r.RecordNumber, cluster, nullptr);
  r.Intact = CheckIntact(r) ? 1 : 0;
  MarkFoldersToLog(directory);
}

void CFastFatRecovery::MarkFoldersToLog(uint32_t directory) {
  uint32_t cluster = directory;
  // Each step climbs one folder; the bound holds even if parents formed a loop.
  for (size_t steps = 0; steps <= folders_.size() && cluster != geometry_.RootId(); ++steps) {
    if (!foldersToLogSet_.insert(cluster).second) return;  // it and its ancestors are listed already
    foldersToLog_.push_back(cluster);
    auto it = folders_.find(cluster);
    if (it == folders_.end()) return;
    cluster = it->second.parent;
  }
}

void CFastFatRecovery::WriteFolderRecords() {
  for (uint32_t cluster : foldersToLog_) {
    auto it = folders_.find(cluster);
    if (it == folders_.end()) continue;
    const FolderInfo& info = it->second;
    ScanLogRecord& r = log_->NewRecord();
    r = info.record;
    r.Intact = 1;
    r.RecordNumber = log_->RecordCount();
    const std::string name(r.NameView());
    log_->LinkRecord(MakeFolderKey(info.depth - 1, info.parent), r.RecordNumber, r.ItemId, name.c_str());
  }
}

bool CFastFatRecovery::ReadCheckSector(uint64_t relativeSector) {
  if (relativeSector == checkSector_) return true;
  checkSector_ = UINT64_MAX;
  uint32_t read = 0;
  if (ReadVolumeSectors(relativeSector, 1, sectorBuffer_.data(), read) != kSuccess) return false;
  checkSector_ = relativeSector;
  return true;
}

uint32_t CFastFatRecovery::GuessDirectoryCluster(uint16_t low, uint32_t parent) {
  if (geometry_.MaxCluster() <= 0xFFFF) return low;  // no cluster number has a high word
  for (uint32_t high = 0; high <= kHighWordGuesses; ++high) {
    const uint64_t candidate = (uint64_t{high} << 16) | low;
    if (candidate > geometry_.MaxCluster()) break;
    // A cluster in use belongs to a live item, whatever its first bytes say.
    if (!geometry_.IsDataCluster(candidate) || !fat_.IsFree(static_cast<uint32_t>(candidate))) continue;
    const auto cluster = static_cast<uint32_t>(candidate);
    if (!ReadCheckSector(geometry_.ClusterSector(cluster))) break;
    if (StartsLikeDirectory(sectorBuffer_.data(), sectorBuffer_.size(), parent)) return cluster;
  }
  return low;
}

uint32_t CFastFatRecovery::GuessFileCluster(uint16_t low, std::string_view extension) {
  if (geometry_.MaxCluster() <= 0xFFFF) return low;
  for (uint32_t high = 0; high <= kHighWordGuesses; ++high) {
    const uint64_t candidate = (uint64_t{high} << 16) | low;
    if (candidate > geometry_.MaxCluster()) break;
    if (!geometry_.IsDataCluster(candidate) || !fat_.IsFree(static_cast<uint32_t>(candidate))) continue;
    const uint64_t relative = geometry_.ClusterSector(static_cast<uint32_t>(candidate));
    if (!ReadCheckSector(relative)) break;
    if (ContentMatchesExtension(sectorBuffer_, extension, device_, geometry_.bytesPerSector, AbsoluteSector(relative)))
      return static_cast<uint32_t>(candidate);
  }
  return low;
}

bool CFastFatRecovery::CheckIntact(const ScanLogRecord& record) {
  const std::string_view extension = NameExtension(record.NameView());
  if (extension.empty() || record.FileSize == 0) return true;
  if (!geometry_.IsDataCluster(record.ItemId)) return false;  // no data cluster to recover from
  const uint64_t relative = geometry_.ClusterSector(record.ItemId);
  // The sector is often the one the cluster guess has just read.
  if (!ReadCheckSector(relative)) return true;
  return ContentMatchesExtension(sectorBuffer_, extension, device_, geometry_.bytesPerSector, AbsoluteSector(relative));
}

// ---------------------------------------------------------------------------
// Queries

ResultCode CFastFatRecovery::QueryFolder(const ScanLogRecord* folder, uint32_t depth,
                                         std::vector<ScanLogRecord>& out) {
  if (!folder && depth != 0) return kInvalidParameter;
  if (!log_) return kSuccess;
  uint32_t id = folder ? folder->ItemId : 0;
  if (id == 0) id = geometry_.RootId();
  log_->FlushLog();
  return log_->ListFolder(MakeFolderKey(depth, id), out);
}

ResultCode CFastFatRecovery::QueryFileCount(const ScanLogRecord* folder, uint32_t depth, uint32_t& count) {
  count = 0;
  if (!folder && depth != 0) return kInvalidParameter;
  if (!log_) return kSuccess;
  uint32_t id = folder ? folder->ItemId : 0;
  if (id == 0) id = geometry_.RootId();
  log_->FlushLog();
  return log_->CountFilesBelow(MakeFolderKey(depth, id), count);
}

uint64_t CFastFatRecovery::GetRecordCount() { return log_ ? log_->RecordCount() : 0; }

ResultCode CFastFatRecovery::QueryFolderPath(const ScanLogRecord& record, std::string& path) {
  path.clear();
  return log_ ? log_->GetFolderPath(record, path) : kSuccess;
}

ResultCode CFastFatRecovery::QueryCategory(const std::string& filter, std::vector<ScanLogRecord>& out) {
  return log_ ? log_->ListCategory(filter, out) : kSuccess;
}

// ---------------------------------------------------------------------------
// Reading found files

ResultCode CFastFatRecovery::ReadFileData(const ScanLogRecord& record, const ChunkSink& sink,
                                          const std::function<int32_t(uint64_t)>& progress, uint64_t limit,
                                          bool& stopped) {
  stopped = false;
  const uint32_t bps = geometry_.bytesPerSector;
  if (record.ClusterBytes > kMaxClusterBytes) return kWriteFault;
  if (record.ClusterBytes == 0 || record.ClusterBytes % bps != 0) return kInvalidParameter;
  // The FAT followed below is this volume's: a record of another volume does not fit.
  if (record.PartitionStart != partitionStart_ || record.DataAreaSector != geometry_.firstDataSector)
    return kInvalidParameter;
  const uint64_t size = std::min(record.FileSize, limit);
  if (size == 0) return kSuccess;
  if (!geometry_.IsDataCluster(record.ItemId)) return kInvalidParameter;
  // No file is larger than the data area; a damaged size must not make the
  // copy run around a looping chain for gigabytes.
  if (record.FileSize > uint64_t{geometry_.clusterCount} * geometry_.ClusterBytes()) return kInvalidParameter;

  const uint32_t sectorsPerCluster = record.ClusterBytes / bps;
  std::vector<uint8_t> buffer(record.ClusterBytes);
  uint32_t cluster = record.ItemId;
  uint64_t done = 0;
  // Each pass consumes one cluster of the size, so the loop ends even on a chain
  // that runs in a circle.
  while (done < size) {
    const uint64_t sector = volumeStart_ + record.DataAreaSector + uint64_t{cluster - 2} * sectorsPerCluster;
    uint32_t read = 0;
    ResultCode rc = ReadSectors(static_cast<int32_t>(sectorsPerCluster), device_, buffer.data(), sector, bps, read);
    if (read == 0) return rc != kSuccess && rc != kInvalidParameter ? rc : kReadFault;
    if (rc != kSuccess) return rc;
    const uint64_t chunk = std::min<uint64_t>(buffer.size(), size - done);
    rc = sink(buffer.data(), static_cast<size_t>(chunk));
    if (rc != kSuccess) return rc;
    done += chunk;
    if (progress) {
      int32_t answer = progress(done);
      if (answer != 0) {
        stopped = true;
        return answer;
      }
    }
    if (done == size) break;
    cluster = fat_.NextFileCluster(cluster);
    if (cluster == 0) return kReadFault;  // no free cluster left to continue in
  }
  return kSuccess;
}

ResultCode CFastFatRecovery::ReportFile(int32_t percent, ResultCode error, const std::string& path) {
  return fileProgress_ ? fileProgress_(percent, scale_, error, path) : 0;
}

ResultCode CFastFatRecovery::CopyFile(const ScanLogRecord& record, const std::string& path, bool& stopped) {
  stopped = false;
  // A cluster size the volume cannot have fails before anything is created.
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
          if (done >= size) return 0;  // the last report below ends the file
          return ReportFile(static_cast<int32_t>(done * 100 / size), kSuccess, path);
        },
        UINT64_MAX, stopped);
  }
  if (stopped) return rc;
  ResultCode answer = ReportFile(100, rc, path);
  if (rc != kSuccess) return rc;
  if (answer != 0) stopped = true;
  return answer;
}

ResultCode CFastFatRecovery::RecoverItem(const ScanLogRecord& record, const std::string& destination,
                                         int32_t /*rootSeparators*/) {
  if (!open_) return openResult_ != kSuccess ? openResult_ : kInvalidHandle;
  if (record.EngineCode != kEngineFastFat) return kInvalidParameter;
  bool stopped = false;
  if (!record.IsFolderRecord()) return CopyFile(record, destination, stopped);
  return RecoverFolder(record, destination);
}

ResultCode CFastFatRecovery::RecoverFolder(const ScanLogRecord& record, const std::string& destination) {
  if (!log_) return kInvalidParameter;
  ResultCode rc = CreateFolders(destination);
  if (rc != kSuccess) return rc;
  // The depth of the folder's contents follows from the folders above it in
  // the log, whatever the destination path looks like.
  std::vector<ScanLogRecord> ancestors;
  log_->GetAncestorFolders(&record, ancestors);
  log_->FlushLog();

  struct Pending {
    ScanLogRecord folder;
    std::string path;
    uint32_t depth;
  };
  std::deque<Pending> queue;
  queue.push_back({record, destination, static_cast<uint32_t>(ancestors.size() + 1)});
  std::unordered_set<uint32_t> seen{record.ItemId};
  ResultCode firstError = kSuccess;
  while (!queue.empty()) {
    Pending item = std::move(queue.front());
    queue.pop_front();
    std::vector<ScanLogRecord> children;
    rc = log_->ListFolder(MakeFolderKey(item.depth, item.folder.ItemId), children);
    if (rc != kSuccess && firstError == kSuccess) firstError = rc;
    for (const ScanLogRecord& child : children) {
      const std::string childPath = JoinBelow(item.path, child.NameView());
      if (child.IsFolderRecord()) {
        if (!seen.insert(child.ItemId).second) continue;
        rc = CreateFolders(childPath);
        if (rc != kSuccess) {
          if (firstError == kSuccess) firstError = rc;
          continue;
        }
        queue.push_back({child, childPath, item.depth + 1});
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

ResultCode CFastFatRecovery::ReadItemData(const ScanLogRecord& record, std::string& tempPath,
                                          std::span<uint8_t> buffer, uint32_t& size, ReadProgressCallback progress) {
  tempPath.clear();
  const uint32_t capacity = size;
  size = 0;
  auto finish = [&](ResultCode rc) {
    if (progress) progress(100, rc);
    return rc;
  };
  if (!open_) return finish(openResult_ != kSuccess ? openResult_ : kInvalidHandle);
  if (record.EngineCode != kEngineFastFat || record.IsFolderRecord()) return finish(kInvalidParameter);

  // Documents and archives are previewed from a copy under their own name,
  // media and pictures from fixed temporary names; anything else in memory.
  const std::string extension = AsciiLower(ExtensionOf(record.NameView()));
  std::string target;
  const std::string root = ScanLogRoot();
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
  ResultCode rc;
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

// ---------------------------------------------------------------------------
// Free space for the deep scan

ResultCode CFastFatRecovery::LoadAllocationBitmap() {
  if (!open_) return openResult_ != kSuccess ? openResult_ : kInvalidHandle;
  return bitmap_.Load(fat_, geometry_);
}

ResultCode CFastFatRecovery::FindFreeRun(uint64_t& sector, uint64_t& sectorCount) {
  // The caller counts in the device's sectors, the bitmap in the volume's own
  // (an image of a volume with 4,096-byte sectors is read in 512-byte ones).
  const uint64_t end = partitionSectors_;
  if (!bitmap_.IsLoaded()) {
    // Without the bitmap nothing is known to be in use.
    sector = std::min(sector, end);
    sectorCount = end - sector;
    return 1;
  }
  const uint64_t bps = geometry_.bytesPerSector;
  uint64_t volumeSector = sector >= end ? volumeSectors_ : sector * deviceSectorSize_ / bps;
  uint64_t volumeCount = 0;
  bitmap_.FindFreeRun(volumeSector, volumeCount, geometry_.firstDataSector, geometry_.sectorsPerCluster,
                      volumeSectors_);
  const uint64_t runStart = std::max(sector, volumeSector * bps / deviceSectorSize_);
  const uint64_t runEnd = std::min(end, (volumeSector + volumeCount) * bps / deviceSectorSize_);
  sector = std::min(runStart, end);
  sectorCount = runEnd > sector ? runEnd - sector : 0;
  return 1;
}

}  // namespace selvane
