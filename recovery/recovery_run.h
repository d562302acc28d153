// The recovery run without any UI: each found record is handed to the engine
// that found it, which writes it below the destination into its category
// folder ("photo", "audio", ...) under a name that does not exist there yet.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "engine/recovery_parse.h"
#include "results/scan_log_record.h"

namespace selvane {

struct RecoveryItem {
  IFileRecoveryParse* engine = nullptr;  // none: the record counts as failed
  ScanLogRecord record;
  // The record's folders on its volume ("Photos/2019/"), recreated below the
  // category folder; empty: the file goes into the category folder itself.
  std::string originalFolders;
};

struct RecoveryOptions {
  // Sets each written file's modification and access times from its record
  // (where the record has them).
  bool setTimes = false;
};

struct RecoveryTally {
  uint32_t total = 0;      // records handed in
  uint32_t processed = 0;  // files whose final result arrived
  uint32_t failed = 0;     // of those, files that ended with an error
};

// Called once for every file with its final result (0 when written).
using RecoveryResultCallback = std::function<void(const std::string& path, ResultCode result)>;
// Called as each file progresses; returning true stops the run.
using RecoveryProgressCallback = std::function<bool(const std::string& path, int32_t percent)>;

// Recovers the items in order below `destination` (a folder; a trailing "/" is
// ignored). Errors of single files never stop the run; they are reported and
// counted. Returns kScanStopCode when the progress callback stopped the run,
// else 0.
ResultCode RunRecovery(const std::vector<RecoveryItem>& items, const std::string& destination,
                       const RecoveryResultCallback& onResult, const RecoveryProgressCallback& onProgress,
                       RecoveryTally& tally, const RecoveryOptions& options = {});

// Sets a file's access and modification times from FILETIMEs; a time of 0
// leaves that one as it is.
ResultCode SetFileTimes(const std::string& path, uint64_t accessTime, uint64_t writeTime);

}  // namespace selvane
