#include "cli/recovery_output.h"

#include "cli/commands.h"
#include "cli/interrupt.h"
#include "cli/record_filter.h"
#include "recovery/destination_rules.h"
#include "recovery/output_files.h"

namespace selvane::cli {

bool AcceptDestination(const std::string& destination, const std::vector<std::string>& mountPoints, bool force,
                       const std::string& command) {
  if (force) return true;
  const std::string folder = DestinationText(destination);
  for (const std::string& mountPoint : mountPoints) {
    if (!IsBelow(folder.empty() ? "/" : folder, mountPoint)) continue;
    std::fprintf(stderr,
                 "%s: %s lies on the volume being recovered from (mounted at %s); writing there can overwrite the "
                 "very files you want back. Choose a folder on another drive, or add --force.\n",
                 command.c_str(), destination.c_str(), mountPoint.c_str());
    return false;
  }
  return true;
}

std::string CategoryCounts(const std::map<std::string, uint64_t>& counts) {
  std::string text;
  for (const std::string& category : CategoryNames()) {
    auto it = counts.find(category);
    if (it == counts.end() || it->second == 0) continue;
    if (!text.empty()) text += ", ";
    text += category + " " + std::to_string(it->second);
  }
  return text.empty() ? "nothing" : text;
}

int RecoverFiles(const ScanSession& session, const std::vector<ScanLogRecord>& files, const RecoverRequest& request,
                 ProgressDisplay& display, const std::string& command, RecoverOutcome& outcome) {
  outcome = RecoverOutcome{};
  std::vector<RecoveryItem> items;
  for (const ScanLogRecord& record : files) {
    if (record.IsFolderRecord()) continue;
    RecoveryItem item{session.EngineOf(record), record, {}};
    if (request.keepPaths) item.originalFolders = session.FolderOf(record);
    items.push_back(std::move(item));
  }
  if (items.empty()) {
    std::printf("Nothing to recover.\n");
    return kExitNothingFound;
  }
  const std::string destination = DestinationText(request.destination);
  if (ResultCode rc = CreateFolders(destination.empty() ? "/" : destination); rc != kSuccess) {
    std::fprintf(stderr, "%s: cannot create %s: %s\n", command.c_str(), request.destination.c_str(),
                 ResultMessage(rc).c_str());
    return kExitSomeFailed;
  }

  InstallInterruptHandler();
  display.Stage("Recovering");
  uint64_t done = 0;
  const RecoveryOptions options{request.preserveTimes};
  const ResultCode rc = RunRecovery(
      items, destination,
      [&](const std::string& file, ResultCode result) {
        ++done;
        if (result == kSuccess) {
          // The category is the first folder below the destination.
          const std::string below = file.substr(std::min(file.size(), destination.size() + 1));
          ++outcome.recoveredByCategory[below.substr(0, below.find('/'))];
        } else if (result == kDiskFull) {
          outcome.destinationFull = true;
          display.Message(command + ": " + file + ": the destination is full");
        } else {
          display.Message(command + ": " + file + ": " + ResultMessage(result));
        }
        display.Update({static_cast<int32_t>(done * 100 / items.size()), -2, 0, 0, done, items.size()});
      },
      [&](const std::string&, int32_t) { return InterruptRequested() || outcome.destinationFull; }, outcome.tally,
      options);
  display.Finish();

  const RecoveryTally& t = outcome.tally;
  const uint32_t written = t.processed - t.failed;
  std::printf("Recovered %u of %u files into %s (%s); %u failed.\n", written, t.total, request.destination.c_str(),
              CategoryCounts(outcome.recoveredByCategory).c_str(), t.failed);
  if (outcome.destinationFull) {
    std::fprintf(stderr,
                 "%s: the destination is full: the %u files written are kept (the last one may be incomplete); "
                 "%u were not recovered. Free some space or choose another folder and recover the rest.\n",
                 command.c_str(), written, t.total - written);
    return kExitSomeFailed;
  }
  if (rc == kScanStopCode) {
    outcome.cancelled = true;
    std::fprintf(stderr, "%s: cancelled; the files written so far stay\n", command.c_str());
    return kExitCancelled;
  }
  return t.failed ? kExitSomeFailed : kExitOk;
}

}  // namespace selvane::cli
