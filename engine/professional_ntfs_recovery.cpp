#include "engine/professional_ntfs_recovery.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <deque>
#include <limits>
#include <set>

#include "engine/file_system_probes.h"
#include "engine/ntfs_cluster_size.h"
#include "engine/ntfs_file_data.h"
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
constexpr uint32_t kExtendRecord = 11;  // $Extend: the folder of NTFS's own files
// Longest folder chain followed; a deeper one is cut and its top listed in the root.
constexpr size_t kMaxFolderDepth = 8192;
// Folder identifiers of folders that are not the current folder of their record.
constexpr uint32_t kStaleFolderBit = 0x80000000u;

bool IsRecordSize(uint32_t size, uint32_t sectorSize) {
  return size >= 1024 && size <= CProfessionalNtfsRecovery::kMaxRecordBytes && (size & (size - 1)) == 0 &&
         sectorSize != 0 && size % sectorSize == 0;
}

std::string LowerExtension(std::string_view name) { return AsciiLower(ExtensionOf(name)); }

bool IsMftName(std::span<const uint8_t> utf16) { return AsciiLower(Utf16LeBytesToUtf8(utf16)) == "$mft"; }

// Whether a folder record is still the folder that a parent reference with
// this sequence number named. Freeing a record raises its sequence number by
// one, so a deleted folder carries the next number; any other difference
// means the record went to another folder since. A reference without a
// sequence number is not checked.
bool IsSameFolder(bool inUse, uint16_t recordSequence, uint16_t referenceSequence) {
  if (referenceSequence == 0 || recordSequence == referenceSequence) return true;
  const uint16_t next = referenceSequence == 0xFFFF ? 1 : referenceSequence + 1;
  return !inUse && recordSequence == next;
}

// The runs of the first unnamed $DATA of a repaired record, as far as that
// record holds them: 0 (no runs for resident data), or kNtfsAttributeNotFound.
ResultCode FirstDataRuns(std::span<const uint8_t> record, std::vector<MftRun>& runs) {
  AttributeWalker walker(record);
  NtfsAttribute a;
  while (walker.Next(a)) {
    if (a.type != kAttrData || a.bytes.U8(0x09) != 0) continue;
    if (!a.nonResident) return kSuccess;
    if (a.LowestVcn() != 0) return kNtfsAttributeNotFound;
    DecodeRunList(a.bytes, runs);
    return kSuccess;
  }
  return kNtfsAttributeNotFound;
}

// Whether a repaired record is an MFT's own record: record 0, named "$MFT".
bool IsMftRecord(std::span<const uint8_t> record) {
  const MftRecordView view(record);
  MftFileSummary summary;
  return !view.IsDirectory() && view.HasRecordNumber() && view.RecordNumber() == 0 &&
         SummarizeFileRecord(record, summary) == RecordParse::Ok && summary.hasFileName &&
         IsMftName(summary.fileName.name);
}

uint64_t NodeKey(uint32_t volume, uint32_t record, bool stale) {
  return (uint64_t{volume} << 33) | (uint64_t{stale} << 32) | record;
}

uint64_t FolderRecordKey(uint32_t volume, uint32_t record) { return (uint64_t{volume} << 32) | record; }

}  // namespace

CProfessionalNtfsRecovery::CProfessionalNtfsRecovery()
    : record_(kMaxRecordBytes), folderRecord_(kMaxRecordBytes), itemRecord_(kMaxRecordBytes), sector_(512) {
  // Until a source is opened every read finds an empty device.
  volumes_.Reset(&device_, bytesPerSector_, 0);
}

CProfessionalNtfsRecovery::~CProfessionalNtfsRecovery() {
  if (log_) log_->CloseLog();
}

// ---- Opening ----

ResultCode CProfessionalNtfsRecovery::OpenPartition(int32_t driveNumber, uint64_t firstSector, uint64_t sectorCount,
                                                    uint16_t sourceId) {
  if (ResultCode rc = OpenDriveHandle(driveNumber, bootDevice_); rc != kSuccess) return openResult_ = rc;
  sourceId_ = sourceId;
  bytesPerSector_ = GetDriveSectorSize(bootDevice_);
  partitionFirstSector_ = firstSector;
  partitionSectorCount_ = sectorCount;
  sectorsPerCluster_ = GuessNtfsSectorsPerCluster(bytesPerSector_, sectorCount);
  if (ResultCode rc = OpenPhysicalDrive(driveNumber, device_); rc != kSuccess) return openResult_ = rc;
  std::vector<uint8_t> boot(kBootBytes);
  const ssize_t n = bootDevice_.handle.ReadAt(boot.data(), boot.size(), firstSector * bytesPerSector_);
  if (n < 0) return openResult_ = LastResult();
  if (n == 0) return openResult_ = kReadFault;
  boot.resize(static_cast<size_t>(n));
  return FinishOpen(boot);
}

