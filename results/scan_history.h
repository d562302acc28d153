// The scan history: numbered scan folders below the ScanLog root, and the
// "config" file that remembers deep scans so that they can be resumed.
// One process-wide object, loaded on first use. Not locked.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "platform/result_codes.h"

namespace selvane {

inline constexpr size_t kHistoryEntrySize = 1120;

// Where a deep scan's walk over the disk got to; stored as given.
struct WalkPosition {
  uint64_t runStart = 0;
  uint64_t runLength = 0;
  uint64_t offsetInRun = 0;
  uint64_t sectorsDone = 0;
  uint64_t filesFound = 0;
};

struct ScanHistoryEntry {
  uint32_t driveNumber = 0;
  uint64_t firstSector = 0;
  uint64_t sectorCount = 0;
  WalkPosition walk;
  uint64_t freeBytes = 0;       // of the source's volume when written, 0 when unknown
  uint64_t imageWriteTime = 0;  // FILETIME of the image file, 0 for a partition
  std::string imagePath;        // UTF-8 here, UTF-16LE in the file; empty for a partition
  std::string folder;           // with its trailing "/"
};

class CScanHistory {
 public:
  // The process-wide instance, loaded on first use.
  static CScanHistory& Instance();

  ResultCode LoadHistory();
  ResultCode SaveHistory();
  std::string GetScanFolder();
  void BeginNewScan();
  void DropScanNumber();
  // Makes an existing scan folder (below the root) the current one, so that the
  // logs in it can be reopened; the history's entries do not change.
  ResultCode SelectScanFolder(const std::string& folder);
  // A partition's earlier scan; mountPoint is used for its free bytes ("" when unmounted).
  int FindSourceScan(int32_t driveNumber, uint64_t firstSector, uint64_t sectorCount, const std::string& mountPoint,
                     ScanHistoryEntry& out);
  int FindImageScan(const std::string& imagePath, ScanHistoryEntry& out);
  // Updates or adds the entry of a source and saves the history. A path that
  // cannot be stored (longer than 259 UTF-16 units, or not UTF-8) is refused
  // with kFilenameTooLong / kInvalidParameter and nothing changes.
  ResultCode RememberScan(const std::string& mountPoint, int32_t driveNumber, uint64_t firstSector,
                          uint64_t sectorCount, const WalkPosition& walk, const std::string& folder,
                          const std::string& imagePath);
  // Drops every entry of the folder (names compared ignoring case) and deletes
  // the folder, which must lie below the ScanLog root.
  ResultCode RemoveScanFolder(const std::string& folder);
  // The main file of a log in `folder` whose name contains `prefix` (never a
  // "_Relation" or "_DirInfo" companion).
  ResultCode FindLogFile(const std::string& prefix, std::string& name, const std::string& folder);

  std::string Root() const;
  uint64_t Counter() const;
  const std::vector<ScanHistoryEntry>& Entries() const;

  // Forgets the loaded state so the next call loads again (tests change the root).
  static void ResetForTests();

 private:
  CScanHistory() = default;
  static CScanHistory& Storage();
  std::string FolderOfScan(uint64_t number) const;
  std::string HistoryPath() const;
  // Index of the entry of a partition (image path empty) or of an image, or -1.
  ptrdiff_t FindPartitionEntry(int32_t driveNumber, uint64_t firstSector, uint64_t sectorCount) const;
  ptrdiff_t FindImageEntry(const std::string& imagePath) const;
  void SetCurrent(const ScanHistoryEntry* entry);

  bool loaded_ = false;
  std::string root_;
  uint64_t counter_ = 0;
  std::vector<ScanHistoryEntry> entries_;
  bool haveCurrent_ = false;
  std::string currentFolder_;
};

// The stored form of one entry (1,120 bytes); false when a path does not fit
// (259 UTF-16 units) or is not valid UTF-8.
bool EncodeHistoryEntry(const ScanHistoryEntry& entry, std::array<uint8_t, kHistoryEntrySize>& bytes);
ScanHistoryEntry DecodeHistoryEntry(std::span<const uint8_t, kHistoryEntrySize> bytes);

}  // namespace selvane
