#include "engine/professional_recovery.h"

#include <algorithm>
#include <filesystem>
#include <new>

#include "engine/byte_reader.h"
#include "engine/file_system_probes.h"
#include "engine/ntfs_record.h"
#include "engine/partition_table.h"
#include "platform/text.h"
#include "results/categories.h"
#include "results/scan_log.h"
#include "storage/partition_mounts.h"

namespace selvane {
namespace {

// Bytes read again for an MFT record that crosses the end of a block.
constexpr uint32_t kRecordReadBytes = 8192;
constexpr auto kEstimateInterval = std::chrono::milliseconds(5000);

bool IsDirectoryRecord(std::span<const uint8_t> sector) {
  const ByteReader header(sector);
  return (header.U16(0x16) & kMftRecordDirectory) != 0;
}

bool IsFileSystemEngine(uint32_t code) { return code <= kEngineProFat; }

}  // namespace

CProfessionalRecovery::CProfessionalRecovery(FastEngineMaker makeFastEngine)
    : makeFastEngine_(std::move(makeFastEngine)),
      fat_(std::make_unique<CProfessionalFatRecovery>()),
      ntfs_(std::make_unique<CProfessionalNtfsRecovery>()),
      carving_(std::make_unique<CFileTypeRecovery>()) {}

CProfessionalRecovery::~CProfessionalRecovery() = default;

// ---- Opening ----

ResultCode CProfessionalRecovery::OpenImage(const std::string& imagePath, uint16_t sourceId) {
  sourceId_ = sourceId;
  driveNumber_ = kImageDriveNumber;
  imagePath_ = imagePath;
  mountPoint_.clear();
  resume_ = false;
  device_ = DiskDevice{};
  sectorSize_ = 512;
  partitionFirstSector_ = 0;
  openResult_ = OpenImageFile(imagePath, device_);
  if (openResult_ != kSuccess) return openResult_;
  partitionSectorCount_ = sourceSectorCount_ = device_.totalSectors;
  Classify();

  resume_ = CScanHistory::Instance().FindImageScan(imagePath, resumeState_) == 1;
  OpenEngines(imagePath);
  return openResult_;
}

ResultCode CProfessionalRecovery::OpenPartition(int32_t driveNumber, uint64_t firstSector, uint64_t sectorCount,
                                                uint16_t sourceId) {
  sourceId_ = sourceId;
  driveNumber_ = driveNumber;
  imagePath_.clear();
  resume_ = false;
  device_ = DiskDevice{};
  partitionFirstSector_ = firstSector;
  partitionSectorCount_ = sourceSectorCount_ = sectorCount;
  openResult_ = OpenPhysicalDrive(driveNumber, device_);
  if (openResult_ != kSuccess) return openResult_;
  sectorSize_ = GetDriveSectorSize(device_);
  if (firstSector >= device_.totalSectors) {
    openResult_ = kInvalidParameter;
    return openResult_;
  }
  // A partition table may claim more than the drive holds; the walk stops at its end.
  partitionSectorCount_ = std::min(sectorCount, device_.totalSectors - firstSector);
  Classify();

  mountPoint_ = MountPointOfPartition(driveNumber, firstSector);
  resume_ = CScanHistory::Instance().FindSourceScan(driveNumber, firstSector, sectorCount, mountPoint_,
                                                     resumeState_) == 1;
  OpenEngines("");
  return openResult_;
}

void CProfessionalRecovery::Classify() {
  std::vector<uint8_t> head(kProbeBytes);
  const ssize_t n = device_.handle.ReadAt(head.data(), head.size(), partitionFirstSector_ * sectorSize_);
  kind_ = n == static_cast<ssize_t>(head.size()) ? ClassifyVolume(head) : FileSystemKind::Unknown;
}

void CProfessionalRecovery::OpenEngines(const std::string& imagePath) {
  // Only the NTFS engine's result counts: it opens the same source the same way.
  if (imagePath.empty()) {
    fat_->OpenPartition(driveNumber_, partitionFirstSector_, partitionSectorCount_, sourceId_);
    openResult_ = ntfs_->OpenPartition(driveNumber_, partitionFirstSector_, partitionSectorCount_, sourceId_);
    if (makeFastEngine_.forDisk)
      deleted_ = makeFastEngine_.forDisk(driveNumber_, partitionFirstSector_, partitionSectorCount_, sourceId_);
  } else {
    fat_->OpenImage(imagePath, sourceId_);
    openResult_ = ntfs_->OpenImage(imagePath, sourceId_);
    if (makeFastEngine_.forImage) deleted_ = makeFastEngine_.forImage(imagePath, sourceId_);
  }
}

void CProfessionalRecovery::DiscardEarlierScan() {
  if (!resume_) return;
  resume_ = false;
  CScanHistory::Instance().RemoveScanFolder(resumeState_.folder);
  resumeState_ = ScanHistoryEntry{};
}

ResultCode CProfessionalRecovery::SetCallbacks(ProgressCallback progress, FileProgressCallback fileProgress,
                                               int32_t scale) {
  // Carving reports while a size rule reads ahead of the walk; the bar of the
  // walk never moves back when the walk then reports its own position.
  progress_ = nullptr;
  if (progress) {
    progress_ = [this, progress](int32_t percent, int32_t share, int32_t secondsLeft, uint64_t done, uint64_t total,
                                 uint64_t files) {
      if (share == kWalkScale) {
        percent = std::max(percent, walkPercent_);
        walkPercent_ = percent;
      }
      return progress(percent, share, secondsLeft, done, total, files);
    };
  }
  // The shares apply to the scan's bar; a file being written still ends at 100 %.
  FileProgressCallback files;
  if (fileProgress) {
    files = [fileProgress, scale](int32_t percent, int32_t, ResultCode error, const std::string& path) {
      return fileProgress(percent, scale, error, path);
    };
  }
  deletedProgress_ = progress;
  if (deleted_) deleted_->SetCallbacks(progress, files, kDeletedPhaseScale);
  fat_->SetCallbacks(progress_, files, kWalkScale);
  ntfs_->SetCallbacks(progress_, files, kWalkScale);
  carving_->SetCallbacks(progress_, files, kWalkScale);
  return kSuccess;
}

// ---- The deep scan ----

ResultCode CProfessionalRecovery::Scan(const std::string&) {
  if (openResult_ != kSuccess) return openResult_;
  try {
    return RunScan();
  } catch (const std::bad_alloc&) {
    return kNotEnoughMemory;
  }
}

ResultCode CProfessionalRecovery::RunScan() {
  CScanHistory& history = CScanHistory::Instance();
  const bool resuming = resume_;
  resume_ = false;
  if (!resuming) history.BeginNewScan();
  scanFolder_ = history.GetScanFolder();

  Walk walk;
  walk.position = resuming ? resumeState_.walk : WalkPosition{};
  ResultCode result = kSuccess;
  bool deletedPhaseFailed = false;

  walkPercent_ = 0;
  if (deleted_) {
    deleted_->SetCallbacks(deletedProgress_, nullptr, kDeletedPhaseScale);
    // An ext volume's engine knows no free space: its whole partition is walked.
    walk.freeOnly = (kind_ == FileSystemKind::Ntfs || kind_ == FileSystemKind::Fat) &&
                    deleted_->LoadAllocationBitmap() == kSuccess;
    std::string fastLog;
    if (resuming) history.FindLogFile(kFastLogPrefix, fastLog, scanFolder_);
    result = deleted_->Scan(fastLog);
    deletedPhaseFailed = result != kSuccess;
  }

  if (!deletedPhaseFailed) {
    StartWalkLogs(resuming);
    fat_->PrepareFatWalk();
    if (kind_ == FileSystemKind::Unknown) AddPartitionGeometries();
    Replay(replay_);
    replay_ = {};
    carving_->ClearTransportStreamRanges();
    PlanWalk(walk, resuming);
    result = RunWalk(walk);
    // What the engines still hold is written also when the walk was stopped.
    fat_->FinishFatWalk();
    ntfs_->ProcessPendingFolders();
    carving_->FlushLog();
    SaveWalkList(walk.position.runLength == 0);
    if (progress_ && result == kSuccess) progress_(100, 100, 0, 0, 0, 0);
  }
  lastPosition_ = walk.position;
  block_ = {};
  record_ = {};

  if (deletedPhaseFailed && !resuming) {
    history.DropScanNumber();
  } else {
    // A path the history cannot store only costs the chance to resume.
    history.RememberScan(mountPoint_, driveNumber_, partitionFirstSector_, sourceSectorCount_, walk.position,
                         scanFolder_, imagePath_);
  }
  return result;
}

ResultCode CProfessionalRecovery::StartWalkLogs(bool resuming) {
  CScanHistory& history = CScanHistory::Instance();
  std::string carvingLog, fatLog, ntfsLog;
  offered_.clear();
  replay_.clear();
  if (resuming) {
    history.FindLogFile(kCarvingLogPrefix, carvingLog, scanFolder_);
    history.FindLogFile(kProFatLogPrefix, fatLog, scanFolder_);
    history.FindLogFile(kProNtfsLogPrefix, ntfsLog, scanFolder_);
    // An unfinished walk is taken up by giving the formatted-volume engines
    // its earlier sectors again, into new logs that replace those written when
    // it stopped.
    const WalkPosition& at = resumeState_.walk;
    if (at.runLength != 0 && LoadWalkList(partitionFirstSector_ + at.runStart + at.offsetInRun, replay_)) {
      for (std::string* log : {&fatLog, &ntfsLog}) {
        if (log->empty()) continue;
        for (const char* suffix : {"", "_Relation", "_DirInfo"}) {
          std::error_code ignored;
          std::filesystem::remove(scanFolder_ + "/" + *log + suffix, ignored);
        }
        log->clear();
      }
    }
  }
  if (!resuming) {
    if (imagePath_.empty())
      carving_->OpenPartition(driveNumber_, partitionFirstSector_, partitionSectorCount_, sourceId_);
    else
      carving_->OpenImage(imagePath_, sourceId_);
  } else {
    // An earlier folder without a carving log gets a new one.
    if (carvingLog.empty()) carvingLog = MakeLogName(kCarvingLogPrefix, static_cast<int64_t>(partitionFirstSector_));
    if (imagePath_.empty())
      carving_->ResumePartition(driveNumber_, sourceId_, sectorSize_, carvingLog);
    else
      carving_->ResumeImage(imagePath_, sourceId_, sectorSize_, carvingLog);
  }
  carving_->SetSectorSize(sectorSize_);
  fat_->StartFatLog(fatLog);
  return ntfs_->StartLog(ntfsLog);
}

std::string CProfessionalRecovery::WalkListPath() const {
  return scanFolder_ + (scanFolder_.ends_with('/') ? "" : "/") + ".Walk_" + std::to_string(partitionFirstSector_);
}

// The list is 64-bit little-endian sector numbers in walk order.
bool CProfessionalRecovery::LoadWalkList(uint64_t below, std::vector<uint64_t>& sectors) const {
  FileHandle file;
  if (OpenFile(WalkListPath(), OpenMode::ReadOnly, file) != kSuccess) return false;
  uint64_t size = 0;
  if (file.Size(size) != kSuccess) return false;
  std::vector<uint8_t> bytes(static_cast<size_t>(size / 8 * 8));
  size_t got = 0;
  if (!bytes.empty() && (ReadFully(file, bytes.data(), bytes.size(), got) != kSuccess || got != bytes.size()))
    return false;
  const ByteReader r(bytes);
  uint64_t last = 0;
  for (size_t offset = 0; offset < bytes.size(); offset += 8) {
    const uint64_t sector = r.U64(offset);
    // Only what lies before the saved position, in ascending order.
    if (sector >= below || (!sectors.empty() && sector <= last)) break;
    sectors.push_back(sector);
    last = sector;
  }
  return true;
}

void CProfessionalRecovery::SaveWalkList(bool walkEnded) {
  const std::string path = WalkListPath();
  std::error_code ignored;
  if (walkEnded) {
    // A finished walk is resumed by reopening its logs alone.
    std::filesystem::remove(path, ignored);
    return;
  }
  std::vector<uint8_t> bytes(offered_.size() * 8);
  for (size_t i = 0; i < offered_.size(); ++i)
    for (int b = 0; b < 8; ++b) bytes[i * 8 + b] = static_cast<uint8_t>(offered_[i] >> (8 * b));
  const std::string temporary = path + ".tmp";
  FileHandle file;
  if (OpenFile(temporary, OpenMode::CreateAlways, file) != kSuccess) return;
  const bool written = bytes.empty() || WriteAll(file, bytes.data(), bytes.size()) == kSuccess;
  file.Close();
  if (written)
    std::filesystem::rename(temporary, path, ignored);
  else
    std::filesystem::remove(temporary, ignored);
}

void CProfessionalRecovery::Replay(const std::vector<uint64_t>& sectors) {
  std::vector<uint8_t> sector(sectorSize_);
  for (const uint64_t s : sectors) {
    uint32_t read = 0;
    if (ReadSectors(1, device_, sector.data(), s, sectorSize_, read) != kSuccess) continue;
    OfferToFileSystems(sector, 0, 1, s);
  }
}

void CProfessionalRecovery::AddPartitionGeometries() {
  std::vector<uint8_t> boot(sectorSize_);
  for (const DeclaredPartition& partition :
       ReadPartitionTable(device_, partitionFirstSector_, partitionSectorCount_, sectorSize_)) {
    const uint64_t start = partitionFirstSector_ + partition.firstSector;
    uint32_t read = 0;
    if (ReadSectors(1, device_, boot.data(), start, sectorSize_, read) == kSuccess)
      fat_->AddPartitionBootSector(boot, start);
  }
}

void CProfessionalRecovery::PlanWalk(Walk& walk, bool resuming) {
  WalkPosition& p = walk.position;
  const uint64_t end = partitionSectorCount_;
  if (walk.freeOnly) {
    // The sum of all free runs, each found after the end of the one before.
    walk.total = 0;
    uint64_t sector = 0;
    while (sector < end) {
      uint64_t at = sector, length = 0;
      deleted_->FindFreeRun(at, length);
      if (length == 0 || at < sector || at >= end) break;
      length = std::min(length, end - at);
      walk.total += length;
      sector = at + length;
    }
    if (!resuming) {
      p = WalkPosition{};
      deleted_->FindFreeRun(p.runStart, p.runLength);
      if (p.runStart >= end) p.runLength = 0;
      p.runLength = std::min(p.runLength, end - std::min(p.runStart, end));
    }
  } else {
    walk.total = end;
    if (!resuming) {
      p = WalkPosition{};
      p.runLength = end;
    }
  }
  if (resuming) {
    // A saved position outside this volume cannot be continued: the walk is over.
    if (p.runStart >= end) p.runLength = 0;
    p.runLength = std::min(p.runLength, end - std::min(p.runStart, end));
  }
  walkTotal_ = walk.total;
  walk.start = walk.lastEstimate = std::chrono::steady_clock::now();
}

ResultCode CProfessionalRecovery::RunWalk(Walk& walk) {
  WalkPosition& p = walk.position;
  const uint32_t perBlock = std::max<uint32_t>(1, kBlockBytes / sectorSize_);
  block_.resize(size_t{perBlock} * sectorSize_);

  while (p.runLength != 0) {
    while (p.offsetInRun < p.runLength) {
      const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(perBlock, p.runLength - p.offsetInRun));
      const uint64_t first = partitionFirstSector_ + p.runStart + p.offsetInRun;
      uint32_t read = 0;
      ReadSectors(static_cast<int32_t>(n), device_, block_.data(), first, sectorSize_, read);

      // A block that cannot be read is passed over; of a short read only the
      // sectors that arrived are looked at, and the rest of the block is passed over.
      uint64_t advance = n;
      ResultCode stopped = kSuccess;
      uint64_t filesFound = GetRecordCount();
      if (read > 0) {
        try {
          stopped = ProcessBlock(std::span<const uint8_t>(block_.data(), size_t{read} * sectorSize_), read, first, walk,
                                 filesFound, advance);
        } catch (const std::bad_alloc&) {
          // Out of memory while the engines took this block: it is passed over.
          advance = n;
        }
        if (stopped == kSuccess) advance = std::max<uint64_t>(advance, n);
      }
      const uint64_t left = p.runLength - p.offsetInRun;
      p.offsetInRun += advance;
      p.sectorsDone += std::min(advance, left);
      walk.doneThisRun += std::min(advance, left);
      p.filesFound = GetRecordCount();
      if (stopped != kSuccess) return stopped;

      Estimate(walk);
      if (progress_) {
        const uint64_t done = std::min(p.sectorsDone, walk.total);
        const uint64_t percent = (walk.total == 0 ? 100 : done * 100 / walk.total) + 10;
        if (const int32_t rc = progress_(static_cast<int32_t>(percent), kWalkScale, walk.secondsLeft, p.sectorsDone,
                                         walk.total, p.filesFound);
            rc != 0)
          return rc;
      }
    }
    if (walk.freeOnly) {
      const uint64_t next = p.runStart + p.runLength;
      uint64_t at = next, length = 0;
      if (next < partitionSectorCount_) deleted_->FindFreeRun(at, length);
      if (at < next || at >= partitionSectorCount_) length = 0;
      p.runStart = length == 0 ? next : at;
      p.runLength = std::min(length, partitionSectorCount_ - std::min(p.runStart, partitionSectorCount_));
      p.offsetInRun = 0;
    } else {
      p.runStart += p.runLength;
      p.runLength = 0;
      p.offsetInRun = 0;
    }
  }
  return kSuccess;
}