ResultCode CProfessionalNtfsRecovery::OpenImage(const std::string& imagePath, uint16_t sourceId) {
  if (ResultCode rc = OpenFile(imagePath, OpenMode::ReadOnly, bootDevice_.handle); rc != kSuccess)
    return openResult_ = rc;
  if (ResultCode rc = OpenImageFile(imagePath, device_); rc != kSuccess) return openResult_ = rc;
  sourceId_ = sourceId;
  bytesPerSector_ = 512;
  partitionFirstSector_ = 0;
  partitionSectorCount_ = device_.totalSectors;
  sectorsPerCluster_ = GuessNtfsSectorsPerCluster(bytesPerSector_, partitionSectorCount_);
  std::vector<uint8_t> boot(kBootBytes);
  const ssize_t n = bootDevice_.handle.ReadAt(boot.data(), boot.size(), 0);
  if (n < 0) return openResult_ = LastResult();
  boot.resize(static_cast<size_t>(n));
  return FinishOpen(boot);
}

// The boot sector, when the source still has one, names its MFT; everything
// else is learned from the records the deep scan finds.
ResultCode CProfessionalNtfsRecovery::FinishOpen(std::span<const uint8_t> firstBytes) {
  volumes_.Reset(&device_, bytesPerSector_, partitionFirstSector_);
  sector_.assign(bytesPerSector_, 0);
  openResult_ = kSuccess;
  NtfsGeometry g;
  if (!IsNtfsBootSector(firstBytes) || !ReadNtfsGeometry(firstBytes, g)) return kSuccess;
  const uint64_t clusterBytes = uint64_t{g.bytesPerSector} * g.sectorsPerCluster;
  if (clusterBytes % bytesPerSector_ != 0) return kSuccess;
  const uint32_t spc = static_cast<uint32_t>(clusterBytes / bytesPerSector_);
  uint64_t offset = 0;
  if (__builtin_mul_overflow(g.mftCluster, spc, &offset)) return kSuccess;
  sectorsPerCluster_ = static_cast<int32_t>(spc);
  const uint64_t mftSector = partitionFirstSector_ + offset;
  std::span<uint8_t> record;
  std::vector<MftRun> runs;
  if (ReadRecordAt(mftSector, itemRecord_, record) != kSuccess || !IsMftRecord(record) ||
      FirstDataRuns(record, runs) != kSuccess)
    return kSuccess;
  volumes_.AddMft(mftSector, runs, spc, static_cast<uint32_t>(record.size()));
  return kSuccess;
}

ResultCode CProfessionalNtfsRecovery::SetCallbacks(ProgressCallback progress, FileProgressCallback fileProgress,
                                                   int32_t scale) {
  progress_ = std::move(progress);
  fileProgress_ = std::move(fileProgress);
  scale_ = scale;
  return kSuccess;
}

ResultCode CProfessionalNtfsRecovery::Scan(const std::string& /*logName*/) { return kSuccess; }

// ---- Records ----

uint32_t CProfessionalNtfsRecovery::FoundRecordSize(std::span<const uint8_t> sector, uint32_t sectorSize) {
  ByteReader r(sector);
  if (!r.Fits(0, kFixupStride) || !r.Equals(0, "FILE")) return 0;
  const uint32_t size = r.U32(0x1C);
  if (!IsRecordSize(size, sectorSize) || r.U32(0x18) > size) return 0;
  const uint32_t arrayOffset = r.U16(0x04);
  const uint32_t arrayCount = r.U16(0x06);
  if (arrayCount != size / kFixupStride + 1 || arrayOffset < 0x28 || arrayOffset % 2 != 0 ||
      arrayOffset + 2 * arrayCount > kFixupStride - 2)
    return 0;
  return r.U16(arrayOffset) == r.U16(kFixupStride - 2) ? size : 0;
}

