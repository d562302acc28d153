#include "engine/fast_ntfs_recovery.h"

#include "engine/ntfs_file_data.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <deque>
#include <limits>
#include <set>

#include "engine/signatures/content_match.h"
#include "platform/text.h"
#include "platform/user_folders.h"
#include "recovery/destination_rules.h"
#include "recovery/output_files.h"
#include "results/categories.h"
#include "results/scan_log.h"

namespace selvane {
namespace {

constexpr uint32_t kBootBytes = 4096;
constexpr uint32_t kRecordsPerChunk = 1024;
constexpr size_t kDataChunk = 65536;
constexpr int64_t kEstimateIntervalMs = 5000;
// Longest folder chain followed; deeper chains end as a lost folder.
constexpr size_t kMaxFolderDepth = 8192;

uint64_t SaturatingMul(uint64_t a, uint64_t b) {
  uint64_t product = 0;
  return __builtin_mul_overflow(a, b, &product) ? std::numeric_limits<uint64_t>::max() : product;
}

std::string LowerExtension(std::string_view name) { return AsciiLower(ExtensionOf(name)); }

}  // namespace

CFastNtfsRecovery::CFastNtfsRecovery() = default;

CFastNtfsRecovery::~CFastNtfsRecovery() {
  if (log_) log_->CloseLog();
}

ResultCode CFastNtfsRecovery::OpenPartition(int32_t driveNumber, uint64_t firstSector, uint64_t sectorCount,
                                            uint16_t sourceId) {
  if (ResultCode rc = OpenDriveHandle(driveNumber, bootDevice_); rc != kSuccess) return openResult_ = rc;
  const uint32_t driveSectorSize = GetDriveSectorSize(bootDevice_);
  std::vector<uint8_t> boot(kBootBytes);
  const ssize_t n = bootDevice_.handle.ReadAt(boot.data(), boot.size(), firstSector * driveSectorSize);
  if (n < 0) return openResult_ = LastResult();
  if (static_cast<size_t>(n) != boot.size()) return openResult_ = kReadFault;
  if (ResultCode rc = OpenPhysicalDrive(driveNumber, device_); rc != kSuccess) return openResult_ = rc;
  return FinishOpen(boot, driveSectorSize, firstSector, sectorCount, sourceId);
}

ResultCode CFastNtfsRecovery::OpenImage(const std::string& imagePath, uint16_t sourceId) {
  if (ResultCode rc = OpenFile(imagePath, OpenMode::ReadOnly, bootDevice_.handle); rc != kSuccess)
    return openResult_ = rc;
  std::vector<uint8_t> boot(kBootBytes);
  const ssize_t n = bootDevice_.handle.ReadAt(boot.data(), boot.size(), 0);
  if (n < 0) return openResult_ = LastResult();
  if (static_cast<size_t>(n) != boot.size()) return openResult_ = kReadFault;
  if (ResultCode rc = OpenImageFile(imagePath, device_); rc != kSuccess) return openResult_ = rc;
  uint64_t bytes = 0;
  if (ResultCode rc = device_.handle.Size(bytes); rc != kSuccess) return openResult_ = rc;
  return FinishOpen(boot, 512, 0, bytes / 512, sourceId);
}

// Sector numbers of the device are counted in the volume's sector size from here on.
ResultCode CFastNtfsRecovery::FinishOpen(std::span<const uint8_t> boot, uint32_t firstSectorSize, uint64_t firstSector,
                                         uint64_t sectorCount, uint16_t sourceId) {
  NtfsGeometry g;
  if (!ReadNtfsGeometry(boot, g)) return openResult_ = kInvalidParameter;
  const uint64_t startByte = firstSector * firstSectorSize;
  if (startByte % g.bytesPerSector != 0) return openResult_ = kInvalidParameter;
  sourceId_ = sourceId;
  volume_.device = &device_;
  volume_.partitionFirstSector = startByte / g.bytesPerSector;
  volume_.bytesPerSector = g.bytesPerSector;
  volume_.sectorsPerCluster = g.sectorsPerCluster;
  volume_.recordSize = g.recordSize;
  volume_.sectorsPerRecord = g.sectorsPerRecord;
  volume_.mftFirstSector = volume_.partitionFirstSector + SaturatingMul(g.mftCluster, g.sectorsPerCluster);
  partitionSectorCount_ = sectorCount * firstSectorSize / g.bytesPerSector;
  const uint32_t deviceSectorSize = device_.driveName.empty() ? 512 : GetDriveSectorSize(device_);
  if (deviceSectorSize != g.bytesPerSector)
    device_.totalSectors = device_.totalSectors * deviceSectorSize / g.bytesPerSector;

  chunk_.assign(size_t{g.recordSize} * kRecordsPerChunk, 0);
  recordBuffer_.assign(g.recordSize, 0);
  sectorBuffer_.assign(g.bytesPerSector, 0);
  LoadMftRuns();
  return openResult_ = kSuccess;
}

void CFastNtfsRecovery::LoadMftRuns() {
  volume_.mftRuns.clear();
  if (ReadMftRecord(volume_, volume_.mftFirstSector, recordBuffer_) != kSuccess) return;
  if (!MftRecordView(recordBuffer_).IsFile() || !ApplyFixups(recordBuffer_)) return;
  AttributeRuns runs;
  if (CollectAttributeRuns(volume_, recordBuffer_, kAttrData, runs) != kSuccess) return;
  volume_.mftRuns = runs.runs;
  // A fragmented MFT lists its further extents in extension records, which lie
  // in the part of the MFT already known: read the list again with it.
  if (!runs.complete && !runs.runs.empty() &&
      CollectAttributeRuns(volume_, recordBuffer_, kAttrData, runs) == kSuccess &&
      runs.runs.size() > volume_.mftRuns.size())
    volume_.mftRuns = runs.runs;
  // The MFT is never sparse: a run without clusters is damage, and the MFT ends there.
  auto sparse = std::find_if(volume_.mftRuns.begin(), volume_.mftRuns.end(), [](const MftRun& r) { return r.sparse; });
  volume_.mftRuns.erase(sparse, volume_.mftRuns.end());
}

ResultCode CFastNtfsRecovery::SetCallbacks(ProgressCallback progress, FileProgressCallback fileProgress,
                                           int32_t scale) {
  progress_ = std::move(progress);
  fileProgress_ = std::move(fileProgress);
  scale_ = scale;
  return kSuccess;
}

ResultCode CFastNtfsRecovery::Scan(const std::string& logName) {
  if (log_) log_->CloseLog();
  log_ = std::make_unique<CScanLog>();
  if (searchProgress_) log_->SetQueryProgress(searchProgress_);
  if (!logName.empty()) return log_->OpenLog(logName);

  if (openResult_ != kSuccess) return openResult_;
  pendingFolders_.clear();
  folders_.clear();
  folderRecords_.clear();
  folderEntries_.clear();
  if (ResultCode rc = log_->OpenLog(MakeLogName(kFastLogPrefix, static_cast<int64_t>(volume_.partitionFirstSector)));
      rc != kSuccess)
    return rc;
  ResultCode rc = ScanMft();
  // The folders above the files found are known by now, also when the scan was
  // stopped or met a read error: they are written so those files keep their place.
  WritePendingFolders();
  log_->FlushLog();
  pendingFolders_.clear();
  folders_.clear();
  folderRecords_.clear();
  folderEntries_.clear();
  if (rc == kSuccess && progress_) return progress_(100, scale_, lastSecondsLeft_, 0, 0, 0);
  return rc;
}

ResultCode CFastNtfsRecovery::ReadMftSectors(uint64_t mftSector, uint32_t count, uint8_t* out) {
  const uint32_t bps = volume_.bytesPerSector;
  uint32_t filled = 0;
  while (filled < count) {
    uint64_t absolute = 0, contiguous = 0;
    if (!MapMftSector(volume_, mftSector + filled, absolute, contiguous)) {
      // No clusters behind this part of the MFT: it holds no records.
      std::fill_n(out + size_t{filled} * bps, bps, 0);
      ++filled;
      continue;
    }
    const uint32_t take = static_cast<uint32_t>(std::min<uint64_t>(contiguous, count - filled));
    uint32_t read = 0;
    if (ReadSectors(static_cast<int32_t>(take), device_, out + size_t{filled} * bps, absolute, bps, read) !=
        kSuccess) {
      // An unreadable stretch costs only its own records: the rest of the run
      // is read sector by sector and a bad sector is left as zeros, which no
      // record check accepts.
      for (uint32_t i = read; i < take; ++i) {
        uint8_t* sector = out + size_t{filled + i} * bps;
        uint32_t one = 0;
        if (ReadSectors(1, device_, sector, absolute + i, bps, one) != kSuccess) std::fill_n(sector, bps, 0);
      }
    }
    filled += take;
  }
  return kSuccess;
}

ResultCode CFastNtfsRecovery::ScanMft() {
  using Clock = std::chrono::steady_clock;
  const uint32_t spr = volume_.sectorsPerRecord;
  // A damaged run list cannot make the walk longer than the device.
  const uint64_t total =
      std::min(SaturatingMul(RunClusters(volume_.mftRuns), volume_.sectorsPerCluster), device_.totalSectors);
  const uint32_t chunkSectors = spr * kRecordsPerChunk;
  const auto start = Clock::now();
  auto lastEstimate = start;
  int32_t& secondsLeft = lastSecondsLeft_;
  secondsLeft = -1;
  uint64_t done = 0;
  while (done + spr <= total) {
    const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(chunkSectors, (total - done) / spr * spr));
    if (ResultCode rc = ReadMftSectors(done, n, chunk_.data()); rc != kSuccess) return rc;
    const uint64_t firstRecord = done / spr;
    for (uint32_t i = 0; i < n / spr; ++i) {
      const uint64_t number = firstRecord + i;
      if (number > std::numeric_limits<uint32_t>::max()) break;
      ProcessDeletedRecord(static_cast<uint32_t>(number),
                           std::span<uint8_t>(chunk_).subspan(size_t{i} * volume_.recordSize, volume_.recordSize));
    }
    done += n;

    const auto now = Clock::now();
    if (now - lastEstimate >= std::chrono::milliseconds(kEstimateIntervalMs) && scale_ == 100) {
      const int64_t seconds = std::chrono::duration_cast<std::chrono::seconds>(now - start).count();
      const uint64_t speed = std::max<uint64_t>(1, done * volume_.bytesPerSector / std::max<int64_t>(seconds, 1));
      secondsLeft = static_cast<int32_t>(
          std::min<uint64_t>((total - done) * volume_.bytesPerSector / speed, std::numeric_limits<int32_t>::max()));
      lastEstimate = now;
    }
    if (progress_) {
      const int32_t percent = static_cast<int32_t>(done * 100 / total);
      if (int32_t stop = progress_(percent, scale_, secondsLeft, 0, 0, 0); stop != 0) return stop;
    }
  }
  return kSuccess;
}