void CProfessionalRecovery::Estimate(Walk& walk) {
  const auto now = std::chrono::steady_clock::now();
  if (now - walk.lastEstimate < kEstimateInterval) return;
  walk.lastEstimate = now;
  const auto elapsed = std::chrono::duration_cast<std::chrono::seconds>(now - walk.start).count();
  if (elapsed <= 0) return;
  // The rate of this run only: a resumed walk did its earlier sectors at another time.
  const uint64_t rate = std::max<uint64_t>(1, walk.doneThisRun * sectorSize_ / static_cast<uint64_t>(elapsed));
  const uint64_t left = walk.total > walk.position.sectorsDone ? walk.total - walk.position.sectorsDone : 0;
  walk.secondsLeft = static_cast<int32_t>(std::min<uint64_t>(left * sectorSize_ / rate, INT32_MAX));
}

ResultCode CProfessionalRecovery::ProcessBlock(std::span<const uint8_t> block, uint32_t count, uint64_t firstSector,
                                               const Walk& walk, uint64_t& filesFound, uint64_t& advance) {
  const uint32_t ss = sectorSize_;
  uint64_t i = 0;
  while (i < count) {
    const std::span<const uint8_t> sector = block.subspan(static_cast<size_t>(i) * ss, ss);
    const uint64_t s = firstSector + i;
    uint64_t consumed = 1;
    if (!OfferToFileSystems(block, static_cast<uint32_t>(i), count, s)) {
      const ResultCode rc = carving_->CarveSector(ss, sector, s, walk.position.sectorsDone, walk.total,
                                                  walk.secondsLeft, device_, consumed, filesFound);
      if (rc == kScanStopCode) {
        // This sector is carved again when the scan resumes.
        advance = i;
        return rc;
      }
    }
    i += std::max<uint64_t>(1, consumed);
  }
  advance = i;  // beyond `count` when a carved file reaches past the block
  return kSuccess;
}