// Copies a found record into `dest` (unless it is already there), repairs it
// and checks that its header agrees with itself. `record` then views the
// repaired record, exactly its allocated size long.
ResultCode CProfessionalNtfsRecovery::PrepareRecord(std::span<const uint8_t> bytes, std::vector<uint8_t>& dest,
                                                    std::span<uint8_t>& record) {
  ByteReader r(bytes);
  if (!r.Equals(0, "FILE")) return kNtfsNotFileRecord;
  const uint32_t size = r.U32(0x1C);
  if (!IsRecordSize(size, bytesPerSector_) || size > bytes.size()) return kInvalidParameter;
  if (bytes.data() != dest.data()) std::memmove(dest.data(), bytes.data(), size);
  record = std::span<uint8_t>(dest.data(), size);
  if (!ApplyFixups(record)) return kInvalidParameter;
  const ByteReader header(record);
  const uint32_t inUse = header.U32(0x18);
  const uint32_t first = header.U16(0x14);
  if (inUse > size || first > size || first > inUse) return kInvalidParameter;
  return kSuccess;
}

// Reads the record that begins at an absolute sector into `buffer` and
// prepares it.
ResultCode CProfessionalNtfsRecovery::ReadRecordAt(uint64_t sector, std::vector<uint8_t>& buffer,
                                                   std::span<uint8_t>& record) {
  if (sector >= device_.totalSectors) return kInvalidParameter;
  const uint64_t count =
      std::min<uint64_t>(std::max<uint32_t>(1, kMaxRecordBytes / bytesPerSector_), device_.totalSectors - sector);
  buffer.resize(std::max<size_t>(buffer.size(), count * bytesPerSector_));
  uint32_t read = 0;
  ResultCode rc = ReadSectors(static_cast<int32_t>(count), device_, buffer.data(), sector, bytesPerSector_, read);
  if (read == 0) return rc != kSuccess ? rc : kReadFault;
  return PrepareRecord(std::span<const uint8_t>(buffer.data(), size_t{read} * bytesPerSector_), buffer, record);
}

ResultCode CProfessionalNtfsRecovery::ProcessFoundRecord(std::span<const uint8_t> record, uint64_t sector, int32_t pass,
                                                         uint32_t recordNumber) {
  if (pass == 1) return ProcessFolderRecord(record, sector, recordNumber);
  if (pass != 0 || !log_) return kInvalidParameter;
  ByteReader header(record);
  if (!header.Equals(0, "FILE")) return kNtfsNotFileRecord;
  // Directories are listed only as the folders of files found below them.
  if (header.U16(0x16) & kMftRecordDirectory) return kSuccess;
  std::span<uint8_t> repaired;
  if (ResultCode rc = PrepareRecord(record, record_, repaired); rc != kSuccess) return rc;
  return ProcessFile(repaired, sector);
}

void CProfessionalNtfsRecovery::RememberMft(std::span<const uint8_t> record, uint64_t sector) {
  std::vector<MftRun> runs;
  if (FirstDataRuns(record, runs) != kSuccess) return;
  uint32_t spc = LearnSectorsPerCluster(record, bytesPerSector_);
  if (spc != 0)
    sectorsPerCluster_ = static_cast<int32_t>(spc);
  else
    spc = static_cast<uint32_t>(sectorsPerCluster_);
  volumes_.AddMft(sector, runs, spc, static_cast<uint32_t>(record.size()));
}

// The first record of a volume whose MFT is not known yet: where its number
// puts record 0 of a contiguous MFT, a "$MFT" record makes the layout known.
// So a record met before its MFT's own record (the walk continued a stopped
// scan, or the MFT's first run lies behind a later one) is still placed on
// its volume. Each volume is looked at once.
void CProfessionalNtfsRecovery::LookForMftRecord(const FoundNtfsVolume& volume) {
  if (volume.mft.mftRuns.empty() || !probedVolumes_.insert(volume.id).second) return;
  std::span<uint8_t> record;
  if (ReadRecordAt(volume.mft.mftFirstSector, itemRecord_, record) != kSuccess || !IsMftRecord(record)) return;
  RememberMft(record, volume.mft.mftFirstSector);
}

uint32_t CProfessionalNtfsRecovery::ClusterBytesFor(uint32_t sectorsPerCluster) const {
  return sectorsPerCluster * bytesPerSector_;
}