ScanLogRecord CFastNtfsRecovery::MakeEntry(uint32_t number, const MftFileSummary& summary, bool folder) const {
  ScanLogRecord r;
  r.VolumeLetter = sourceId_;
  r.EngineCode = kEngineFastNtfs;
  r.IsFolder = folder ? 1 : 0;
  r.Intact = 1;
  r.ItemId = number;
  r.ClusterBytes = volume_.sectorsPerCluster * volume_.bytesPerSector;
  r.CreationTime = summary.fileName.creationTime;
  r.AccessTime = summary.fileName.accessTime;
  r.WriteTime = summary.fileName.writeTime;
  r.FileSize = summary.fileName.realSize;
  if (summary.data.present && (summary.data.resident || summary.data.lowestVcn == 0))
    r.FileSize = summary.data.realSize;
  r.DataAreaSector = 0;
  r.LocationSector = MftRecordSector(volume_, number);
  r.PartitionStart = volume_.partitionFirstSector;
  r.SetName(Utf16LeBytesToUtf8(summary.fileName.name));
  return r;
}

void CFastNtfsRecovery::ProcessDeletedRecord(uint32_t number, std::span<uint8_t> record) {
  // Only records that are neither in use nor a directory are deleted files;
  // this test runs on every record, before any other work.
  ByteReader header(record);
  if (!header.Equals(0, "FILE") || header.U16(0x16) != 0) return;
  if (number <= kNtfsLastMetadataRecord) return;
  if (!ApplyFixups(record)) return;
  MftFileSummary summary;
  if (SummarizeFileRecord(record, summary) != RecordParse::Ok || !summary.hasFileName) return;

  ScanLogRecord entry = MakeEntry(number, summary, false);
  const FolderRef parent = ResolveFolder(summary.fileName.parentRecord, summary.fileName.parentSequence);
  entry.Intact = CheckIntact(entry, summary, record);
  ScanLogRecord& slot = log_->NewRecord();
  entry.RecordNumber = log_->RecordCount();
  slot = entry;
  log_->LinkRecord(MakeFolderKey(parent.depth, parent.id), entry.RecordNumber, number, nullptr);
}