bool CProfessionalRecovery::OfferToFileSystems(std::span<const uint8_t> block, uint32_t index, uint32_t count,
                                               uint64_t sector) {
  const std::span<const uint8_t> data = block.subspan(size_t{index} * sectorSize_, sectorSize_);
  if (const uint32_t recordSize = CProfessionalNtfsRecovery::FoundRecordSize(data, sectorSize_); recordSize != 0) {
    // Directories are passed over: their files' records name them as parents.
    if (IsDirectoryRecord(data)) return true;
    OfferRecord(block, index, count, recordSize, sector);
  } else if (CProfessionalFatRecovery::IsDirectoryStartSector(data)) {
    fat_->OnDirectoryStart(data, sector);
  } else if (CProfessionalFatRecovery::IsFatDirectorySector(data)) {
    fat_->OnDirectorySector(data, sector);
  } else {
    return false;
  }
  offered_.push_back(sector);
  return true;
}

void CProfessionalRecovery::OfferRecord(std::span<const uint8_t> block, uint32_t index, uint32_t count,
                                        uint32_t recordSize, uint64_t sector) {
  const size_t offset = size_t{index} * sectorSize_;
  if (size_t{count} * sectorSize_ - offset >= recordSize) {
    ntfs_->ProcessFoundRecord(block.subspan(offset, recordSize), sector, 0, 0);
    return;
  }
  // The record goes on after the block: read it whole on its own.
  const uint32_t sectors = std::max<uint32_t>(1, kRecordReadBytes / sectorSize_);
  record_.resize(size_t{sectors} * sectorSize_);
  uint32_t read = 0;
  ReadSectors(static_cast<int32_t>(sectors), device_, record_.data(), sector, sectorSize_, read);
  if (size_t{read} * sectorSize_ < recordSize) {
    // Near the end of the source fewer sectors may exist than a full read asks for.
    const uint32_t needed = (recordSize + sectorSize_ - 1) / sectorSize_;
    ReadSectors(static_cast<int32_t>(needed), device_, record_.data(), sector, sectorSize_, read);
    if (size_t{read} * sectorSize_ < recordSize) return;
  }
  ntfs_->ProcessFoundRecord(std::span<const uint8_t>(record_.data(), recordSize), sector, 0, 0);
}