ResultCode CProfessionalNtfsRecovery::ProcessFile(std::span<uint8_t> record, uint64_t sector) {
  MftFileSummary summary;
  if (SummarizeFileRecord(record, summary) != RecordParse::Ok) return kInvalidParameter;
  const MftRecordView view(record);
  // Records without their own number (NTFS before 3.1) cannot be placed.
  if (!view.HasRecordNumber()) return kInvalidParameter;
  const uint32_t number = view.RecordNumber();
  if (number == 0) {
    if (summary.hasFileName && IsMftName(summary.fileName.name)) RememberMft(record, sector);
    return kSuccess;
  }
  // The file system's own records, records without a name (extension records
  // of another file hold its further attributes) are not files to list.
  if (number <= kNtfsLastMetadataRecord || !summary.hasFileName || view.BaseRecord() != 0) return kSuccess;

  const uint32_t learned = LearnSectorsPerCluster(record, bytesPerSector_);
  if (learned != 0) sectorsPerCluster_ = static_cast<int32_t>(learned);
  const FoundNtfsVolume& volume = volumes_.Locate(number, sector, static_cast<uint32_t>(record.size()));
  if (!volume.mftKnown) LookForMftRecord(volume);
  bool system = false;
  const FolderRef parent =
      ResolveFolder(volume, summary.fileName.parentRecord, summary.fileName.parentSequence, system);
  if (system) return kSuccess;

  ScanLogRecord entry;
  entry.VolumeLetter = sourceId_;
  entry.EngineCode = kEngineProNtfs;
  entry.IsFolder = 0;
  entry.Intact = 1;
  entry.ItemId = number;
  const uint32_t spc = learned != 0                    ? learned
                       : volume.sectorsPerCluster != 0 ? volume.sectorsPerCluster
                                                       : static_cast<uint32_t>(sectorsPerCluster_);
  entry.ClusterBytes = ClusterBytesFor(spc);
  entry.CreationTime = summary.fileName.creationTime;
  entry.AccessTime = summary.fileName.accessTime;
  entry.WriteTime = summary.fileName.writeTime;
  entry.FileSize = summary.fileName.realSize;
  if (summary.data.present && (summary.data.resident || summary.data.lowestVcn == 0))
    entry.FileSize = summary.data.realSize;
  entry.DataAreaSector = 0;
  entry.LocationSector = sector;
  entry.PartitionStart = volume.partitionStart;
  entry.SetName(Utf16LeBytesToUtf8(summary.fileName.name));
  entry.Intact = CheckIntact(entry, summary, record);

  ScanLogRecord& slot = log_->NewRecord();
  entry.RecordNumber = log_->RecordCount();
  slot = entry;
  log_->LinkRecord(MakeFolderKey(parent.depth, parent.id), entry.RecordNumber, number, nullptr);
  return kSuccess;
}

uint32_t CProfessionalNtfsRecovery::CheckIntact(const ScanLogRecord& entry, const MftFileSummary& summary,
                                                std::span<const uint8_t> record) {
  const std::string extension = LowerExtension(entry.NameView());
  if (summary.data.present && summary.data.resident) {
    if (summary.data.residentValue.empty()) return 0;
    if (extension.empty()) return 1;
    return ContentMatchesExtension(summary.data.residentValue, extension, device_, bytesPerSector_, 0) ? 1 : 0;
  }
  if (extension.empty()) return 1;
  runs_.clear();
  if (FirstDataRuns(record, runs_) != kSuccess || runs_.empty() || runs_.front().sparse) return 1;
  const uint64_t cluster = static_cast<uint64_t>(runs_.front().lcnDelta);
  uint64_t offset = 0;
  if (runs_.front().lcnDelta <= 0 ||
      __builtin_mul_overflow(cluster, uint64_t{entry.ClusterBytes / bytesPerSector_}, &offset))
    return 1;
  const uint64_t sector = entry.PartitionStart + offset;
  uint32_t read = 0;
  if (ReadSectors(1, device_, sector_.data(), sector, bytesPerSector_, read) != kSuccess) return 1;
  return ContentMatchesExtension(sector_, extension, device_, bytesPerSector_, sector) ? 1 : 0;
}

// ---- Folders ----