const CFastNtfsRecovery::FolderRecordInfo& CFastNtfsRecovery::FolderRecord(uint32_t record) {
  auto [it, added] = folderRecords_.try_emplace(record);
  FolderRecordInfo& info = it->second;
  if (!added) return info;
  if (ReadMftRecordByNumber(volume_, record, recordBuffer_) != kSuccess) return info;
  MftFileSummary summary;
  if (!MftRecordView(recordBuffer_).IsFile() || !ApplyFixups(recordBuffer_) ||
      SummarizeFileRecord(recordBuffer_, summary) != RecordParse::Ok)
    return info;
  const MftRecordView view(recordBuffer_);
  info.inUse = view.InUse();
  info.sequence = ByteReader(recordBuffer_).U16(0x10);
  if (!view.IsDirectory() || !summary.hasFileName) return info;
  info.directory = true;
  info.parent = summary.fileName.parentRecord;
  info.parentSequence = summary.fileName.parentSequence;
  info.entry = static_cast<uint32_t>(folderEntries_.size());
  folderEntries_.push_back(MakeEntry(record, summary, true));
  return info;
}

namespace {

// Whether a folder record is still the folder that a parent reference with
// this sequence number named. Freeing a record raises its sequence number by
// one, so a deleted folder carries the next number; any other difference
// means the record was given to something else since. A reference without a
// sequence number is not checked.
bool IsSameFolder(bool inUse, uint16_t recordSequence, uint16_t referenceSequence) {
  if (referenceSequence == 0 || recordSequence == referenceSequence) return true;
  const uint16_t next = referenceSequence == 0xFFFF ? 1 : referenceSequence + 1;
  return !inUse && recordSequence == next;
}

// Identifier of the made-up folder for a parent that no longer exists. A
// record that now holds another folder keeps its own number for that folder,
// so the made-up one is told apart by the top bit.
constexpr uint32_t kStaleFolderBit = 0x80000000u;

}  // namespace