// ---- Delegation ----

IFileRecoveryParse* CProfessionalRecovery::EngineFor(uint32_t engineCode) const {
  switch (engineCode) {
    case kEngineFastNtfs:
    case kEngineFastFat: return deleted_.get();
    case kEngineProNtfs: return ntfs_.get();
    case kEngineProFat: return fat_.get();
    case kEngineCarving: return carving_.get();
  }
  return nullptr;
}

ResultCode CProfessionalRecovery::QueryFolder(const ScanLogRecord* folder, uint32_t depth,
                                              std::vector<ScanLogRecord>& out) {
  if (folder != nullptr) {
    IFileRecoveryParse* engine = folder->EngineCode == kEngineCarving ? nullptr : EngineFor(folder->EngineCode);
    if (engine) engine->QueryFolder(folder, depth, out);
  } else {
    if (depth != 0) return kInvalidParameter;
    if (deleted_) deleted_->QueryFolder(nullptr, 0, out);
    fat_->QueryFolder(nullptr, 0, out);
    ntfs_->QueryFolder(nullptr, 0, out);
    carving_->QueryFolder(nullptr, 0, out);
  }
  SortListing(out);
  return kSuccess;
}

ResultCode CProfessionalRecovery::QueryFileCount(const ScanLogRecord* folder, uint32_t depth, uint32_t& count) {
  count = 0;
  if (folder != nullptr) {
    IFileRecoveryParse* engine = folder->EngineCode == kEngineCarving ? nullptr : EngineFor(folder->EngineCode);
    if (engine) engine->QueryFileCount(folder, depth, count);
    return kSuccess;
  }
  if (depth != 0) return kInvalidParameter;
  for (IFileRecoveryParse* engine : {deleted_.get(), static_cast<IFileRecoveryParse*>(fat_.get()),
                                     static_cast<IFileRecoveryParse*>(ntfs_.get()),
                                     static_cast<IFileRecoveryParse*>(carving_.get())}) {
    uint32_t n = 0;
    if (engine && engine->QueryFileCount(nullptr, 0, n) == kSuccess) count += n;
  }
  return kSuccess;
}