const CProfessionalNtfsRecovery::FolderRecordInfo& CProfessionalNtfsRecovery::FolderRecord(
    const FoundNtfsVolume& volume, uint32_t number) {
  auto [it, added] = folderRecords_.try_emplace(FolderRecordKey(volume.id, number));
  FolderRecordInfo& info = it->second;
  if (!added) return info;
  info.sector = MftRecordSector(volume.mft, number);
  std::span<uint8_t> record(folderRecord_.data(), volume.mft.recordSize);
  if (ReadMftRecordByNumber(volume.mft, number, record) != kSuccess) return info;
  const MftRecordView view(record);
  if (!view.IsFile() || !ApplyFixups(record) || !view.IsDirectory() || view.BaseRecord() != 0) return info;
  if (view.HasRecordNumber() && view.RecordNumber() != number) return info;
  MftFileName name;
  if (!FirstFileName(record, name)) return info;
  info.directory = true;
  info.inUse = view.InUse();
  info.sequence = ByteReader(record).U16(0x10);
  info.parent = name.parentRecord;
  info.parentSequence = name.parentSequence;
  return info;
}

uint32_t CProfessionalNtfsRecovery::AllocateFolderId(uint32_t preferred) {
  if (!nodeById_.contains(preferred)) return preferred;
  while (nextFolderId_ <= kNtfsLastMetadataRecord || nodeById_.contains(nextFolderId_) ||
         logFolders_.contains(nextFolderId_))
    ++nextFolderId_;
  return nextFolderId_++;
}

// The node of a folder, made on first sight. A folder that a continued log
// already holds is taken as written, with the depth it has there.
size_t CProfessionalNtfsRecovery::NodeFor(const FoundNtfsVolume& volume, uint32_t record, bool stale, bool lost,
                                          uint64_t sector) {
  auto [it, added] = nodeIndex_.try_emplace(NodeKey(volume.id, record, stale), nodes_.size());
  if (!added) return it->second;
  FolderNode node;
  node.id = AllocateFolderId(stale ? record | kStaleFolderBit : record);
  node.volume = volume.id;
  node.record = record;
  node.lost = lost;
  node.sector = sector;
  if (auto known = logFolders_.find(node.id); known != logFolders_.end()) {
    node.written = true;
    node.depth = known->second;
  }
  nodeById_.emplace(node.id, nodes_.size());
  nodes_.push_back(node);
  if (!node.written) pendingFolders_.push_back(nodes_.size() - 1);
  return nodes_.size() - 1;
}

// The folder a parent reference names, with the depth of the key its
// contents are listed under (the folders from the root down to it, itself
// included). The folders met on the way up are queued. A parent that is gone
// (unreadable, not a directory of that number, or one of the file system's
// own records) or whose record went to another folder since becomes a lost
// folder in the root. A chain that leads back into itself, or deeper than
// any real one, is cut and its top listed in the root, so the folders always
// form a tree. `system` is set for a file below $Extend.
CProfessionalNtfsRecovery::FolderRef CProfessionalNtfsRecovery::ResolveFolder(const FoundNtfsVolume& volume,
                                                                              uint32_t parent, uint16_t parentSequence,
                                                                              bool& system) {
  system = false;
  chain_.clear();
  FolderRef anchor;  // where the chain hangs: the root unless found otherwise
  uint32_t current = parent;
  uint16_t sequence = parentSequence;
  while (current != kNtfsRootRecord) {
    if (current == kExtendRecord) {
      system = true;
      return {};
    }
    const FolderRecordInfo info = FolderRecord(volume, current);
    const bool gone = current <= kNtfsLastMetadataRecord || !info.directory;
    const bool stale = !gone && !IsSameFolder(info.inUse, info.sequence, sequence);
    if (gone || stale) {
      const FolderNode& node = nodes_[NodeFor(volume, current, stale, true, info.sector)];
      anchor = {node.id, node.depth};
      break;
    }
    if (auto it = nodeIndex_.find(NodeKey(volume.id, current, false)); it != nodeIndex_.end()) {
      anchor = {nodes_[it->second].id, nodes_[it->second].depth};
      break;
    }
    if (!nodeById_.contains(current) && logFolders_.contains(current)) {
      const FolderNode& node = nodes_[NodeFor(volume, current, false, false, info.sector)];
      anchor = {node.id, node.depth};
      break;
    }
    const bool cycle =
        std::any_of(chain_.begin(), chain_.end(), [&](const auto& link) { return link.first == current; });
    if (cycle || chain_.size() >= kMaxFolderDepth) break;
    chain_.emplace_back(current, info);
    current = info.parent;
    sequence = info.parentSequence;
  }
  FolderRef above = anchor;
  for (size_t i = chain_.size(); i-- > 0;) {
    const size_t index = NodeFor(volume, chain_[i].first, false, false, chain_[i].second.sector);
    FolderNode& node = nodes_[index];
    node.linkId = above.id;
    node.depth = above.depth + 1;
    folderAtSector_.try_emplace(node.sector, index);
    above = {node.id, node.depth};
  }
  return above;
}

