// Recovering found files for "recover" and "demo": the destination check, the
// run with its progress, per-file errors, a full destination, and the summary.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "cli/progress_display.h"
#include "cli/scan_session.h"
#include "recovery/recovery_run.h"

namespace selvane::cli {

struct RecoverRequest {
  std::string destination;     // as given
  bool keepPaths = false;      // recreate the original folders below the category folder
  bool preserveTimes = false;  // set each file's times from its record
};

struct RecoverOutcome {
  RecoveryTally tally;
  bool cancelled = false;
  bool destinationFull = false;
  std::map<std::string, uint64_t> recoveredByCategory;  // "photo" -> files written
};

// Refuses a destination that lies on one of the mount points (a volume being
// recovered from) unless `force`: prints why and returns false.
bool AcceptDestination(const std::string& destination, const std::vector<std::string>& mountPoints, bool force,
                       const std::string& command);

// Recovers the file records through the session's engines. Returns the exit
// code: 0 all written, 1 nothing to recover, 4 some failed (or the destination
// is full or cannot be written), 130 cancelled.
int RecoverFiles(const ScanSession& session, const std::vector<ScanLogRecord>& files, const RecoverRequest& request,
                 ProgressDisplay& display, const std::string& command, RecoverOutcome& outcome);

// "photo 12, document 3" in category order; "nothing" when empty.
std::string CategoryCounts(const std::map<std::string, uint64_t>& counts);

}  // namespace selvane::cli