// The folder a parent reference names, with the depth of the key its contents
// are listed under (the folders from the root down to it, itself included).
// Each folder record is read once per scan. A parent that is gone (unreadable,
// not a directory, or its record reused since) becomes a lost folder in the
// root. A chain of parents that leads back into itself is cut and its last
// folder is listed in the root, so the folders always form a tree.
CFastNtfsRecovery::FolderRef CFastNtfsRecovery::ResolveFolder(uint32_t record, uint16_t sequence) {
  if (record == kNtfsRootRecord) return {};
  // Most references name a folder met before.
  if (auto it = folders_.find(record);
      it != folders_.end() && (it->second.lost || IsSameFolder(it->second.inUse, it->second.sequence, sequence)))
    return {record, it->second.depth};
  chain_.clear();
  uint32_t current = record;
  uint16_t currentSequence = sequence;
  FolderRef anchor;  // where the chain hangs: the root unless found otherwise
  while (current != kNtfsRootRecord) {
    const FolderRecordInfo& info = FolderRecord(current);
    if (current <= kNtfsLastMetadataRecord || !info.directory ||
        !IsSameFolder(info.inUse, info.sequence, currentSequence)) {
      const uint32_t id = info.directory && current > kNtfsLastMetadataRecord ? current | kStaleFolderBit : current;
      auto [it, added] = folders_.try_emplace(id);
      if (added) {
        it->second.lost = true;
        it->second.record = current;
        pendingFolders_.push_back(id);
      }
      anchor = {id, it->second.depth};
      break;
    }
    if (auto it = folders_.find(current); it != folders_.end()) {
      anchor = {current, it->second.depth};
      break;
    }
    const bool cycle = std::any_of(chain_.begin(), chain_.end(), [&](const auto& c) { return c.first == current; });
    if (cycle || chain_.size() >= kMaxFolderDepth) break;
    FolderNode node;
    node.record = current;
    node.inUse = info.inUse;
    node.sequence = info.sequence;
    node.entry = info.entry;
    chain_.emplace_back(current, std::move(node));
    pendingFolders_.push_back(current);
    current = info.parent;
    currentSequence = info.parentSequence;
  }
  for (size_t i = chain_.size(); i-- > 0;) {
    FolderNode& node = chain_[i].second;
    const FolderRef above =
        i + 1 == chain_.size() ? anchor : FolderRef{chain_[i + 1].first, chain_[i + 1].second.depth};
    node.linkParent = above.id;
    node.depth = above.depth + 1;
  }
  const FolderRef result = chain_.empty() ? anchor : FolderRef{chain_.front().first, chain_.front().second.depth};
  for (auto& [id, node] : chain_) folders_.emplace(id, std::move(node));
  chain_.clear();
  return result;
}