void CProfessionalNtfsRecovery::WriteFolder(FolderNode& node, const MftFileSummary* summary) {
  ScanLogRecord& slot = log_->NewRecord();
  const uint32_t recordNumber = log_->RecordCount();
  ScanLogRecord entry;
  entry.VolumeLetter = sourceId_;
  entry.EngineCode = kEngineProNtfs;
  entry.IsFolder = 1;
  entry.Intact = 1;
  entry.RecordNumber = recordNumber;
  entry.ItemId = node.id;
  entry.DataAreaSector = 0;
  const FoundNtfsVolume* volume = volumes_.ById(node.volume);
  const uint32_t spc = volume != nullptr && volume->sectorsPerCluster != 0 ? volume->sectorsPerCluster
                                                                           : static_cast<uint32_t>(sectorsPerCluster_);
  entry.ClusterBytes = ClusterBytesFor(spc);
  FolderKey key = MakeFolderKey(0, kNtfsRootRecord);
  if (summary == nullptr) {
    char name[32];
    std::snprintf(name, sizeof name, "LostFolder%u", node.record);
    entry.SetName(name);
  } else {
    entry.CreationTime = summary->fileName.creationTime;
    entry.AccessTime = summary->fileName.accessTime;
    entry.WriteTime = summary->fileName.writeTime;
    entry.FileSize = summary->fileName.realSize;
    entry.LocationSector = node.sector;
    entry.PartitionStart = volume != nullptr ? volume->partitionStart : partitionFirstSector_;
    entry.SetName(Utf16LeBytesToUtf8(summary->fileName.name));
    key = MakeFolderKey(node.depth - 1, node.linkId);
  }
  slot = entry;
  log_->LinkRecord(key, recordNumber, node.id, slot.Name.data());
  node.written = true;
}

ResultCode CProfessionalNtfsRecovery::ProcessFolderRecord(std::span<const uint8_t> bytes, uint64_t sector,
                                                          uint32_t recordNumber) {
  if (!log_) return kInvalidParameter;
  auto it = folderAtSector_.find(sector);
  if (it == folderAtSector_.end() || nodes_[it->second].record != recordNumber) return kInvalidParameter;
  FolderNode& node = nodes_[it->second];
  if (node.written) return kSuccess;
  return WriteFolderFromRecord(node, bytes);
}

// Writes a queued folder from its record, or as a lost folder when the record
// is no longer a sound directory record of that number.
ResultCode CProfessionalNtfsRecovery::WriteFolderFromRecord(FolderNode& node, std::span<const uint8_t> bytes) {
  std::span<uint8_t> record;
  if (ResultCode rc = PrepareRecord(bytes, record_, record); rc != kSuccess) {
    WriteFolder(node, nullptr);
    return rc;
  }
  const MftRecordView view(record);
  MftFileSummary summary;
  const bool folder = SummarizeFileRecord(record, summary) == RecordParse::Ok && view.IsDirectory() &&
                      summary.hasFileName && view.BaseRecord() == 0 &&
                      (!view.HasRecordNumber() || view.RecordNumber() == node.record);
  WriteFolder(node, folder ? &summary : nullptr);
  return kSuccess;
}

ResultCode CProfessionalNtfsRecovery::ProcessPendingFolders() {
  if (!log_) return kInvalidParameter;
  ResultCode first = kSuccess;
  for (size_t i = 0; i < pendingFolders_.size(); ++i) {
    FolderNode& node = nodes_[pendingFolders_[i]];
    if (node.written) continue;
    const FoundNtfsVolume* volume = volumes_.ById(node.volume);
    if (!node.lost && volume != nullptr) {
      std::span<uint8_t> record(folderRecord_.data(), volume->mft.recordSize);
      const ResultCode rc = ReadMftRecordByNumber(volume->mft, node.record, record);
      if (rc == kSuccess)
        WriteFolderFromRecord(node, record);
      else if (first == kSuccess && rc > 0)
        first = rc;
    }
    if (!node.written) WriteFolder(node, nullptr);
  }
  pendingFolders_.clear();
  if (ResultCode rc = log_->FlushLog(); rc != kSuccess && first == kSuccess) first = rc;
  return first;
}

// ---- Logs ----

