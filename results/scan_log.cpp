#include "results/scan_log.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <deque>
#include <new>
#include <unordered_set>

#include "platform/text.h"
#include "recovery/output_files.h"
#include "results/categories.h"
#include "results/scan_history.h"

namespace selvane {
namespace {

constexpr uint64_t kOtherListingLimit = 134'217'728;  // 128 MiB: larger logs list no "other" files

uint32_t LoadU32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
         (static_cast<uint32_t>(p[3]) << 24);
}

void StoreU32(uint8_t* p, uint32_t value) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(value >> (8 * i));
}

std::span<const uint8_t, kScanLogRecordSize> RecordAt(const uint8_t* p) {
  return std::span<const uint8_t, kScanLogRecordSize>(p, kScanLogRecordSize);
}

// The stored name of an encoded record, up to its NUL.
std::string_view StoredName(const uint8_t* record) {
  const char* name = reinterpret_cast<const char*>(record + record_offset::Name);
  const void* nul = std::memchr(name, 0, kRecordNameSize);
  return std::string_view(name, nul ? static_cast<const char*>(nul) - name : kRecordNameSize);
}


// Reads up to `count` bytes at `offset`, repeating short reads; stops at the end of the file.
ResultCode ReadBlock(const FileHandle& file, uint8_t* buffer, size_t count, uint64_t offset, size_t& got) {
  got = 0;
  while (got < count) {
    ssize_t n = file.ReadAt(buffer + got, count - got, offset + got);
    if (n < 0) return LastResult();
    if (n == 0) break;
    got += static_cast<size_t>(n);
  }
  return kSuccess;
}

ResultCode WriteWhole(const FileHandle& file, const void* data, size_t count, uint64_t offset) {
  const auto* p = static_cast<const uint8_t*>(data);
  while (count > 0) {
    ssize_t n = file.WriteAt(p, count, offset);
    if (n < 0) return LastResult(true);
    if (n == 0) return kWriteFault;
    p += n;
    offset += static_cast<uint64_t>(n);
    count -= static_cast<size_t>(n);
  }
  return kSuccess;
}

// Replaces a companion file's content with `bytes`. A file that is already
// exactly `bytes` long is not cut, so an unchanged rewrite leaves it as it was.
ResultCode RewriteFile(const FileHandle& file, const void* bytes, size_t count) {
  if (ResultCode rc = WriteWhole(file, bytes, count, 0); rc != kSuccess) return rc;
  uint64_t size = 0;
  if (ResultCode rc = file.Size(size); rc != kSuccess) return rc;
  return size > count ? file.Truncate(count) : kSuccess;
}

ResultCode ReadWholeFile(const FileHandle& file, std::vector<uint8_t>& bytes) {
  uint64_t size = 0;
  if (ResultCode rc = file.Size(size); rc != kSuccess) return rc;
  try {
    bytes.resize(static_cast<size_t>(size));
  } catch (const std::bad_alloc&) {
    return kNotEnoughMemory;
  }
  size_t got = 0;
  if (ResultCode rc = ReadBlock(file, bytes.data(), bytes.size(), 0, got); rc != kSuccess) return rc;
  bytes.resize(got);
  return kSuccess;
}

bool IsPlainFileName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
         name.find('\0') == std::string::npos;
}

// A decimal number at the start of text: an optional "-" and digits, wrapping
// like a 64-bit value; false when there are no digits.
bool ParseNumber(std::string_view text, uint64_t& value) {
  size_t i = 0;
  bool negative = i < text.size() && text[i] == '-';
  if (negative) ++i;
  size_t digits = 0;
  value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i, ++digits) value = value * 10 + (text[i] - '0');
  if (negative) value = 0 - value;
  return digits > 0;
}

// Remembers whether a lowered extension matches the filter, so that a search
// over a large log does one substring search per distinct extension instead of
// one per record. Fixed size, no allocation while searching; extensions that
// do not fit are tested directly.
class ExtensionMatches {
 public:
  ExtensionMatches(std::string_view wanted, std::string_view known, bool otherWanted)
      : wanted_(wanted), known_(known), otherWanted_(otherWanted), slots_(kSlots) {}

