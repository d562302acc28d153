// What the scanning commands share: scanning the volumes of a source through
// the engine factory with a progress display and Ctrl-C, leaving a descriptor
// in each scan folder, reopening an earlier scan from its descriptor without
// scanning again, and reading back what the engines found.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "cli/arguments.h"
#include "cli/progress_display.h"
#include "cli/scan_descriptor.h"
#include "cli/scan_targets.h"
#include "engine/recovery_parse.h"
#include "results/scan_log_record.h"

namespace selvane::cli {

// Parses "fast" or "deep".
bool ParseScanMode(const std::string& text, ScanMode& mode);

// What to do when the history holds an earlier deep scan of the same,
// unchanged source: ask on a terminal (start afresh when nobody can answer),
// or the answer given in advance with --resume or --restart.
enum class ResumeChoice { Ask, Resume, Restart };

// Reads --resume and --restart (not both; neither is ResumeChoice::Ask).
bool ParseResumeChoice(const ParsedArguments& parsed, ResumeChoice& choice, std::string& error);

// Reads --partition N (0 when not given).
bool ParsePartition(const ParsedArguments& parsed, uint32_t& partition, std::string& error);

class ScanSession {
 public:
  enum class Status { Done, Cancelled, NoEngine };

  // Messages go through `display`, prefixed with `command` ("selvane scan").
  ScanSession(ProgressDisplay& display, std::string command);
  ~ScanSession();
  ScanSession(const ScanSession&) = delete;
  ScanSession& operator=(const ScanSession&) = delete;

  // Scans each target. `source` is what the user named. In fast mode volumes
  // without a known file system are reported and passed over; the deep scan
  // reads any volume.
  Status Run(const std::string& source, const std::vector<ScanTarget>& targets, ScanMode mode,
             ResumeChoice resume = ResumeChoice::Ask);

  // Opens an earlier scan again: the source must still be there and be the
  // same volume (a changed first 64 KiB only gives a warning). False with a
  // message for the user.
  bool Reopen(const ScanDescriptor& scan, std::string& error);

  // Every record the engines wrote, scan by scan and log by log in record
  // order; a carved file that a file-system engine of the deep scan already
  // found is left out.
  std::vector<ScanLogRecord> Records() const;
  // The engine that found a record (by its VolumeLetter), or none.
  IFileRecoveryParse* EngineOf(const ScanLogRecord& record) const;
  // "/Folder/Sub/name": the record's path inside its volume.
  std::string PathOf(const ScanLogRecord& record) const;
  // The "Folder/Sub/" above a record; "" in the root.
  std::string FolderOf(const ScanLogRecord& record) const;
  // The number of the scan that found a record.
  uint64_t ScanNumberOf(const ScanLogRecord& record) const;
  // The scans run or reopened, in order.
  std::vector<ScanDescriptor> Scans() const;

 private:
  struct Scanned {
    ScanDescriptor descriptor;
    std::unique_ptr<IFileRecoveryParse> engine;
  };
  const Scanned* ScannedOf(const ScanLogRecord& record) const;
  std::vector<ScanLogRecord> RecordsOf(const Scanned& scanned) const;
  // Counts files and folders and writes the descriptor.
  void Describe(Scanned& scanned, const std::string& state);

  ProgressDisplay& display_;
  std::string command_;
  std::vector<Scanned> scanned_;
};

}  // namespace selvane::cli