ResultCode CProfessionalNtfsRecovery::StartLog(const std::string& logName) {
  pendingFolders_.clear();
  nodes_.clear();
  nodeIndex_.clear();
  nodeById_.clear();
  folderAtSector_.clear();
  folderRecords_.clear();
  logFolders_.clear();
  probedVolumes_.clear();
  nextFolderId_ = 0xC0000000u;
  if (log_) log_->CloseLog();
  log_ = std::make_unique<CScanLog>();
  if (searchProgress_) log_->SetQueryProgress(searchProgress_);
  const std::string name =
      logName.empty() ? MakeLogName(kProNtfsLogPrefix, static_cast<int64_t>(partitionFirstSector_)) : logName;
  if (ResultCode rc = log_->OpenLog(name); rc != kSuccess) {
    log_.reset();
    return rc;
  }
  LoadLogFolders();
  return kSuccess;
}

// The folders a continued log holds already, with the depth of their
// contents' keys, so that files found now join them instead of a second copy.
void CProfessionalNtfsRecovery::LoadLogFolders() {
  if (log_->FolderIndex().empty()) return;
  std::unordered_map<uint32_t, FolderKey> keyOf;  // record number -> the first key that lists it
  for (const auto& [key, records] : log_->Relation())
    for (uint32_t number : records) keyOf.try_emplace(number, key);
  for (const DirInfoEntry& entry : log_->FolderIndex()) {
    auto it = keyOf.find(entry.recordNumber);
    if (it != keyOf.end()) logFolders_.try_emplace(entry.folderId, FolderKeyDepth(it->second) + 1);
  }
}

// ---- Queries ----

ResultCode CProfessionalNtfsRecovery::QueryFolder(const ScanLogRecord* folder, uint32_t depth,
                                                  std::vector<ScanLogRecord>& out) {
  if (!folder && depth != 0) return kInvalidParameter;
  if (!log_) return kSuccess;
  log_->FlushLog();
  return log_->ListFolder(MakeFolderKey(depth, folder ? folder->ItemId : 0), out);
}

ResultCode CProfessionalNtfsRecovery::QueryFileCount(const ScanLogRecord* folder, uint32_t depth, uint32_t& count) {
  count = 0;
  if (!folder && depth != 0) return kInvalidParameter;
  if (!log_) return kSuccess;
  log_->FlushLog();
  return log_->CountFilesBelow(MakeFolderKey(depth, folder ? folder->ItemId : 0), count);
}

uint64_t CProfessionalNtfsRecovery::GetRecordCount() { return log_ ? log_->RecordCount() : 0; }

ResultCode CProfessionalNtfsRecovery::QueryFolderPath(const ScanLogRecord& record, std::string& path) {
  path.clear();
  if (!log_) return kInvalidParameter;
  return log_->GetFolderPath(record, path);
}

ResultCode CProfessionalNtfsRecovery::FindFreeRun(uint64_t& /*sector*/, uint64_t& /*sectorCount*/) { return kSuccess; }

ResultCode CProfessionalNtfsRecovery::LoadAllocationBitmap() { return kSuccess; }

ResultCode CProfessionalNtfsRecovery::SetSearchProgress(SearchProgressCallback callback) {
  searchProgress_ = std::move(callback);
  if (!log_) return kInvalidParameter;
  log_->SetQueryProgress(searchProgress_);
  return kSuccess;
}

ResultCode CProfessionalNtfsRecovery::QueryCategory(const std::string& filter, std::vector<ScanLogRecord>& out) {
  if (!log_) return kSuccess;
  return log_->ListCategory(filter, out);
}

ResultCode CProfessionalNtfsRecovery::GetMftRunsAt(uint64_t sector, std::vector<MftRun>& runs) {
  if (openResult_ != kSuccess) return openResult_;
  std::span<uint8_t> record;
  ResultCode rc = ReadRecordAt(sector, itemRecord_, record);
  if (rc == kInvalidParameter) return kNtfsAttributeNotFound;  // a damaged record
  if (rc != kSuccess) return rc;
  return FirstDataRuns(record, runs);
}

ResultCode CProfessionalNtfsRecovery::DataStartSector(const ScanLogRecord& record, uint64_t& sector) {
  std::vector<MftRun> runs;
  if (ResultCode rc = GetMftRunsAt(record.LocationSector, runs); rc != kSuccess) return rc;
  if (runs.empty() || runs.front().sparse || runs.front().lcnDelta <= 0) return kNtfsAttributeNotFound;
  if (record.ClusterBytes == 0 || record.ClusterBytes == kNoClusterSize || record.ClusterBytes % bytesPerSector_ != 0)
    return kInvalidParameter;
  uint64_t offset = 0;
  if (__builtin_mul_overflow(static_cast<uint64_t>(runs.front().lcnDelta),
                             uint64_t{record.ClusterBytes / bytesPerSector_}, &offset))
    return kInvalidParameter;
  sector = record.PartitionStart + offset;
  return kSuccess;
}