  // dotted: "." followed by the lowered extension.
  bool Matches(std::string_view dotted) {
    if (dotted.size() > kLongest) return Test(dotted);
    uint32_t hash = 2166136261u;
    for (char c : dotted) hash = (hash ^ static_cast<uint8_t>(c)) * 16777619u;
    for (uint32_t probe = 0; probe < kProbes; ++probe) {
      Slot& slot = slots_[(hash + probe) & (kSlots - 1)];
      if (slot.length == 0) {
        slot.length = static_cast<uint8_t>(dotted.size());
        std::memcpy(slot.text, dotted.data(), dotted.size());
        slot.matches = Test(dotted);
        return slot.matches;
      }
      if (slot.length == dotted.size() && std::memcmp(slot.text, dotted.data(), dotted.size()) == 0)
        return slot.matches;
    }
    return Test(dotted);
  }

 private:
  static constexpr size_t kSlots = 4096;  // a power of two
  static constexpr uint32_t kProbes = 8;
  static constexpr size_t kLongest = 23;
  struct Slot {
    uint8_t length = 0;
    bool matches = false;
    char text[kLongest]{};
  };

  bool Test(std::string_view dotted) const {
    return wanted_.find(dotted) != std::string_view::npos ||
           (otherWanted_ && known_.find(dotted) == std::string_view::npos);
  }

  std::string_view wanted_, known_;
  bool otherWanted_;
  std::vector<Slot> slots_;
};

}  // namespace

// Small keys are sorted and the records moved once, so large results do
// not shuffle 346-byte records around.
void SortListing(std::vector<ScanLogRecord>& records) {
  if (records.size() < 2) return;
  struct Key {
    bool folder;
    std::string_view name;
    size_t index;
  };
  std::vector<Key> keys;
  keys.reserve(records.size());
  bool sorted = true;
  for (size_t i = 0; i < records.size(); ++i) {
    keys.push_back(Key{records[i].IsFolderRecord(), records[i].NameView(), i});
    if (i > 0) {
      const Key& a = keys[i - 1];
      const Key& b = keys[i];
      if (a.folder != b.folder ? a.folder : CompareNoCase(a.name, b.name) > 0) sorted = false;
    }
  }
  if (sorted) return;
  std::stable_sort(keys.begin(), keys.end(), [](const Key& a, const Key& b) {
    if (a.folder != b.folder) return !a.folder;
    return CompareNoCase(a.name, b.name) < 0;
  });
  std::vector<ScanLogRecord> ordered;
  ordered.reserve(records.size());
  for (const Key& key : keys) ordered.push_back(records[key.index]);
  records.swap(ordered);
}

std::string MakeLogName(const char* prefix, int64_t partitionStart, const std::tm& localTime) {
  char name[128];
  std::snprintf(name, sizeof name, "%s%lld_%d%d%d%d%2d", prefix, static_cast<long long>(partitionStart),
                localTime.tm_year + 1900, localTime.tm_mon + 1, localTime.tm_mday, localTime.tm_hour,
                localTime.tm_min);
  return name;
}

std::string MakeLogName(const char* prefix, int64_t partitionStart) {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  ::localtime_r(&now, &local);
  return MakeLogName(prefix, partitionStart, local);
}

std::string FormatRelationText(const RelationMap& relation) {
  std::string text;
  for (const auto& [key, records] : relation) {
    text += " | ";
    text += std::to_string(key);
    text += " - [";
    for (size_t i = 0; i < records.size(); ++i) {
      if (i) text += ',';
      text += std::to_string(static_cast<int32_t>(records[i]));
    }
    text += ']';
  }
  return text;
}

void ParseRelationText(std::string_view text, RelationMap& relation) {
  size_t item = text.find(" | ");
  while (item != std::string_view::npos) {
    uint64_t key = 0;
    size_t keyStart = item + 3;
    size_t keyEnd = keyStart;
    while (keyEnd < text.size() && text[keyEnd] >= '0' && text[keyEnd] <= '9') ++keyEnd;
    ParseNumber(text.substr(keyStart, keyEnd - keyStart), key);
    size_t open = text.find("- [", keyStart);
    if (open == std::string_view::npos) return;
    std::vector<uint32_t> records;
    size_t numberStart = open + 3;
    size_t i = numberStart;
    bool closed = false;
    for (; i < text.size(); ++i) {
      char c = text[i];
      if (c != ',' && c != ']') continue;
      uint64_t number = 0;
      if (ParseNumber(text.substr(numberStart, i - numberStart), number))
        records.push_back(static_cast<uint32_t>(number));
      numberStart = i + 1;
      if (c == ']') {
        closed = true;
        break;
      }
    }
    if (!closed) return;  // a cut item at the end
    if (!records.empty()) relation[key] = std::move(records);
    item = text.find(" | ", i);
  }
}