uint64_t CProfessionalRecovery::GetRecordCount() {
  return (deleted_ ? deleted_->GetRecordCount() : 0) + fat_->GetRecordCount() + ntfs_->GetRecordCount() +
         carving_->GetRecordCount();
}

ResultCode CProfessionalRecovery::QueryFolderPath(const ScanLogRecord& record, std::string& path) {
  path.clear();
  if (!IsFileSystemEngine(record.EngineCode)) return kSuccess;
  IFileRecoveryParse* engine = EngineFor(record.EngineCode);
  return engine ? engine->QueryFolderPath(record, path) : kSuccess;
}

ResultCode CProfessionalRecovery::RecoverItem(const ScanLogRecord& record, const std::string& destination,
                                              int32_t rootSeparators) {
  IFileRecoveryParse* engine = EngineFor(record.EngineCode);
  return engine ? engine->RecoverItem(record, destination, rootSeparators) : kSuccess;
}

ResultCode CProfessionalRecovery::SetSearchProgress(SearchProgressCallback callback) {
  if (deleted_) deleted_->SetSearchProgress(callback);
  fat_->SetSearchProgress(callback);
  ntfs_->SetSearchProgress(callback);
  carving_->SetSearchProgress(callback);
  return kSuccess;
}

ResultCode CProfessionalRecovery::ReadItemData(const ScanLogRecord& record, std::string& tempPath,
                                               std::span<uint8_t> buffer, uint32_t& size,
                                               ReadProgressCallback progress) {
  IFileRecoveryParse* engine = EngineFor(record.EngineCode);
  return engine ? engine->ReadItemData(record, tempPath, buffer, size, std::move(progress)) : kSuccess;
}

