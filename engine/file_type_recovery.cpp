#include "engine/file_type_recovery.h"

#include <algorithm>
#include <filesystem>
#include <vector>

#include "engine/signatures/carve_type.h"
#include "engine/signatures/identify.h"
#include "platform/text.h"
#include "platform/user_folders.h"
#include "recovery/output_files.h"
#include "results/categories.h"

namespace selvane {
namespace {

constexpr size_t kCopyChunk = 65536;

// The folder part of a path ("" when it has none).
std::string ParentOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

// ".ext" of a name, lower case; empty when it has no ".".
std::string DottedExtension(std::string_view name) {
  const size_t dot = name.find_last_of('.');
  return dot == std::string_view::npos ? std::string() : AsciiLower(name.substr(dot));
}

bool ListHas(std::string_view list, const std::string& dottedExtension) {
  return !dottedExtension.empty() && list.find(dottedExtension) != std::string_view::npos;
}

}  // namespace

CFileTypeRecovery::~CFileTypeRecovery() { CloseLog(); }

void CFileTypeRecovery::CloseLog() {
  if (log_) log_->CloseLog();
  log_.reset();
}

void CFileTypeRecovery::StartLog(const std::string& logName) {
  CloseLog();
  log_ = std::make_unique<CScanLog>();
  // A log that cannot be opened leaves the engine without one: queries then
  // find nothing and nothing is recorded.
  if (log_->OpenLog(logName) != kSuccess) CloseLog();
}

ResultCode CFileTypeRecovery::OpenImage(const std::string& imagePath, uint16_t sourceId) {
  CloseLog();
  sourceId_ = sourceId;
  partitionFirstSector_ = 0;
  device_ = DiskDevice{};
  const ResultCode result = OpenImageFile(imagePath, device_);
  StartLog(MakeLogName(kCarvingLogPrefix, 0));
  return result;
}

ResultCode CFileTypeRecovery::OpenPartition(int32_t driveNumber, uint64_t firstSector, uint64_t sectorCount,
                                            uint16_t sourceId) {
  CloseLog();
  sourceId_ = sourceId;
  partitionFirstSector_ = firstSector;
  partitionSectorCount_ = sectorCount;
  device_ = DiskDevice{};
  const ResultCode result = OpenPhysicalDrive(driveNumber, device_);
  StartLog(MakeLogName(kCarvingLogPrefix, static_cast<int64_t>(firstSector)));
  return result;
}

ResultCode CFileTypeRecovery::ResumeImage(const std::string& imagePath, uint16_t sourceId, uint32_t sectorSize,
                                          const std::string& logName) {
  sourceId_ = sourceId;
  sectorSize_ = sectorSize;
  device_ = DiskDevice{};
  const ResultCode result = OpenImageFile(imagePath, device_);
  StartLog(logName);
  return result;
}

ResultCode CFileTypeRecovery::ResumePartition(int32_t driveNumber, uint16_t sourceId, uint32_t sectorSize,
                                              const std::string& logName) {
  sourceId_ = sourceId;
  sectorSize_ = sectorSize;
  device_ = DiskDevice{};
  const ResultCode result = OpenPhysicalDrive(driveNumber, device_);
  StartLog(logName);
  return result;
}

ResultCode CFileTypeRecovery::SetCallbacks(ProgressCallback progress, FileProgressCallback fileProgress,
                                           int32_t scale) {
  progress_ = std::move(progress);
  fileProgress_ = std::move(fileProgress);
  scale_ = scale;
  context_.SetProgressCallback(progress_, scale);
  return kSuccess;
}

ResultCode CFileTypeRecovery::Scan(const std::string&) { return kSuccess; }

ResultCode CFileTypeRecovery::CarveSector(uint32_t sectorSize, std::span<const uint8_t> sectorData, uint64_t sector,
                                          uint64_t doneSectors, uint64_t totalSectors, int32_t secondsLeft,
                                          const DiskDevice& device, uint64_t& sectorsConsumed,
                                          uint64_t& filesFound) {
  sectorSize_ = sectorSize;
  if (!log_ || sectorSize == 0) return kInvalidParameter;
  const DeviceSectorSource source(device, sectorSize);
  const CarveProgress progress{doneSectors, totalSectors, secondsLeft, filesFound};
  CarvedFile file;
  const ResultCode result = IdentifyCarvedFile(context_, source, sectorData, sector, progress, file);
  if (result != kSuccess) return result;

  ScanLogRecord& record = log_->NewRecord();
  record.VolumeLetter = sourceId_;
  record.EngineCode = kEngineCarving;
  record.IsFolder = 0;
  record.Intact = 1;
  record.ItemId = 0;
  record.ClusterBytes = kNoClusterSize;
  record.FileSize = file.length;
  record.DataAreaSector = 0;
  record.LocationSector = sector;
  record.SetName(file.Name());
  log_->LinkRecord(MakeFolderKey(0, 0), record.RecordNumber, 0, nullptr);

  if (ContinuesWithNextSector(file.type)) {
    sectorsConsumed = 1;
  } else {
    sectorsConsumed = std::max<uint64_t>(1, (file.length + sectorSize - 1) / sectorSize);
  }
  ++filesFound;
  return kSuccess;
}

ResultCode CFileTypeRecovery::QueryFolder(const ScanLogRecord* folder, uint32_t depth,
                                          std::vector<ScanLogRecord>& out) {
  if (!log_) return kSuccess;
  log_->FlushLog();
  if (folder != nullptr || depth != 0) return kSuccess;
  return log_->ListFolder(MakeFolderKey(0, 0), out);
}

ResultCode CFileTypeRecovery::QueryFileCount(const ScanLogRecord* folder, uint32_t depth, uint32_t& count) {
  if (!log_) return kSuccess;
  log_->FlushLog();
  if (folder != nullptr || depth != 0) return kSuccess;
  return log_->CountFilesBelow(MakeFolderKey(0, 0), count);
}

uint64_t CFileTypeRecovery::GetRecordCount() { return log_ ? log_->RecordCount() : 0; }

ResultCode CFileTypeRecovery::QueryFolderPath(const ScanLogRecord&, std::string&) { return kSuccess; }

ResultCode CFileTypeRecovery::FindFreeRun(uint64_t&, uint64_t&) { return kSuccess; }

ResultCode CFileTypeRecovery::LoadAllocationBitmap() { return kSuccess; }

ResultCode CFileTypeRecovery::SetSearchProgress(SearchProgressCallback callback) {
  searchProgress_ = std::move(callback);
  if (!log_) return kInvalidParameter;
  log_->SetQueryProgress(searchProgress_);
  return kSuccess;
}

ResultCode CFileTypeRecovery::QueryCategory(const std::string& filter, std::vector<ScanLogRecord>& out) {
  if (!log_) return kSuccess;
  return log_->ListCategory(filter, out);
}

// Reads the file's sectors in chunks of up to 64 KiB from its first sector on
// and hands each chunk's bytes to `sink`, which returns a non-zero value to
// stop. A read that delivers nothing ends with 30, any other failed read (after
// the bytes it delivered) with its error.
template <typename Sink>
static ResultCode CopySectors(const DiskDevice& device, uint32_t sectorSize, uint64_t firstSector, uint64_t bytes,
                              std::vector<uint8_t>& buffer, Sink&& sink) {
  uint64_t toRead = (bytes + sectorSize - 1) / sectorSize * sectorSize;
  uint64_t sectorsDone = 0;
  while (toRead != 0) {
    const uint64_t chunk = std::min<uint64_t>(kCopyChunk / sectorSize * sectorSize, toRead);
    const uint32_t count = static_cast<uint32_t>(chunk / sectorSize);
    uint32_t read = 0;
    const ResultCode rc =
        ReadSectors(static_cast<int32_t>(count), device, buffer.data(), firstSector + sectorsDone, sectorSize, read);
    if (read == 0) return rc == kInvalidParameter || rc == kSuccess ? kReadFault : rc;
    if (const ResultCode stop = sink(std::span<const uint8_t>(buffer.data(), size_t{read} * sectorSize));
        stop != kSuccess)
      return stop;
    if (rc != kSuccess) return rc;
    sectorsDone += read;
    toRead -= chunk;
  }
  return kSuccess;
}

ResultCode CFileTypeRecovery::RecoverItem(const ScanLogRecord& record, const std::string& destination, int32_t) {
  const std::string folder = ParentOf(destination);
  if (!folder.empty()) {
    if (const ResultCode rc = CreateFolders(folder); rc != kSuccess && rc != kAlreadyExists) return rc;
  }
  const std::string path = destination;
  auto report = [&](ResultCode error) {
    if (error > 0 && fileProgress_) fileProgress_(100, 100, error, path);
    return error;
  };
  FileHandle file;
  if (const ResultCode rc = CreateOutputFile(destination, file); rc != kSuccess) return report(rc);
  const uint64_t size = record.FileSize;
  if (size == 0) return kSuccess;

  std::vector<uint8_t> buffer(kCopyChunk);
  uint64_t written = 0;
  const ResultCode result =
      CopySectors(device_, sectorSize_, record.LocationSector, size, buffer, [&](std::span<const uint8_t> data) {
        const size_t n = static_cast<size_t>(std::min<uint64_t>(data.size(), size - written));
        if (const ResultCode rc = WriteAll(file, data.data(), n); rc != kSuccess) return rc;
        written += n;
        if (!fileProgress_) return kSuccess;
        return static_cast<ResultCode>(fileProgress_(static_cast<int32_t>(written * 100 / size), 100, 0, path));
      });
  return report(result);
}

ResultCode CFileTypeRecovery::ReadItemData(const ScanLogRecord& record, std::string& tempPath,
                                           std::span<uint8_t> buffer, uint32_t& size, ReadProgressCallback progress) {
  // Documents and archives are copied under their own name, audio and video
  // to "tmp.avi", pictures to "tmp.jpg"; anything else goes to the buffer.
  const std::string name(record.NameView());
  const std::string extension = DottedExtension(name);
  std::string target;
  const std::string root = ScanLogRoot();
  if (ListHas(kOfficeArchiveList, extension)) target = JoinBelow(root, name);
  if (ListHas(kAudioList, extension) || ListHas(kVideoList, extension)) target = root + "/tmp.avi";
  if (ListHas(kPictureList, extension)) target = root + "/tmp.jpg";

  auto report = [&](ResultCode error) {
    if (error > 0 && progress) progress(100, error);
    return error;
  };
  std::vector<uint8_t> chunkBuffer(kCopyChunk);
  const uint64_t fileSize = record.FileSize;

  if (!target.empty()) {
    tempPath = target;
    size = 0;
    std::error_code ignored;
    std::filesystem::remove(target, ignored);
    FileHandle file;
    if (const ResultCode rc = CreateFolders(root); rc != kSuccess) return report(rc);
    if (const ResultCode rc = CreateOutputFile(target, file); rc != kSuccess) return report(rc);
    uint64_t written = 0;
    const ResultCode result = CopySectors(
        device_, sectorSize_, record.LocationSector, fileSize, chunkBuffer, [&](std::span<const uint8_t> data) {
          const size_t n = static_cast<size_t>(std::min<uint64_t>(data.size(), fileSize - written));
          if (const ResultCode rc = WriteAll(file, data.data(), n); rc != kSuccess) return rc;
          written += n;
          if (!progress) return kSuccess;
          return static_cast<ResultCode>(progress(static_cast<int32_t>(written * 100 / fileSize), kSuccess));
        });
    file.Close();
    // A preview that failed leaves no partial copy behind.
    if (result != kSuccess) std::filesystem::remove(target, ignored);
    return report(result);
  }

  const uint64_t amount = std::min<uint64_t>({fileSize, size, buffer.size()});
  uint64_t copied = 0;
  const ResultCode result = CopySectors(
      device_, sectorSize_, record.LocationSector, amount, chunkBuffer, [&](std::span<const uint8_t> data) {
        const size_t n = static_cast<size_t>(std::min<uint64_t>(data.size(), amount - copied));
        std::copy_n(data.begin(), n, buffer.begin() + static_cast<ptrdiff_t>(copied));
        copied += n;
        if (!progress) return kSuccess;
        return static_cast<ResultCode>(progress(static_cast<int32_t>(copied * 100 / amount), kSuccess));
      });
  size = static_cast<uint32_t>(copied);
  return report(result);
}

}  // namespace selvane