CScanLog::CScanLog() = default;

CScanLog::~CScanLog() { CloseLog(); }

ResultCode CScanLog::OpenLog(const std::string& logName) {
  CloseLog();
  if (!IsPlainFileName(logName)) return kInvalidParameter;

  std::string folder = CScanHistory::Instance().GetScanFolder();
  if (ResultCode rc = CreateFolders(folder); rc != kSuccess) return rc;
  if (folder.back() != '/') folder += '/';
  mainPath_ = folder + logName;
  relationPath_ = mainPath_ + "_Relation";
  dirInfoPath_ = mainPath_ + "_DirInfo";

  if (ResultCode rc = OpenFile(mainPath_, OpenMode::ReadWrite, mainFile_); rc != kSuccess) return rc;
  if (ResultCode rc = OpenFile(relationPath_, OpenMode::ReadWrite, relationFile_); rc != kSuccess) {
    mainFile_.Close();
    return rc;
  }
  uint64_t mainSize = 0;
  if (ResultCode rc = mainFile_.Size(mainSize); rc != kSuccess) {
    mainFile_.Close();
    relationFile_.Close();
    return rc;
  }
  // New records follow the whole records already there (a torn tail is overwritten),
  // so record n stays at (n - 1) x 346.
  recordCount_ = static_cast<int32_t>(std::min<uint64_t>(mainSize / kScanLogRecordSize, INT32_MAX));

  std::vector<uint8_t> bytes;
  if (ResultCode rc = ReadWholeFile(relationFile_, bytes); rc == kSuccess) {
    ParseRelationText(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()), relationMap_);
  }

  ResultCode result = kSuccess;
  try {
    buffer_.assign(kLogBufferRecords, ScanLogRecord{});
    block_.assign(kLogBufferBytes, 0);
  } catch (const std::bad_alloc&) {
    result = kNotEnoughMemory;
  }
  buffered_ = 0;

  // A log without a usable _DirInfo still opens.
  if (OpenFile(dirInfoPath_, OpenMode::ReadWrite, dirInfoFile_) != kSuccess) return result;
  if (ReadWholeFile(dirInfoFile_, bytes) == kSuccess) {
    for (size_t at = 0; at + kDirInfoEntrySize <= bytes.size(); at += kDirInfoEntrySize) {
      DirInfoEntry entry;
      entry.folderId = LoadU32(&bytes[at]);
      entry.recordNumber = LoadU32(&bytes[at + 4]);
      std::memcpy(entry.name.data(), &bytes[at + 8], kRecordNameSize);
      folderIndex_.push_back(entry);
    }
  }
  return result;
}

ScanLogRecord& CScanLog::NewRecord() {
  if (buffer_.empty()) {
    buffer_.assign(kLogBufferRecords, ScanLogRecord{});
    block_.assign(kLogBufferBytes, 0);
  }
  if (buffered_ == buffer_.size()) {
    if (ResultCode rc = WriteBuffer(); rc != kSuccess && pendingWriteError_ == kSuccess) pendingWriteError_ = rc;
  }
  ScanLogRecord& slot = buffer_[buffered_++];
  slot = ScanLogRecord{};
  ++recordCount_;
  bytesAppended_ += kScanLogRecordSize;
  slot.RecordNumber = static_cast<uint32_t>(recordCount_);
  return slot;
}

// Writes the buffered records at their places in the main file and empties the
// buffer, also when the write fails (the numbers of later records do not move).
ResultCode CScanLog::WriteBuffer() {
  if (buffered_ == 0) return kSuccess;
  uint32_t first = static_cast<uint32_t>(recordCount_) - buffered_ + 1;
  for (uint32_t i = 0; i < buffered_; ++i)
    EncodeRecord(buffer_[i], std::span<uint8_t, kScanLogRecordSize>(&block_[i * kScanLogRecordSize],
                                                                    kScanLogRecordSize));
  size_t count = size_t{buffered_} * kScanLogRecordSize;
  buffered_ = 0;
  if (!mainFile_.IsOpen()) return kInvalidHandle;
  return WriteWhole(mainFile_, block_.data(), count, uint64_t{first - 1} * kScanLogRecordSize);
}