// ---- Duplicate removal ----

bool CProfessionalRecovery::DataStartOf(const ScanLogRecord& record, uint64_t& sector) {
  if (record.VolumeLetter != sourceId_ || record.IsFolderRecord()) return false;
  switch (record.EngineCode) {
    case kEngineFastNtfs:
    case kEngineProNtfs: return ntfs_->DataStartSector(record, sector) == kSuccess;
    case kEngineFastFat:
    case kEngineProFat: {
      if (record.ClusterBytes == 0 || record.ClusterBytes % sectorSize_ != 0) return false;
      const uint64_t dataArea = record.PartitionStart + record.DataAreaSector;
      const uint32_t cluster = record.ItemId;
      if (cluster == 0) {
        // The fixed root directory of FAT12/16 lies before the data area.
        if (dataArea < kDefaultRootDirSectors) return false;
        sector = dataArea - kDefaultRootDirSectors;
        return true;
      }
      if (cluster < 2) return false;
      sector = dataArea + uint64_t{record.ClusterBytes / sectorSize_} * (cluster - 2);
      return true;
    }
  }
  return false;
}

void CProfessionalRecovery::AddStarts(std::span<const ScanLogRecord> records, StartMap& starts) {
  for (const ScanLogRecord& record : records) {
    if (!IsFileSystemEngine(record.EngineCode)) continue;
    uint64_t sector = 0;
    if (DataStartOf(record, sector)) starts[sector] = std::string(ExtensionOf(record.NameView()));
  }
}

