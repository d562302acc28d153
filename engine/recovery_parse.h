// The interface every recovery engine implements, and the callback types
// through which engines report progress and can be stopped.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "platform/result_codes.h"
#include "results/scan_log_record.h"

namespace selvane {

// What the first 16 KiB of a volume look like.
enum class FileSystemKind { Fat, Ntfs, Ext, Unknown };

// 0 is Fast (deleted files the file system still knows); any other value is
// Professional (deep scan: formatted volumes and carving).
enum class ScanMode : int32_t { Fast = 0, Professional = 1 };
constexpr ScanMode ScanModeFromInt(int32_t value) { return value == 0 ? ScanMode::Fast : ScanMode::Professional; }

// Progress of Scan. percent is the engine's own 0-100; scale is the value given
// to SetCallbacks; secondsLeft is -1 until an estimate exists. A nonzero result
// stops the scan, which returns it (kScanStopCode by convention).
using ProgressCallback = std::function<int32_t(int32_t percent, int32_t scale, int32_t secondsLeft,
                                               uint64_t sectorsDone, uint64_t sectorsTotal, uint64_t filesFound)>;
// Progress of RecoverItem for one file. The call whose percent x scale / 100 is
// 100 ends that file: errorCode 0 means written, else the error that ended it.
using FileProgressCallback =
    std::function<int32_t(int32_t percent, int32_t scale, ResultCode errorCode, const std::string& path)>;
// Progress of ReadItemData; the call with percent 100 ends the read.
using ReadProgressCallback = std::function<int32_t(int32_t percent, ResultCode errorCode)>;
// Progress of a category search; nonzero stops it.
using SearchProgressCallback = std::function<int32_t(int32_t percent)>;

class IFileRecoveryParse {
 public:
  virtual ~IFileRecoveryParse() = default;

  // Opens a raw image file as the source (volume at byte 0, 512-byte sectors).
  virtual ResultCode OpenImage(const std::string& imagePath, uint16_t sourceId) = 0;
  // Opens the partition at an absolute sector of drive N (sectors of the drive's size).
  virtual ResultCode OpenPartition(int32_t driveNumber, uint64_t firstSector, uint64_t sectorCount,
                                   uint16_t sourceId) = 0;
  virtual ResultCode SetCallbacks(ProgressCallback progress, FileProgressCallback fileProgress, int32_t scale) = 0;
  // With an empty name: scans the whole source into a new log. With a name:
  // reopens that existing log without scanning.
  virtual ResultCode Scan(const std::string& logName) = 0;
  // Records directly inside a folder (none: the root, and depth must be 0).
  virtual ResultCode QueryFolder(const ScanLogRecord* folder, uint32_t depth, std::vector<ScanLogRecord>& out) = 0;
  virtual ResultCode QueryFileCount(const ScanLogRecord* folder, uint32_t depth, uint32_t& count) = 0;
  virtual uint64_t GetRecordCount() = 0;
  // Folders above a record, outermost first, each followed by "/"; "" in the root.
  virtual ResultCode QueryFolderPath(const ScanLogRecord& record, std::string& path) = 0;
  // Writes a file to `destination` (its full path), or a folder with everything
  // below it into `destination`. rootSeparators: "/" count of the chosen folder.
  virtual ResultCode RecoverItem(const ScanLogRecord& record, const std::string& destination,
                                 int32_t rootSeparators) = 0;
  // Moves sector (relative to the partition) to the next unallocated run and
  // gives its length; needs LoadAllocationBitmap first.
  virtual ResultCode FindFreeRun(uint64_t& sector, uint64_t& sectorCount) = 0;
  virtual ResultCode SetSearchProgress(SearchProgressCallback callback) = 0;
  // File records whose extension occurs in the filter ("*.jpg|*.png", ".other").
  virtual ResultCode QueryCategory(const std::string& filter, std::vector<ScanLogRecord>& out) = 0;
  virtual ResultCode LoadAllocationBitmap() = 0;
  // Reads a found file for a preview: into a temporary file whose path is set
  // (documents, pictures, media), or else into `buffer`, setting `size`.
  virtual ResultCode ReadItemData(const ScanLogRecord& record, std::string& tempPath, std::span<uint8_t> buffer,
                                  uint32_t& size, ReadProgressCallback progress) = 0;
};

}  // namespace selvane
