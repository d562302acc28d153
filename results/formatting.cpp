#include "results/formatting.h"

#include <cinttypes>
#include <cstdio>
#include <limits>

namespace selvane {

void FileTimeToUnix(uint64_t fileTime, int64_t& seconds, uint32_t& nanoseconds) {
  // Split first so that no step overflows: every FILETIME fits in signed seconds.
  int64_t wholeSeconds = static_cast<int64_t>(fileTime / 10'000'000u);
  uint32_t ticks = static_cast<uint32_t>(fileTime % 10'000'000u);
  seconds = wholeSeconds - static_cast<int64_t>(kFileTimeUnixEpoch / 10'000'000u);
  nanoseconds = ticks * 100u;
}

uint64_t UnixToFileTime(int64_t seconds, uint32_t nanoseconds) {
  constexpr int64_t kEpochSeconds = static_cast<int64_t>(kFileTimeUnixEpoch / 10'000'000u);
  constexpr int64_t kMaxSeconds = static_cast<int64_t>(std::numeric_limits<uint64_t>::max() / 10'000'000u);
  if (nanoseconds >= 1'000'000'000u) {
    seconds += nanoseconds / 1'000'000'000u;
    nanoseconds %= 1'000'000'000u;
  }
  if (seconds < -kEpochSeconds) return 0;
  if (seconds > kMaxSeconds - kEpochSeconds - 1) return std::numeric_limits<uint64_t>::max();
  return static_cast<uint64_t>(seconds + kEpochSeconds) * 10'000'000u + nanoseconds / 100u;
}

std::string FormatFileTime(uint64_t fileTime, bool convertToLocal) {
  int64_t seconds = 0;
  uint32_t nanoseconds = 0;
  FileTimeToUnix(fileTime, seconds, nanoseconds);
  std::time_t t = static_cast<std::time_t>(seconds);
  std::tm parts{};
  if ((convertToLocal ? ::localtime_r(&t, &parts) : ::gmtime_r(&t, &parts)) == nullptr) return {};
  char text[64];
  std::snprintf(text, sizeof text, "%d-%d-%d %02d:%02d:%02d", parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday,
                parts.tm_hour, parts.tm_min, parts.tm_sec);
  return text;
}

std::string FormatDuration(int64_t seconds) {
  char text[64];
  if (seconds >= 3600) {
    int64_t hours = seconds / 3600;
    std::snprintf(text, sizeof text, "%" PRId64 " Hour %" PRId64 " Min", hours, (seconds - hours * 3600) / 60);
  } else if (seconds >= 60) {
    std::snprintf(text, sizeof text, "%" PRId64 " Min %" PRId64 " Sec", seconds / 60, seconds % 60);
  } else {
    std::snprintf(text, sizeof text, "%" PRId64 " Sec", seconds);
  }
  return text;
}

std::string FormatSize(int64_t bytes) {
  constexpr double kKiB = 1024.0;
  constexpr int64_t kTiB = int64_t{1} << 40, kGiB = int64_t{1} << 30, kMiB = int64_t{1} << 20;
  char text[64];
  double value = static_cast<double>(bytes);
  if (bytes >= kTiB) std::snprintf(text, sizeof text, "%.2f TB", value / static_cast<double>(kTiB));
  else if (bytes >= kGiB) std::snprintf(text, sizeof text, "%.2f GB", value / static_cast<double>(kGiB));
  else if (bytes >= kMiB) std::snprintf(text, sizeof text, "%.2f MB", value / static_cast<double>(kMiB));
  else if (bytes >= 1024) std::snprintf(text, sizeof text, "%.2f KB", value / kKiB);
  else std::snprintf(text, sizeof text, "%" PRId64 " Bytes", bytes);
  return text;
}

std::string FileNameOfPath(std::string_view path) {
  size_t slash = path.find_last_of("/\\");
  return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

ResultCode GetExtension(std::string_view name, std::string& extension) {
  size_t dot = name.rfind('.');
  if (dot == std::string_view::npos) return kInvalidParameter;
  extension.assign(name.substr(dot + 1));
  return kSuccess;
}

}  // namespace selvane