void CFastNtfsRecovery::WritePendingFolders() {
  for (uint32_t id : pendingFolders_) {
    const FolderNode& node = folders_.at(id);
    ScanLogRecord& slot = log_->NewRecord();
    const uint32_t recordNumber = log_->RecordCount();
    if (node.lost) {
      ScanLogRecord lost;
      lost.VolumeLetter = sourceId_;
      lost.EngineCode = kEngineFastNtfs;
      lost.IsFolder = 1;
      lost.Intact = 1;
      lost.RecordNumber = recordNumber;
      lost.ItemId = id;
      lost.ClusterBytes = kNoClusterSize;
      lost.DataAreaSector = 0;
      char name[32];
      std::snprintf(name, sizeof name, "LostFolder%u", node.record);
      lost.SetName(name);
      slot = lost;
      log_->LinkRecord(MakeFolderKey(0, kNtfsRootRecord), recordNumber, id, slot.Name.data());
      continue;
    }
    slot = folderEntries_[node.entry];
    slot.RecordNumber = recordNumber;
    log_->LinkRecord(MakeFolderKey(node.depth - 1, node.linkParent), recordNumber, id, slot.Name.data());
  }
}

uint32_t CFastNtfsRecovery::CheckIntact(const ScanLogRecord& entry, const MftFileSummary& summary,
                                        std::span<const uint8_t> record) {
  const std::string extension = LowerExtension(entry.NameView());
  if (summary.data.present && summary.data.resident) {
    if (summary.data.residentValue.empty()) return 0;
    if (extension.empty()) return 1;
    return ContentMatchesExtension(summary.data.residentValue, extension, device_, volume_.bytesPerSector, 0) ? 1 : 0;
  }
  if (extension.empty() || (!summary.data.present && !summary.hasAttributeList)) return 1;
  // The first run: from the $DATA attribute at hand, or through the attribute list.
  runScratch_.clear();
  if (summary.hasAttributeList) {
    AttributeRuns runs;
    if (CollectAttributeRuns(volume_, record, kAttrData, runs) != kSuccess) return 1;
    runScratch_ = std::move(runs.runs);
  } else {
    const ByteReader reader(record);
    const uint32_t offset = summary.data.attributeOffset;
    DecodeRunList(reader.Sub(offset, reader.U32(offset + 4)), runScratch_);
  }
  ClusterExtent first;
  ExtentWalker walker(runScratch_);
  if (!walker.Next(first) || first.sparse) return 1;
  const uint64_t sector = volume_.partitionFirstSector + SaturatingMul(first.firstCluster, volume_.sectorsPerCluster);
  if (sector == 0) return 1;
  uint32_t read = 0;
  if (ReadSectors(1, device_, sectorBuffer_.data(), sector, volume_.bytesPerSector, read) != kSuccess) return 1;
  return ContentMatchesExtension(sectorBuffer_, extension, device_, volume_.bytesPerSector, sector) ? 1 : 0;
}