void CScanLog::LinkRecord(FolderKey parent, uint32_t recordNumber, uint32_t itemId, const char* folderName) {
  relationMap_[parent].push_back(recordNumber);
  relationDirty_ = true;
  lookupsBuilt_ = false;
  if (folderName == nullptr) return;
  DirInfoEntry entry;
  entry.folderId = itemId;
  entry.recordNumber = recordNumber;
  std::string_view name(folderName);
  size_t length = Utf8PrefixLength(name, kRecordNameSize - 1);
  std::memcpy(entry.name.data(), name.data(), length);
  folderIndex_.push_back(entry);
  dirInfoDirty_ = true;
}

ResultCode CScanLog::WriteCompanions() {
  ResultCode result = kSuccess;
  if (relationDirty_ && relationFile_.IsOpen()) {
    std::string text = FormatRelationText(relationMap_);
    result = RewriteFile(relationFile_, text.data(), text.size());
    if (result == kSuccess) relationDirty_ = false;
  }
  if (dirInfoDirty_ && dirInfoFile_.IsOpen()) {
    std::vector<uint8_t> bytes(folderIndex_.size() * kDirInfoEntrySize);
    for (size_t i = 0; i < folderIndex_.size(); ++i) {
      uint8_t* at = &bytes[i * kDirInfoEntrySize];
      StoreU32(at, folderIndex_[i].folderId);
      StoreU32(at + 4, folderIndex_[i].recordNumber);
      std::memcpy(at + 8, folderIndex_[i].name.data(), kRecordNameSize);
    }
    ResultCode rc = RewriteFile(dirInfoFile_, bytes.data(), bytes.size());
    if (rc == kSuccess) dirInfoDirty_ = false;
    else if (result == kSuccess) result = rc;
  }
  return result;
}

ResultCode CScanLog::FlushLog() {
  ResultCode written = WriteBuffer();
  ResultCode earlier = pendingWriteError_;
  pendingWriteError_ = kSuccess;
  if (written != kSuccess) return written;
  ResultCode companions = WriteCompanions();
  return earlier != kSuccess ? earlier : companions;
}

void CScanLog::CloseLog() {
  if (mainFile_.IsOpen() || buffered_ > 0) FlushLog();
  buffer_.clear();
  buffer_.shrink_to_fit();
  block_.clear();
  block_.shrink_to_fit();
  buffered_ = 0;
  mainFile_.Close();
  relationFile_.Close();
  dirInfoFile_.Close();
  relationMap_.clear();
  folderIndex_.clear();
  relationDirty_ = dirInfoDirty_ = false;
  lookupsBuilt_ = false;
  parentOfRecord_.clear();
  dirInfoOfFolder_.clear();
}

void CScanLog::SetQueryProgress(SearchProgressCallback callback) { queryProgress_ = std::move(callback); }

ResultCode CScanLog::ReadRecord(uint32_t recordNumber, ScanLogRecord& out) {
  if (recordNumber == 0 || recordNumber > static_cast<uint32_t>(recordCount_)) return kInvalidParameter;
  uint32_t firstBuffered = static_cast<uint32_t>(recordCount_) - buffered_ + 1;
  if (buffered_ > 0 && recordNumber >= firstBuffered) {
    out = buffer_[recordNumber - firstBuffered];
    return kSuccess;
  }
  if (!mainFile_.IsOpen()) return kInvalidHandle;
  RecordBytes bytes;
  ssize_t n = mainFile_.ReadAt(bytes.data(), bytes.size(), uint64_t{recordNumber - 1} * kScanLogRecordSize);
  if (n < 0) return LastResult();
  if (static_cast<size_t>(n) != bytes.size()) return kReadFault;
  out = DecodeRecord(bytes);
  return kSuccess;
}

const std::vector<uint32_t>* CScanLog::ListOf(FolderKey key) const {
  if (key == 0) return relationMap_.empty() ? nullptr : &relationMap_.begin()->second;
  auto it = relationMap_.find(key);
  return it == relationMap_.end() ? nullptr : &it->second;
}

