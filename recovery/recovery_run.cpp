#include "recovery/recovery_run.h"

#include <fcntl.h>
#include <sys/stat.h>

#include "recovery/destination_rules.h"
#include "results/formatting.h"

namespace selvane {

ResultCode SetFileTimes(const std::string& path, uint64_t accessTime, uint64_t writeTime) {
  timespec times[2];
  for (int i = 0; i < 2; ++i) {
    const uint64_t fileTime = i == 0 ? accessTime : writeTime;
    if (fileTime == 0) {
      times[i].tv_sec = 0;
      times[i].tv_nsec = UTIME_OMIT;
      continue;
    }
    int64_t seconds = 0;
    uint32_t nanoseconds = 0;
    FileTimeToUnix(fileTime, seconds, nanoseconds);
    times[i].tv_sec = static_cast<time_t>(seconds);
    times[i].tv_nsec = static_cast<long>(nanoseconds);
  }
  if (::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW) != 0) return LastResult();
  return kSuccess;
}

ResultCode RunRecovery(const std::vector<RecoveryItem>& items, const std::string& destination,
                       const RecoveryResultCallback& onResult, const RecoveryProgressCallback& onProgress,
                       RecoveryTally& tally, const RecoveryOptions& options) {
  tally = RecoveryTally{};
  tally.total = static_cast<uint32_t>(items.size());
  const std::string base = DestinationText(destination);
  const int32_t rootSeparators = CountSeparators(base);

  for (const RecoveryItem& item : items) {
    const std::string path = RecoveryPathOf(base, item.record, item.originalFolders);
    auto finish = [&](const std::string& file, ResultCode result) {
      if (result == kSuccess && options.setTimes && !item.record.IsFolderRecord())
        SetFileTimes(file, item.record.AccessTime, item.record.WriteTime);
      ++tally.processed;
      if (result != kSuccess) ++tally.failed;
      if (onResult) onResult(file, result);
    };
    if (!item.engine) {
      finish(path, kInvalidParameter);
      continue;
    }
    uint32_t finals = 0;
    bool stopped = false;
    FileProgressCallback progress = [&](int32_t percent, int32_t scale, ResultCode error, const std::string& file) {
      const int32_t shown = percent * scale / 100;
      if (shown == 100) {
        ++finals;
        finish(file, error);
        return 0;
      }
      if (onProgress && onProgress(file, shown)) {
        stopped = true;
        return kScanStopCode;
      }
      return 0;
    };
    if (ResultCode rc = item.engine->SetCallbacks(nullptr, progress, 100); rc != kSuccess) {
      finish(path, rc);
      continue;
    }
    const ResultCode rc = item.engine->RecoverItem(item.record, path, rootSeparators);
    item.engine->SetCallbacks(nullptr, nullptr, 100);
    if (rc == kScanStopCode || stopped) return kScanStopCode;
    // An engine that gave up on a file without its final report: count it here.
    if (finals == 0 && !item.record.IsFolderRecord()) finish(path, rc);
    if (onProgress && onProgress(path, 100)) return kScanStopCode;
  }
  return kSuccess;
}

}  // namespace selvane
