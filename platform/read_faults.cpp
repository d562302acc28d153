#include "platform/read_faults.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <mutex>
#include <sys/stat.h>
#include <vector>

namespace selvane {
namespace {

struct FaultRange {
  dev_t device;
  ino_t inode;
  dev_t rdev;  // for device nodes: the device they stand for
  uint64_t begin;
  uint64_t end;
};

std::mutex gMutex;
std::vector<FaultRange> gRanges;
std::atomic<bool> gActive{false};
std::once_flag gEnvOnce;

bool Identify(const struct stat& st, const FaultRange& r) {
  if (S_ISBLK(st.st_mode)) return r.rdev != 0 && st.st_rdev == r.rdev;
  return st.st_dev == r.device && st.st_ino == r.inode;
}

void AddLocked(const std::string& path, uint64_t begin, uint64_t end) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || end <= begin) return;
  gRanges.push_back({st.st_dev, st.st_ino, S_ISBLK(st.st_mode) ? st.st_rdev : 0, begin, end});
  gActive.store(true, std::memory_order_relaxed);
}

void LoadFromEnvironment() {
  const char* spec = std::getenv("SELVANE_READ_FAULTS");
  if (!spec || !*spec) return;
  std::lock_guard lock(gMutex);
  std::string text(spec);
  size_t start = 0;
  while (start <= text.size()) {
    size_t comma = text.find(',', start);
    std::string item = text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
    size_t colon = item.rfind(':');
    size_t dash = item.find('-', colon == std::string::npos ? 0 : colon);
    if (colon != std::string::npos && dash != std::string::npos) {
      uint64_t begin = std::strtoull(item.c_str() + colon + 1, nullptr, 10);
      uint64_t end = std::strtoull(item.c_str() + dash + 1, nullptr, 10);
      AddLocked(item.substr(0, colon), begin, end);
    }
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
}

}  // namespace

void AddReadFault(const std::string& path, uint64_t beginByte, uint64_t endByte) {
  std::call_once(gEnvOnce, LoadFromEnvironment);
  std::lock_guard lock(gMutex);
  AddLocked(path, beginByte, endByte);
}

void ClearReadFaults() {
  std::call_once(gEnvOnce, LoadFromEnvironment);
  std::lock_guard lock(gMutex);
  gRanges.clear();
  gActive.store(false, std::memory_order_relaxed);
}

size_t ReadableBeforeFault(int fd, uint64_t offset, size_t count) {
  std::call_once(gEnvOnce, LoadFromEnvironment);
  if (!gActive.load(std::memory_order_relaxed)) return count;
  struct stat st {};
  if (::fstat(fd, &st) != 0) return count;
  std::lock_guard lock(gMutex);
  size_t readable = count;
  for (const auto& r : gRanges) {
    if (!Identify(st, r) || r.end <= offset || r.begin >= offset + count) continue;
    readable = std::min<size_t>(readable, r.begin > offset ? static_cast<size_t>(r.begin - offset) : 0);
  }
  return readable;
}

}  // namespace selvane