ResultCode CFastNtfsRecovery::QueryFolder(const ScanLogRecord* folder, uint32_t depth,
                                          std::vector<ScanLogRecord>& out) {
  if (!folder && depth != 0) return kInvalidParameter;
  if (!log_) return kSuccess;
  log_->FlushLog();
  const uint32_t id = folder && folder->ItemId != 0 ? folder->ItemId : kNtfsRootRecord;
  return log_->ListFolder(MakeFolderKey(depth, id), out);
}

ResultCode CFastNtfsRecovery::QueryFileCount(const ScanLogRecord* folder, uint32_t depth, uint32_t& count) {
  count = 0;
  if (!folder && depth != 0) return kInvalidParameter;
  if (!log_) return kSuccess;
  log_->FlushLog();
  const uint32_t id = folder && folder->ItemId != 0 ? folder->ItemId : kNtfsRootRecord;
  return log_->CountFilesBelow(MakeFolderKey(depth, id), count);
}

uint64_t CFastNtfsRecovery::GetRecordCount() { return log_ ? log_->RecordCount() : 0; }

ResultCode CFastNtfsRecovery::QueryFolderPath(const ScanLogRecord& record, std::string& path) {
  path.clear();
  if (!log_) return kSuccess;
  return log_->GetFolderPath(record, path);
}

ResultCode CFastNtfsRecovery::SetSearchProgress(SearchProgressCallback callback) {
  searchProgress_ = std::move(callback);
  if (log_) log_->SetQueryProgress(searchProgress_);
  return kSuccess;
}

ResultCode CFastNtfsRecovery::QueryCategory(const std::string& filter, std::vector<ScanLogRecord>& out) {
  if (!log_) return kSuccess;
  return log_->ListCategory(filter, out);
}

// Reads the MFT record of a found item into recordBuffer_ and repairs it. The
// record is read by its number where that gives the same place, so a record
// that crosses from one MFT run into the next is read whole.
ResultCode CFastNtfsRecovery::ReadBaseRecord(const ScanLogRecord& record) {
  if (openResult_ != kSuccess) return openResult_;
  ResultCode rc = MftRecordSector(volume_, record.ItemId) == record.LocationSector
                      ? ReadMftRecordByNumber(volume_, record.ItemId, recordBuffer_)
                      : ReadMftRecord(volume_, record.LocationSector, recordBuffer_);
  if (rc != kSuccess) return rc;
  if (!MftRecordView(recordBuffer_).IsFile() || !ApplyFixups(recordBuffer_)) return kNtfsNotFileRecord;
  return kSuccess;
}

// Hands the file's bytes (at most maxBytes) to `sink` in pieces of up to 64 KiB
// (see CopyNtfsFileData); `progress` can stop the copy.
ResultCode CFastNtfsRecovery::CopyItemData(const ScanLogRecord& record, uint64_t maxBytes, const ChunkSink& sink,
                                           const PercentCallback& progress, bool& stopped) {
  stopped = false;
  if (ResultCode rc = ReadBaseRecord(record); rc != kSuccess) return rc;
  return CopyNtfsFileData(volume_, recordBuffer_, record.PartitionStart, record.FileSize, maxBytes, sink, progress,
                          stopped, dataBuffer_);
}

ResultCode CFastNtfsRecovery::WriteFoundFile(const ScanLogRecord& record, const std::string& path) {
  auto report = [&](ResultCode code) {
    if (fileProgress_) fileProgress_(100, 100, code, path);
    return code;
  };
  // The file is created with its first bytes, so a record that turns out to
  // hold no file any more leaves nothing behind.
  FileHandle out;
  auto create = [&] { return out.IsOpen() ? kSuccess : CreateOutputFile(path, out); };
  bool stopped = false;
  ResultCode rc = CopyItemData(
      record, std::numeric_limits<uint64_t>::max(),
      [&](std::span<const uint8_t> bytes) {
        if (ResultCode opened = create(); opened != kSuccess) return opened;
        return WriteAll(out, bytes.data(), bytes.size());
      },
      [&](int32_t percent) { return fileProgress_ ? fileProgress_(percent, 100, kSuccess, path) : 0; }, stopped);
  if (stopped) return rc;
  if (rc == kSuccess) rc = create();  // an empty file
  // A record that is no longer a file record, or has no data: the file is gone.
  if (rc == kNtfsNotFileRecord || rc == kNtfsAttributeNotFound) rc = kFileNotFound;
  return report(rc);
}