ResultCode CScanLog::ListFolder(FolderKey key, std::vector<ScanLogRecord>& out) {
  ResultCode result = kSuccess;
  if (const std::vector<uint32_t>* list = ListOf(key)) {
    ScanLogRecord record;
    for (uint32_t number : *list) {
      result = ReadRecord(number, record);
      if (result != kSuccess) break;
      if (IsDamagedPicture(record.NameView(), record.Intact != 0)) continue;
      out.push_back(record);
    }
  }
  SortListing(out);
  return result;
}

ResultCode CScanLog::CountFilesBelow(FolderKey key, uint32_t& count) {
  count = 0;
  ResultCode result = kSuccess;
  // Each folder key is walked once, so a damaged log with cycles or repeated
  // folders cannot make the walk endless.
  std::unordered_set<FolderKey> seen;
  std::deque<FolderKey> queue{key};
  ScanLogRecord record;
  while (!queue.empty()) {
    FolderKey current = queue.front();
    queue.pop_front();
    const std::vector<uint32_t>* list = ListOf(current);
    if (list == nullptr) continue;
    FolderKey listKey = current == 0 ? relationMap_.begin()->first : current;
    if (!seen.insert(listKey).second) continue;
    for (uint32_t number : *list) {
      if (ResultCode rc = ReadRecord(number, record); rc != kSuccess) {
        result = rc;
        break;
      }
      if (record.IsFolderRecord()) queue.push_back(MakeFolderKey(FolderKeyDepth(current) + 1, record.ItemId));
      else ++count;
    }
  }
  return result;
}

ResultCode CScanLog::ListCategory(const std::string& filter, std::vector<ScanLogRecord>& out) {
  FlushLog();
  if (!mainFile_.IsOpen()) return kInvalidHandle;
  uint64_t size = 0;
  if (ResultCode rc = mainFile_.Size(size); rc != kSuccess) return rc;

  bool otherWanted = filter.find(".other") != std::string::npos && size < kOtherListingLimit;
  ExtensionMatches matcher(filter, KnownExtensions(), otherWanted);

  ResultCode result = kSuccess;
  char dotted[kRecordNameSize + 1];
  dotted[0] = '.';
  for (uint64_t offset = 0; offset < size;) {
    size_t got = 0;
    result = ReadBlock(mainFile_, block_.data(), block_.size(), offset, got);
    if (result != kSuccess || got == 0) break;
    offset += got;
    size_t records = got / kScanLogRecordSize;
    for (size_t i = 0; i < records; ++i) {
      const uint8_t* record = &block_[i * kScanLogRecordSize];
      if (LoadU32(record + record_offset::IsFolder) == 1) continue;
      std::string_view extension = ExtensionOf(StoredName(record));
      bool matches;
      if (extension.empty()) {
        matches = otherWanted;
      } else {
        if (LoadU32(record + record_offset::Intact) == 0 && ListContains(kPictureList, extension)) continue;
        for (size_t k = 0; k < extension.size(); ++k) {
          char c = extension[k];
          dotted[k + 1] = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
        }
        matches = matcher.Matches(std::string_view(dotted, extension.size() + 1));
      }
      if (matches) out.push_back(DecodeRecord(RecordAt(record)));
    }
    if (queryProgress_) {
      if (int32_t stop = queryProgress_(static_cast<int32_t>(std::min(offset, size) * 100 / size)); stop != 0) {
        result = stop;
        break;
      }
    }
    if (got < block_.size()) break;  // the end of the file
  }
  SortListing(out);
  return result;
}

ResultCode CScanLog::FindFolderRecord(uint32_t itemId, ScanLogRecord& out) {
  if (!mainFile_.IsOpen()) return kInvalidHandle;
  // Only the records already written: anything still buffered is checked after them.
  uint64_t size = uint64_t{static_cast<uint32_t>(recordCount_) - buffered_} * kScanLogRecordSize;
  std::vector<uint8_t> block(kLogBufferBytes);
  for (uint64_t offset = 0; offset < size;) {
    size_t got = 0;
    size_t want = static_cast<size_t>(std::min<uint64_t>(block.size(), size - offset));
    if (ResultCode rc = ReadBlock(mainFile_, block.data(), want, offset, got); rc != kSuccess) return rc;
    if (got == 0) break;
    offset += got;
    for (size_t i = 0; i + kScanLogRecordSize <= got; i += kScanLogRecordSize) {
      if (LoadU32(&block[i + record_offset::ItemId]) != itemId) continue;
      out = DecodeRecord(RecordAt(&block[i]));
      if (out.IsFolderRecord()) return kSuccess;
    }
  }
  for (uint32_t i = 0; i < buffered_; ++i) {
    if (buffer_[i].ItemId != itemId) continue;
    out = buffer_[i];
    if (out.IsFolderRecord()) return kSuccess;
  }
  return kInvalidParameter;
}

