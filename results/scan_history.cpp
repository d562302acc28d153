#include "results/scan_history.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/file_handle.h"
#include "platform/mounts.h"
#include "platform/text.h"
#include "platform/user_folders.h"
#include "recovery/output_files.h"
#include "results/formatting.h"

namespace selvane {
namespace {

constexpr size_t kCounterSize = 8;
constexpr size_t kPathUnits = 260;  // UTF-16 units of a stored path, NUL included
constexpr size_t kImagePathOffset = 80;
constexpr size_t kFolderOffset = 600;

void PutU64(uint8_t* p, uint64_t value) {
  for (int i = 0; i < 8; ++i) p[i] = static_cast<uint8_t>(value >> (8 * i));
}

uint64_t GetU64(const uint8_t* p) {
  uint64_t value = 0;
  for (int i = 0; i < 8; ++i) value |= static_cast<uint64_t>(p[i]) << (8 * i);
  return value;
}

// UTF-16LE, NUL-terminated, into 520 bytes; false when it does not fit or does
// not convert back to the same text.
bool EncodePath(const std::string& path, uint8_t* out) {
  std::u16string units = Utf8ToUtf16(path);
  if (units.size() >= kPathUnits || Utf16ToUtf8(units) != path) return false;
  for (size_t i = 0; i < units.size(); ++i) {
    out[2 * i] = static_cast<uint8_t>(units[i] & 0xFF);
    out[2 * i + 1] = static_cast<uint8_t>(units[i] >> 8);
  }
  return true;
}

std::string DecodePath(const uint8_t* in) {
  std::u16string units;
  for (size_t i = 0; i < kPathUnits; ++i) {
    char16_t unit = static_cast<char16_t>(in[2 * i] | (in[2 * i + 1] << 8));
    if (unit == 0) break;
    units.push_back(unit);
  }
  return Utf16ToUtf8(units);
}

ResultCode CheckStorable(const std::string& path) {
  if (Utf16ToUtf8(Utf8ToUtf16(path)) != path) return kInvalidParameter;
  return Utf8ToUtf16(path).size() < kPathUnits ? kSuccess : kFilenameTooLong;
}

// Folder paths are compared without regard to ASCII case.
bool SameFolder(const std::string& a, const std::string& b) { return CompareNoCase(a, b) == 0; }

uint64_t FreeBytesOf(const std::string& mountPoint) {
  if (mountPoint.empty()) return 0;
  uint64_t total = 0, free = 0;
  return GetMountSpace(mountPoint, total, free) == kSuccess ? free : 0;
}

bool ImageWriteTime(const std::string& path, uint64_t& fileTime) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return false;
  fileTime = UnixToFileTime(st.st_mtim.tv_sec, static_cast<uint32_t>(st.st_mtim.tv_nsec));
  return true;
}

bool EndsWith(std::string_view text, std::string_view suffix) {
  return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

void SyncFolder(const std::string& folder) {
  int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

}  // namespace

bool EncodeHistoryEntry(const ScanHistoryEntry& entry, std::array<uint8_t, kHistoryEntrySize>& bytes) {
  bytes.fill(0);
  uint8_t* p = bytes.data();
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(entry.driveNumber >> (8 * i));
  PutU64(p + 8, entry.firstSector);
  PutU64(p + 16, entry.sectorCount);
  PutU64(p + 24, entry.walk.runStart);
  PutU64(p + 32, entry.walk.runLength);
  PutU64(p + 40, entry.walk.offsetInRun);
  PutU64(p + 48, entry.walk.sectorsDone);
  PutU64(p + 56, entry.walk.filesFound);
  PutU64(p + 64, entry.freeBytes);
  PutU64(p + 72, entry.imageWriteTime);
  return EncodePath(entry.imagePath, p + kImagePathOffset) && EncodePath(entry.folder, p + kFolderOffset);
}

ScanHistoryEntry DecodeHistoryEntry(std::span<const uint8_t, kHistoryEntrySize> bytes) {
  const uint8_t* p = bytes.data();
  ScanHistoryEntry entry;
  entry.driveNumber = static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
                      (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
  entry.firstSector = GetU64(p + 8);
  entry.sectorCount = GetU64(p + 16);
  entry.walk.runStart = GetU64(p + 24);
  entry.walk.runLength = GetU64(p + 32);
  entry.walk.offsetInRun = GetU64(p + 40);
  entry.walk.sectorsDone = GetU64(p + 48);
  entry.walk.filesFound = GetU64(p + 56);
  entry.freeBytes = GetU64(p + 64);
  entry.imageWriteTime = GetU64(p + 72);
  entry.imagePath = DecodePath(p + kImagePathOffset);
  entry.folder = DecodePath(p + kFolderOffset);
  return entry;
}

CScanHistory& CScanHistory::Storage() {
  static CScanHistory history;
  return history;
}

CScanHistory& CScanHistory::Instance() {
  CScanHistory& history = Storage();
  if (!history.loaded_) history.LoadHistory();
  return history;
}

void CScanHistory::ResetForTests() {
  CScanHistory& history = Storage();
  history.loaded_ = false;
  history.root_.clear();
  history.counter_ = 0;
  history.entries_.clear();
  history.haveCurrent_ = false;
  history.currentFolder_.clear();
}

std::string CScanHistory::Root() const { return root_; }
uint64_t CScanHistory::Counter() const { return counter_; }
const std::vector<ScanHistoryEntry>& CScanHistory::Entries() const { return entries_; }

std::string CScanHistory::FolderOfScan(uint64_t number) const { return root_ + "/" + std::to_string(number) + "/"; }

std::string CScanHistory::HistoryPath() const { return root_ + "/config"; }

ResultCode CScanHistory::LoadHistory() {
  loaded_ = true;
  // An absolute path without "." or ".." parts: scan folders are made and
  // compared below it.
  std::error_code ec;
  root_ = std::filesystem::absolute(ScanLogRoot(), ec).lexically_normal().string();
  while (root_.size() > 1 && root_.back() == '/') root_.pop_back();
  counter_ = 0;
  entries_.clear();
  haveCurrent_ = false;
  currentFolder_.clear();

  std::string path = HistoryPath();
  std::string temporary = path + ".tmp";
  struct stat st {};
  // A save that never got to its rename is completed.
  if (::stat(path.c_str(), &st) != 0 && ::stat(temporary.c_str(), &st) == 0) ::rename(temporary.c_str(), path.c_str());

  FileHandle file;
  if (OpenFile(path, OpenMode::ReadOnly, file) != kSuccess) return kInvalidParameter;
  uint64_t size = 0;
  if (file.Size(size) != kSuccess) return kReadFault;
  if (size == 0) return kInvalidParameter;
  std::vector<uint8_t> bytes(static_cast<size_t>(size));
  size_t got = 0;
  while (got < bytes.size()) {
    ssize_t n = file.ReadAt(bytes.data() + got, bytes.size() - got, got);
    if (n <= 0) return kReadFault;
    got += static_cast<size_t>(n);
  }
  if (bytes.size() < kCounterSize) return kReadFault;
  counter_ = GetU64(bytes.data());
  for (size_t at = kCounterSize; at + kHistoryEntrySize <= bytes.size(); at += kHistoryEntrySize)
    entries_.push_back(DecodeHistoryEntry(std::span<const uint8_t, kHistoryEntrySize>(&bytes[at], kHistoryEntrySize)));
  return kSuccess;
}

// Writes the whole history to "config.tmp", flushes it to the disk and renames
// it over "config": at every moment one complete copy exists.
ResultCode CScanHistory::SaveHistory() {
  if (ResultCode rc = CreateFolders(root_); rc != kSuccess) return rc;
  std::vector<uint8_t> bytes(kCounterSize + entries_.size() * kHistoryEntrySize);
  PutU64(bytes.data(), counter_);
  std::array<uint8_t, kHistoryEntrySize> stored;
  for (size_t i = 0; i < entries_.size(); ++i) {
    EncodeHistoryEntry(entries_[i], stored);  // entries are checked when they are made
    std::copy(stored.begin(), stored.end(), bytes.begin() + static_cast<ptrdiff_t>(kCounterSize + i * kHistoryEntrySize));
  }

  std::string path = HistoryPath();
  std::string temporary = path + ".tmp";
  FileHandle file;
  if (ResultCode rc = OpenFile(temporary, OpenMode::CreateAlways, file); rc != kSuccess) return rc;
  ResultCode rc = WriteAll(file, bytes.data(), bytes.size());
  if (rc == kSuccess) rc = file.Sync();
  file.Close();
  if (rc == kSuccess && ::rename(temporary.c_str(), path.c_str()) != 0) rc = LastResult(true);
  if (rc != kSuccess) {
    ::unlink(temporary.c_str());
    return rc;
  }
  SyncFolder(root_);
  return kSuccess;
}

std::string CScanHistory::GetScanFolder() { return haveCurrent_ ? currentFolder_ : FolderOfScan(counter_); }

void CScanHistory::BeginNewScan() {
  ++counter_;
  haveCurrent_ = false;
  currentFolder_.clear();
  RemoveScanFolder(FolderOfScan(counter_));
}

void CScanHistory::DropScanNumber() {
  if (counter_ > 0) --counter_;
}

ResultCode CScanHistory::SelectScanFolder(const std::string& folder) {
  std::string path = folder;
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  if (path.empty() || !IsBelow(path, root_) || IsBelow(root_, path)) return kInvalidParameter;
  if (!std::filesystem::is_directory(path)) return kPathNotFound;
  haveCurrent_ = true;
  currentFolder_ = path + "/";
  return kSuccess;
}

void CScanHistory::SetCurrent(const ScanHistoryEntry* entry) {
  haveCurrent_ = entry != nullptr;
  currentFolder_ = entry ? entry->folder : std::string();
}

ptrdiff_t CScanHistory::FindPartitionEntry(int32_t driveNumber, uint64_t firstSector, uint64_t sectorCount) const {
  for (size_t i = 0; i < entries_.size(); ++i) {
    const ScanHistoryEntry& e = entries_[i];
    if (e.imagePath.empty() && e.driveNumber == static_cast<uint32_t>(driveNumber) && e.firstSector == firstSector &&
        e.sectorCount == sectorCount)
      return static_cast<ptrdiff_t>(i);
  }
  return -1;
}

ptrdiff_t CScanHistory::FindImageEntry(const std::string& imagePath) const {
  for (size_t i = 0; i < entries_.size(); ++i)
    if (!imagePath.empty() && entries_[i].imagePath == imagePath) return static_cast<ptrdiff_t>(i);
  return -1;
}

int CScanHistory::FindSourceScan(int32_t driveNumber, uint64_t firstSector, uint64_t sectorCount,
                                 const std::string& mountPoint, ScanHistoryEntry& out) {
  uint64_t freeBytes = FreeBytesOf(mountPoint);
  ptrdiff_t index = FindPartitionEntry(driveNumber, firstSector, sectorCount);
  if (index >= 0 && entries_[index].freeBytes == freeBytes) {
    out = entries_[index];
    SetCurrent(&out);
    return 1;
  }
  SetCurrent(nullptr);
  // The source changed since: its results no longer describe it.
  if (index >= 0) RemoveScanFolder(std::string(entries_[index].folder));
  return 0;
}

int CScanHistory::FindImageScan(const std::string& imagePath, ScanHistoryEntry& out) {
  SetCurrent(nullptr);
  uint64_t writeTime = 0;
  if (!ImageWriteTime(imagePath, writeTime)) return 0;
  ptrdiff_t index = FindImageEntry(imagePath);
  if (index < 0) return 0;
  if (entries_[index].imageWriteTime != writeTime) {
    RemoveScanFolder(std::string(entries_[index].folder));
    return 0;
  }
  out = entries_[index];
  SetCurrent(&out);
  return 1;
}

ResultCode CScanHistory::RememberScan(const std::string& mountPoint, int32_t driveNumber, uint64_t firstSector,
                                      uint64_t sectorCount, const WalkPosition& walk, const std::string& folder,
                                      const std::string& imagePath) {
  if (ResultCode rc = CheckStorable(folder); rc != kSuccess) return rc;
  if (ResultCode rc = CheckStorable(imagePath); rc != kSuccess) return rc;

  bool isImage = !imagePath.empty();
  uint64_t freeBytes = 0, writeTime = 0;
  if (isImage) ImageWriteTime(imagePath, writeTime);
  else freeBytes = FreeBytesOf(mountPoint);

  ptrdiff_t index = isImage ? FindImageEntry(imagePath) : FindPartitionEntry(driveNumber, firstSector, sectorCount);
  if (index >= 0 && SameFolder(entries_[index].folder, folder)) {
    // The scan being remembered: its own folder is never deleted here, even when
    // the source changed while it ran.
    entries_[index].walk = walk;
  } else {
    // An entry of an earlier scan of this source (changed since, or replaced by
    // this scan) goes with its folder.
    if (index >= 0) RemoveScanFolder(std::string(entries_[index].folder));
    ScanHistoryEntry entry;
    entry.driveNumber = static_cast<uint32_t>(driveNumber);
    entry.firstSector = firstSector;
    entry.sectorCount = sectorCount;
    entry.walk = walk;
    entry.freeBytes = freeBytes;
    entry.imageWriteTime = writeTime;
    entry.imagePath = imagePath;
    entry.folder = folder;
    entries_.push_back(std::move(entry));
  }
  return SaveHistory();
}

ResultCode CScanHistory::RemoveScanFolder(const std::string& folder) {
  std::erase_if(entries_, [&](const ScanHistoryEntry& e) { return SameFolder(e.folder, folder); });
  if (haveCurrent_ && SameFolder(currentFolder_, folder)) SetCurrent(nullptr);

  std::string path = folder;
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  struct stat st {};
  if (path.empty() || ::lstat(path.c_str(), &st) != 0) return kSuccess;
  // Only scan folders are deleted: whatever a damaged history names, nothing
  // outside the ScanLog root (and not the root itself) is touched.
  if (!IsBelow(path, root_) || IsBelow(root_, path)) return kAccessDenied;
  std::error_code ec;
  std::filesystem::remove_all(path, ec);
  return ec ? ResultFromErrno(ec.value(), true) : kSuccess;
}

ResultCode CScanHistory::FindLogFile(const std::string& prefix, std::string& name, const std::string& folder) {
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) return LastResult();
  std::string base = folder;
  if (!base.empty() && base.back() != '/') base += '/';
  std::string best;
  while (const dirent* item = ::readdir(dir)) {
    std::string_view candidate = item->d_name;
    if (candidate.empty() || candidate[0] == '.' || candidate.find(prefix) == std::string_view::npos) continue;
    if (EndsWith(candidate, "_Relation") || EndsWith(candidate, "_DirInfo")) continue;
    struct stat st {};
    if (::lstat((base + std::string(candidate)).c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
    // Several logs with the prefix: the same one whatever the listing order.
    if (best.empty() || candidate < best) best = candidate;
  }
  ::closedir(dir);
  if (!best.empty()) name = best;
  return kSuccess;
}

}  // namespace selvane