ResultCode CFastNtfsRecovery::RecoverItem(const ScanLogRecord& record, const std::string& destination,
                                          int32_t /*rootSeparators*/) {
  if (record.IsFolderRecord()) return RecoverFolder(record, destination);
  return WriteFoundFile(record, destination);
}

// Writes a folder and everything below it. The depth of each folder's contents
// is taken from the log (the folders above it, plus one), not from the
// destination path, so it holds wherever the folder is written.
ResultCode CFastNtfsRecovery::RecoverFolder(const ScanLogRecord& folder, const std::string& destination) {
  if (!log_) return kInvalidParameter;
  if (ResultCode rc = CreateFolders(destination); rc != kSuccess && rc != kAlreadyExists) return rc;
  log_->FlushLog();
  std::vector<ScanLogRecord> ancestors;
  log_->GetAncestorFolders(&folder, ancestors);

  struct Pending {
    ScanLogRecord folder;
    std::string path;
    uint32_t depth;
  };
  std::deque<Pending> queue;
  queue.push_back({folder, destination, static_cast<uint32_t>(ancestors.size()) + 1});
  std::set<FolderKey> visited;
  ResultCode result = kSuccess;
  std::vector<ScanLogRecord> children;
  while (!queue.empty()) {
    Pending current = std::move(queue.front());
    queue.pop_front();
    const FolderKey key = MakeFolderKey(current.depth, current.folder.ItemId ? current.folder.ItemId : kNtfsRootRecord);
    if (!visited.insert(key).second) continue;
    children.clear();
    log_->ListFolder(key, children);
    for (const ScanLogRecord& child : children) {
      const std::string path = MakeUniquePath(JoinBelow(current.path, child.NameView()));
      if (child.IsFolderRecord()) {
        if (ResultCode rc = CreateFolders(path); rc != kSuccess && rc != kAlreadyExists) {
          if (result == kSuccess) result = rc;
          continue;
        }
        queue.push_back({child, path, current.depth + 1});
        continue;
      }
      ResultCode rc = WriteFoundFile(child, path);
      if (rc == kScanStopCode) return rc;
      if (rc != kSuccess && result == kSuccess) result = rc;
    }
  }
  return result;
}

ResultCode CFastNtfsRecovery::ReadItemData(const ScanLogRecord& record, std::string& tempPath,
                                           std::span<uint8_t> buffer, uint32_t& size, ReadProgressCallback progress) {
  tempPath.clear();
  size = 0;
  const std::string extension = LowerExtension(record.NameView());
  std::string target;
  if (!extension.empty()) {
    if (ListContains(kOfficeArchiveList, extension)) target = JoinBelow(ScanLogRoot(), record.NameView());
    if (ListContains(kPictureList, extension)) target = ScanLogRoot() + "/tmp.jpg";
    if (ListContains(kAudioList, extension) || ListContains(kVideoList, extension)) target = ScanLogRoot() + "/tmp.avi";
  }
  auto report = [&](ResultCode code) {
    if (progress) progress(100, code);
    return code;
  };

  FileHandle file;
  if (!target.empty()) {
    std::remove(target.c_str());
    if (ResultCode rc = CreateOutputFile(target, file); rc != kSuccess) return report(rc);
    tempPath = target;
  }
  bool stopped = false;
  uint64_t copied = 0;
  const uint64_t limit = file.IsOpen() ? std::numeric_limits<uint64_t>::max() : buffer.size();
  ResultCode rc = CopyItemData(
      record, limit,
      [&](std::span<const uint8_t> bytes) {
        if (file.IsOpen()) return WriteAll(file, bytes.data(), bytes.size());
        std::copy(bytes.begin(), bytes.end(), buffer.begin() + static_cast<ptrdiff_t>(copied));
        copied += bytes.size();
        return kSuccess;
      },
      [&](int32_t percent) { return progress ? progress(percent, kSuccess) : 0; }, stopped);
  if (rc == kNtfsNotFileRecord || rc == kNtfsAttributeNotFound) rc = kFileNotFound;
  if (!stopped) report(rc);
  if (rc != kSuccess && file.IsOpen()) {
    file.Close();
    std::remove(target.c_str());
    tempPath.clear();
  }
  size = static_cast<uint32_t>(copied);
  return rc;
}