void CScanLog::BuildLookups() {
  parentOfRecord_.clear();
  for (const auto& [key, records] : relationMap_)
    for (uint32_t number : records) parentOfRecord_.emplace_back(number, key);
  // Keys were visited in ascending order, so the stable sort keeps the smallest key first.
  std::stable_sort(parentOfRecord_.begin(), parentOfRecord_.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  parentOfRecord_.erase(std::unique(parentOfRecord_.begin(), parentOfRecord_.end(),
                                    [](const auto& a, const auto& b) { return a.first == b.first; }),
                        parentOfRecord_.end());

  dirInfoOfFolder_.clear();
  for (uint32_t i = 0; i < folderIndex_.size(); ++i) dirInfoOfFolder_.emplace_back(folderIndex_[i].folderId, i);
  std::stable_sort(dirInfoOfFolder_.begin(), dirInfoOfFolder_.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  dirInfoOfFolder_.erase(std::unique(dirInfoOfFolder_.begin(), dirInfoOfFolder_.end(),
                                     [](const auto& a, const auto& b) { return a.first == b.first; }),
                         dirInfoOfFolder_.end());
  lookupsBuilt_ = true;
}

const FolderKey* CScanLog::ParentKeyOf(uint32_t recordNumber) {
  if (!lookupsBuilt_) BuildLookups();
  auto it = std::lower_bound(parentOfRecord_.begin(), parentOfRecord_.end(), recordNumber,
                             [](const auto& entry, uint32_t number) { return entry.first < number; });
  return (it != parentOfRecord_.end() && it->first == recordNumber) ? &it->second : nullptr;
}

const DirInfoEntry* CScanLog::FirstDirInfoOf(uint32_t folderId) {
  if (!lookupsBuilt_) BuildLookups();
  auto it = std::lower_bound(dirInfoOfFolder_.begin(), dirInfoOfFolder_.end(), folderId,
                             [](const auto& entry, uint32_t id) { return entry.first < id; });
  return (it != dirInfoOfFolder_.end() && it->first == folderId) ? &folderIndex_[it->second] : nullptr;
}

ResultCode CScanLog::GetAncestorFolders(const ScanLogRecord* record, std::vector<ScanLogRecord>& out) {
  if (record == nullptr) return kInvalidParameter;
  // Every folder is visited once: a damaged log whose folders contain each
  // other ends the walk instead of looping.
  std::unordered_set<uint32_t> visited{record->RecordNumber};
  uint32_t current = record->RecordNumber;
  for (;;) {
    const FolderKey* key = ParentKeyOf(current);
    if (key == nullptr || *key == relationMap_.begin()->first) return kSuccess;
    uint32_t parentId = FolderKeyId(*key);
    ScanLogRecord parent;
    if (const DirInfoEntry* entry = FirstDirInfoOf(parentId)) {
      parent.IsFolder = 1;
      parent.Intact = 1;
      parent.ItemId = entry->folderId;
      parent.RecordNumber = entry->recordNumber;
      parent.Name = entry->name;
    } else if (ResultCode rc = FindFolderRecord(parentId, parent); rc != kSuccess) {
      return rc;
    }
    if (!visited.insert(parent.RecordNumber).second) return kSuccess;
    out.push_back(parent);
    current = parent.RecordNumber;
  }
}

ResultCode CScanLog::GetFolderPath(const ScanLogRecord& record, std::string& path) {
  std::vector<ScanLogRecord> ancestors;
  GetAncestorFolders(&record, ancestors);
  path.clear();
  for (auto it = ancestors.rbegin(); it != ancestors.rend(); ++it) {
    path += it->NameView();
    path += '/';
  }
  return kSuccess;
}

}  // namespace selvane