// ---- Copying out ----

// Reads the MFT record of a found item and describes its volume from the
// record's own fields: cluster 0 at PartitionStart, clusters of ClusterBytes,
// and, for following an $ATTRIBUTE_LIST into extension records, an MFT taken
// as contiguous from where the item's number puts record 0 (used only when
// that lies on a cluster boundary; an extension record found there must name
// the item as its base record).
ResultCode CProfessionalNtfsRecovery::ReadItemRecord(const ScanLogRecord& item, NtfsVolumeAccess& access,
                                                     std::span<uint8_t>& record) {
  if (openResult_ != kSuccess) return openResult_;
  if (ResultCode rc = ReadRecordAt(item.LocationSector, itemRecord_, record); rc != kSuccess) return rc;
  const MftRecordView view(record);
  if (view.HasRecordNumber() && view.RecordNumber() != item.ItemId) return kNtfsNotFileRecord;
  if (item.ClusterBytes == 0 || item.ClusterBytes == kNoClusterSize || item.ClusterBytes % bytesPerSector_ != 0)
    return kInvalidParameter;
  access = NtfsVolumeAccess{};
  access.device = &device_;
  access.partitionFirstSector = item.PartitionStart;
  access.bytesPerSector = bytesPerSector_;
  access.recordSize = static_cast<uint32_t>(record.size());
  access.sectorsPerRecord = access.recordSize / bytesPerSector_;
  access.sectorsPerCluster = item.ClusterBytes / bytesPerSector_;
  const uint64_t before = uint64_t{item.ItemId} * access.sectorsPerRecord;
  if (item.LocationSector >= before && item.LocationSector - before >= item.PartitionStart) {
    const uint64_t mftStart = item.LocationSector - before - item.PartitionStart;
    if (mftStart % access.sectorsPerCluster == 0) {
      access.mftRuns.push_back(MftRun{0, static_cast<int64_t>(mftStart / access.sectorsPerCluster), false});
      access.emptyRunMeansContiguous = true;
    }
  }
  return kSuccess;
}

ResultCode CProfessionalNtfsRecovery::CopyItemData(const ScanLogRecord& item, uint64_t maxBytes, const ChunkSink& sink,
                                                   const PercentCallback& progress, bool& stopped) {
  stopped = false;
  NtfsVolumeAccess access;
  std::span<uint8_t> record;
  if (ResultCode rc = ReadItemRecord(item, access, record); rc != kSuccess) return rc;
  return CopyNtfsFileData(access, record, item.PartitionStart, item.FileSize, maxBytes, sink, progress, stopped,
                          dataBuffer_);
}

ResultCode CProfessionalNtfsRecovery::WriteFoundFile(const ScanLogRecord& record, const std::string& path) {
  auto report = [&](ResultCode code) {
    if (fileProgress_) fileProgress_(100, 100, code, path);
    return code;
  };
  // The file is created with its first bytes, so a record that holds no
  // file any more leaves nothing behind.
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
  if (rc == kNtfsNotFileRecord || rc == kNtfsAttributeNotFound) rc = kFileNotFound;
  return report(rc);
}

ResultCode CProfessionalNtfsRecovery::RecoverItem(const ScanLogRecord& record, const std::string& destination,
                                                  int32_t /*rootSeparators*/) {
  if (record.IsFolderRecord()) return RecoverFolder(record, destination);
  return WriteFoundFile(record, destination);
}

// Writes a folder and everything below it. The depth of each folder's
// contents comes from the log (the folders above it, plus one), so it holds
// wherever the folder is written.
ResultCode CProfessionalNtfsRecovery::RecoverFolder(const ScanLogRecord& folder, const std::string& destination) {
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
    const FolderKey key = MakeFolderKey(current.depth, current.folder.ItemId);
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

ResultCode CProfessionalNtfsRecovery::ReadItemData(const ScanLogRecord& record, std::string& tempPath,
                                                   std::span<uint8_t> buffer, uint32_t& size,
                                                   ReadProgressCallback progress) {
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

}  // namespace selvane