ResultCode CFastNtfsRecovery::LoadAllocationBitmap() {
  bitmap_.clear();
  if (openResult_ != kSuccess) return openResult_;
  if (ResultCode rc = ReadMftRecordByNumber(volume_, kNtfsBitmapRecord, recordBuffer_); rc != kSuccess) return rc;
  if (!MftRecordView(recordBuffer_).IsFile() || !ApplyFixups(recordBuffer_)) return kNtfsNotFileRecord;
  AttributeRuns runs;
  if (ResultCode rc = CollectAttributeRuns(volume_, recordBuffer_, kAttrData, runs); rc != kSuccess) return rc;

  const uint32_t bps = volume_.bytesPerSector;
  const uint64_t clusterBytes = uint64_t{bps} * volume_.sectorsPerCluster;
  // Never more than the volume's clusters need, whatever the run list claims.
  const uint64_t needed = (partitionSectorCount_ / volume_.sectorsPerCluster + 7) / 8;
  const uint64_t allocated = std::min(SaturatingMul(RunClusters(runs.runs), clusterBytes),
                                      (needed + clusterBytes - 1) / clusterBytes * clusterBytes);
  // Parts whose read fails stay 0 (free): the deep scan then looks at them too.
  bitmap_.assign(allocated, 0);
  uint64_t position = 0;
  ExtentWalker walker(runs.runs);
  ClusterExtent extent;
  while (position < allocated && walker.Next(extent)) {
    const uint64_t bytes = std::min(SaturatingMul(extent.clusterCount, clusterBytes), allocated - position);
    if (!extent.sparse) {
      const uint64_t first =
          volume_.partitionFirstSector + SaturatingMul(extent.firstCluster, volume_.sectorsPerCluster);
      for (uint64_t offset = 0; offset < bytes; offset += kDataChunk) {
        const uint64_t piece = std::min<uint64_t>(kDataChunk, bytes - offset);
        uint32_t read = 0;
        ReadSectors(static_cast<int32_t>(piece / bps), device_, bitmap_.data() + position + offset,
                    first + offset / bps, bps, read);
      }
    }
    position += bytes;
  }
  bitmap_.resize(std::min(runs.realSize, allocated));
  return kSuccess;
}

ResultCode CFastNtfsRecovery::FindFreeRun(uint64_t& sector, uint64_t& sectorCount) {
  constexpr ResultCode kDone = 1;
  sectorCount = 0;
  if (sector > partitionSectorCount_) {
    sector = partitionSectorCount_;
    return kDone;
  }
  const uint64_t spc = volume_.sectorsPerCluster;
  const uint64_t bits = uint64_t{bitmap_.size()} * 8;
  auto allocated = [&](uint64_t c) { return (bitmap_[c / 8] >> (c % 8)) & 1; };
  uint64_t cluster = sector / spc;
  if (cluster >= bits) return kDone;

  uint64_t c = cluster;
  while (c < bits && allocated(c)) c = (c % 8 == 0 && bitmap_[c / 8] == 0xFF) ? c + 8 : c + 1;
  if (c >= bits) return kDone;
  if (c != cluster) sector = c * spc;
  uint64_t end = c;
  while (end < bits && !allocated(end)) end = (end % 8 == 0 && bitmap_[end / 8] == 0x00) ? end + 8 : end + 1;
  end = std::min(end, bits);
  sectorCount = end * spc - sector;
  if (sector >= partitionSectorCount_)
    sectorCount = 0;
  else if (sectorCount > partitionSectorCount_ - sector)
    sectorCount = partitionSectorCount_ - sector;
  return kDone;
}

}  // namespace selvane