bool CProfessionalRecovery::IsCarvedDuplicate(const StartMap& starts, const ScanLogRecord& carved) const {
  if (carved.EngineCode != kEngineCarving || carved.VolumeLetter != sourceId_) return false;
  const auto found = starts.find(carved.LocationSector);
  if (found == starts.end()) return false;
  const std::string_view known = found->second;
  const std::string_view extension = ExtensionOf(carved.NameView());
  return CompareNoCase(known, extension) == 0 ||
         (CompareNoCase(known, "thm") == 0 && CompareNoCase(extension, "jpg") == 0);
}

void CProfessionalRecovery::RemoveCarvedDuplicates(std::vector<ScanLogRecord>& records) {
  StartMap starts;
  AddStarts(records, starts);
  std::erase_if(records, [&](const ScanLogRecord& r) { return IsCarvedDuplicate(starts, r); });
}

ResultCode CProfessionalRecovery::QueryCategory(const std::string& filter, std::vector<ScanLogRecord>& out) {
  for (IFileRecoveryParse* engine :
       {deleted_.get(), static_cast<IFileRecoveryParse*>(fat_.get()), static_cast<IFileRecoveryParse*>(ntfs_.get())}) {
    if (!engine) continue;
    // A stopped search ends here; anything else a log could not give is left out.
    if (const ResultCode rc = engine->QueryCategory(filter, out); rc == kScanStopCode) return rc;
  }
  StartMap starts;
  AddStarts(out, starts);
  std::vector<ScanLogRecord> carved;
  if (const ResultCode rc = carving_->QueryCategory(filter, carved); rc == kScanStopCode) return rc;
  for (const ScanLogRecord& record : carved)
    if (!IsCarvedDuplicate(starts, record)) out.push_back(record);
  SortListing(out);
  return kSuccess;
}

}  // namespace selvane
