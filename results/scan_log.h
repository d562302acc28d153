// One engine's scan log: the main file of 346-byte records, the "_Relation"
// text file (folder key -> record numbers) and the "_DirInfo" folder index,
// with a 200-record write buffer. Not locked: one thread uses it at a time.
#pragma once

#include <cstdint>
#include <ctime>
#include <map>
#include <string>
#include <string_view>
#include <utility>
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
std::string MakeLogName(const char* prefix, int64_t partitionStart, const std::tm& localTime);

struct DirInfoEntry {
  uint32_t folderId = 0;
  uint32_t recordNumber = 0;
  std::array<char, kRecordNameSize> name{};
};

// Folder key -> the records directly inside it, in the order they were linked.
using RelationMap = std::map<FolderKey, std::vector<uint32_t>>;

// The "_Relation" text: " | <key> - [<n>,<n>,...]" per key in ascending order.
std::string FormatRelationText(const RelationMap& relation);
// Sorts as folder listings are sorted: files before folders, then names
// case-insensitively; equal records keep their order.
void SortListing(std::vector<ScanLogRecord>& records);

// Reads a "_Relation" text; damaged items are skipped, a key given twice keeps its later list.
void ParseRelationText(std::string_view text, RelationMap& relation);

class CScanLog {
 public:
  CScanLog();
  ~CScanLog();
  CScanLog(const CScanLog&) = delete;
  CScanLog& operator=(const CScanLog&) = delete;

  // Opens or creates the three files of `logName` in the current scan folder
  // (CScanHistory::GetScanFolder). Reopening continues after the records already there.
  ResultCode OpenLog(const std::string& logName);
  // The next record slot, cleared, with its RecordNumber set; its number is
  // RecordCount() after the call. The reference is valid until the next
  // NewRecord or FlushLog. A failed write of the full buffer is reported by the
  // next FlushLog; numbering goes on and later records keep their places.
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
  // File records whose extension matches the filter, sorted (the whole of out).
  // Returns 0, the first read error, or the nonzero value with which the
  // progress callback stopped the search.
  ResultCode ListCategory(const std::string& filter, std::vector<ScanLogRecord>& out);
  // Folders above the record, nearest first.
  ResultCode GetAncestorFolders(const ScanLogRecord* record, std::vector<ScanLogRecord>& out);
  // "Photos/2019/" for a file in 2019 inside Photos; "" in the root.
  ResultCode GetFolderPath(const ScanLogRecord& record, std::string& path);
  ResultCode FindFolderRecord(uint32_t itemId, ScanLogRecord& out);
  // Reads record n (from 1), also one still in the write buffer.
  ResultCode ReadRecord(uint32_t recordNumber, ScanLogRecord& out);

  uint32_t RecordCount() const { return static_cast<uint32_t>(recordCount_); }
  const std::string& MainPath() const { return mainPath_; }
  const RelationMap& Relation() const { return relationMap_; }
  const std::vector<DirInfoEntry>& FolderIndex() const { return folderIndex_; }

 private:
  ResultCode WriteBuffer();
  ResultCode WriteCompanions();
  const std::vector<uint32_t>* ListOf(FolderKey key) const;
  // The smallest key whose list holds the record number, or nullptr.
  const FolderKey* ParentKeyOf(uint32_t recordNumber);
  const DirInfoEntry* FirstDirInfoOf(uint32_t folderId);
  void BuildLookups();

  int32_t recordCount_ = 0;  // number of the last record handed out
  uint64_t bytesAppended_ = 0;
  std::vector<ScanLogRecord> buffer_;  // records not yet written, from number recordCount_ - buffered_ + 1
  uint32_t buffered_ = 0;
  std::vector<uint8_t> block_;  // one block of encoded records, for writing and reading
  ResultCode pendingWriteError_ = kSuccess;
  FileHandle mainFile_, relationFile_, dirInfoFile_;
  SearchProgressCallback queryProgress_;
  std::string mainPath_, relationPath_, dirInfoPath_;
  RelationMap relationMap_;
  std::vector<DirInfoEntry> folderIndex_;
  bool relationDirty_ = false, dirInfoDirty_ = false;
  // Lookups for folder paths, built on demand and dropped by LinkRecord.
  bool lookupsBuilt_ = false;
  std::vector<std::pair<uint32_t, FolderKey>> parentOfRecord_;  // sorted by record number
  std::vector<std::pair<uint32_t, uint32_t>> dirInfoOfFolder_;  // folder id -> index of its first entry, sorted
};

}  // namespace selvane
