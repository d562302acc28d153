// One engine's scan log: the main file of 346-byte records, the "_Relation"
// text file (folder key -> record numbers) and the "_DirInfo" folder index,
// with a 200-record write buffer. Not locked: one thread uses it at a time.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "engine/recovery_parse.h"  // SearchProgressCallback
#include "platform/file_handle.h"
#include "results/scan_log_record.h"

namespace selvane {

inline constexpr size_t kDirInfoEntrySize = 268;
inline constexpr int32_t kLogBufferRecords = 200;
inline constexpr int32_t kLogBufferBytes = kLogBufferRecords * static_cast<int32_t>(kScanLogRecordSize);  // 69,200

// Log name prefixes of the engines; a resumed scan finds its logs by them.
inline constexpr const char* kFastLogPrefix = "Fast_";
inline constexpr const char* kCarvingLogPrefix = "File_Type_";
inline constexpr const char* kProFatLogPrefix = "Pro_Fat_";
inline constexpr const char* kProNtfsLogPrefix = "Pro_Ntfs_";

// "<prefix><partitionStart>_<year><month><day><hour><minute as %2d>" from the local time.
std::string MakeLogName(const char* prefix, int64_t partitionStart);

struct DirInfoEntry {
  uint32_t folderId = 0;
  uint32_t recordNumber = 0;
  std::array<char, kRecordNameSize> name{};
};

class CScanLog {
 public:
  CScanLog();
  ~CScanLog();
  CScanLog(const CScanLog&) = delete;
  CScanLog& operator=(const CScanLog&) = delete;

  // Opens or creates the three files of `logName` in the current scan folder
  // (CScanHistory::GetScanFolder). Reopening continues after the records already there.
  ResultCode OpenLog(const std::string& logName);
  // The next record slot, cleared; its number is RecordCount() after the call.
  // The reference is valid until the next NewRecord or FlushLog.
  ScanLogRecord& NewRecord();
  // Files record `recordNumber` under `parent`; a folder name adds a _DirInfo entry.
  void LinkRecord(FolderKey parent, uint32_t recordNumber, uint32_t itemId, const char* folderName);
  // Writes buffered records and rewrites the companion files.
  ResultCode FlushLog();
  void CloseLog();
  void SetQueryProgress(SearchProgressCallback callback);

  // Records directly inside a folder (key 0: the root, the smallest key), sorted.
  ResultCode ListFolder(FolderKey key, std::vector<ScanLogRecord>& out);
  // File records in a folder and all folders below it.
  ResultCode CountFilesBelow(FolderKey key, uint32_t& count);
  // File records whose extension matches the filter, sorted.
  ResultCode ListCategory(const std::string& filter, std::vector<ScanLogRecord>& out);
  // Folders above the record, nearest first.
  ResultCode GetAncestorFolders(const ScanLogRecord* record, std::vector<ScanLogRecord>& out);
  // "Photos/2019/" for a file in 2019 inside Photos; "" in the root.
  ResultCode GetFolderPath(const ScanLogRecord& record, std::string& path);
  ResultCode FindFolderRecord(uint32_t itemId, ScanLogRecord& out);
  // Reads record n (from 1) from the main file.
  ResultCode ReadRecord(uint32_t recordNumber, ScanLogRecord& out);

  uint32_t RecordCount() const { return static_cast<uint32_t>(recordCount_); }
  const std::string& MainPath() const { return mainPath_; }

 private:
  // The fields and helpers are the implementer's; the interface above is fixed.
  int32_t recordCount_ = 0;
  std::string mainPath_;
};

}  // namespace selvane
