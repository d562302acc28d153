// The descriptor a scan leaves in its scan folder (".scan"), so that a later
// command can list, filter and recover its results without scanning again:
// which source and volume were scanned, how, when, with what outcome, and the
// names of the logs. The logs themselves are untouched by it.
//
// The file holds "key=value" lines in UTF-8; unknown keys are ignored and
// missing ones keep their defaults.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "cli/scan_targets.h"
#include "engine/recovery_parse.h"

namespace selvane::cli {

inline constexpr const char* kDescriptorName = ".scan";

struct ScanDescriptor {
  uint64_t number = 0;     // of the scan folder; not stored
  std::string folder;      // the scan folder, with its trailing "/"; not stored
  bool described = false;  // read from a descriptor (else pieced together from the history)

  std::string source;      // as the user named it (files made absolute)
  ScanTarget target;       // the volume scanned
  ScanMode mode = ScanMode::Fast;
  std::string started;     // ISO 8601 UTC
  std::string state;       // "running", "finished", "stopped", "failed"
  uint64_t files = 0;
  uint64_t folders = 0;
  uint64_t fingerprint = 0;  // VolumeFingerprint when scanned
  std::vector<std::string> logs;

  // "image", "image-partition", "drive" or "partition".
  std::string Kind() const;
};

// Writes <folder>/.scan, replacing the earlier one in one step.
ResultCode WriteScanDescriptor(const ScanDescriptor& descriptor);

// Reads the descriptor of a scan folder; false when there is none.
bool ReadScanDescriptor(const std::string& folder, ScanDescriptor& out);

// Every numbered scan folder below the ScanLog root, by number. A folder
// without a descriptor (a scan of another program version, or one killed
// before it wrote one) is described from the scan history where it can be.
std::vector<ScanDescriptor> ListScans();

// The scan with that number, or false.
bool FindScan(uint64_t number, ScanDescriptor& out);

// The main files of the logs in a folder (never their companions), sorted.
std::vector<std::string> LogFilesIn(const std::string& folder);

// The current time as ISO 8601 UTC ("2024-05-01T12:30:00Z").
std::string NowIso();

}  // namespace selvane::cli
