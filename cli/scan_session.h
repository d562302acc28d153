// What "scan" and "recover" share: turning a source into the volumes to scan,
// making an engine for each through the factory, running the scans with a
// progress line and Ctrl-C, and reading back what the engines wrote.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/recovery_parse.h"
#include "results/scan_log_record.h"
#include "storage/source.h"

namespace selvane::cli {

// One volume to scan.
struct ScanTarget {
  std::string label;       // as shown to the user
  uint16_t sourceId = 0;   // written into every record's VolumeLetter
  bool image = false;
  std::string imagePath;
  int32_t driveNumber = -1;
  uint64_t firstSector = 0;
  uint64_t sectorCount = 0;
};

// The volumes of a source: an image or a partition is one volume; a whole
// drive is each of its partitions, or the drive itself when it has none.
std::vector<ScanTarget> ScanTargetsOf(const SourceSpec& source);

// Parses "fast" or "deep".
bool ParseScanMode(const std::string& text, ScanMode& mode);

class ScanSession {
 public:
  enum class Status { Done, Cancelled, NoEngine };

  // Scans every volume of the source. Messages go to stderr prefixed with
  // `command`. Volumes without a known file system are reported and passed over.
  Status Run(const SourceSpec& source, ScanMode mode, const char* command);

  // Every record the engines wrote, log by log in record order.
  std::vector<ScanLogRecord> Records() const;
  // The engine that found a record (by its VolumeLetter), or none.
  IFileRecoveryParse* EngineOf(const ScanLogRecord& record) const;
  // "/Folder/Sub/name": the record's path inside its volume.
  std::string PathOf(const ScanLogRecord& record) const;

 private:
  struct Scanned {
    uint16_t sourceId;
    std::unique_ptr<IFileRecoveryParse> engine;
  };
  std::vector<Scanned> engines_;
  std::vector<std::string> folders_;  // scan folders holding the engines' logs
};

// Where the volumes of a source are mounted (all mount points of the device,
// its partitions, and loop devices backed by an image).
std::vector<std::string> SourceMountPoints(const SourceSpec& source);

// ISO 8601 UTC text of a FILETIME ("2024-05-01T12:30:00Z"); empty for 0.
std::string IsoTime(uint64_t fileTime);

// Name of the engine that wrote a record ("ntfs", "fat", ...).
const char* EngineName(uint32_t engineCode);

}  // namespace selvane::cli
