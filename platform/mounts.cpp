#include "platform/mounts.h"

#include "platform/file_handle.h"

#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/statvfs.h>
#include <unistd.h>

namespace selvane {
namespace {

// mountinfo escapes blanks and a few other bytes as \ooo.
std::string Unescape(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    bool octal = text[i] == '\\';
    if (octal) {
      for (size_t k = 1; k <= 3; ++k)
        if (i + k >= text.size() || text[i + k] < '0' || text[i + k] > '7') octal = false;
    }
    if (octal) {
      out.push_back(static_cast<char>((text[i + 1] - '0') * 64 + (text[i + 2] - '0') * 8 + (text[i + 3] - '0')));
      i += 3;
    } else {
      out.push_back(text[i]);
    }
  }
  return out;
}

}  // namespace

std::vector<MountEntry> ReadMounts() {
  std::vector<MountEntry> mounts;
  std::ifstream in("/proc/self/mountinfo");
  std::string line;
  while (std::getline(in, line)) {
    // id parent major:minor root mountpoint options [optional...] - fstype source superoptions
    std::istringstream fields(line);
    std::string id, parent, numbers, root, mountPoint;
    if (!(fields >> id >> parent >> numbers >> root >> mountPoint)) continue;
    std::string word;
    while (fields >> word && word != "-") {
    }
    MountEntry entry;
    fields >> entry.fsType >> entry.source;
    auto colon = numbers.find(':');
    if (colon == std::string::npos) continue;
    entry.major = static_cast<uint32_t>(std::stoul(numbers.substr(0, colon)));
    entry.minor = static_cast<uint32_t>(std::stoul(numbers.substr(colon + 1)));
    entry.mountPoint = Unescape(mountPoint);
    entry.source = Unescape(entry.source);
    mounts.push_back(std::move(entry));
  }
  return mounts;
}

std::optional<MountEntry> FindMountOfDevice(uint32_t major, uint32_t minor) {
  for (auto& m : ReadMounts())
    if (m.major == major && m.minor == minor) return m;
  return std::nullopt;
}

std::optional<MountEntry> FindMountOfNode(uint32_t major, uint32_t minor, const std::string& nodePath) {
  auto mounts = ReadMounts();
  for (auto& m : mounts)
    if (m.major == major && m.minor == minor && (major != 0 || minor != 0)) return m;
  if (nodePath.empty()) return std::nullopt;
  for (auto& m : mounts) {
    if (m.source.empty() || m.source[0] != '/') continue;
    if (IsSameFile(m.source, nodePath)) return m;
  }
  return std::nullopt;
}

std::optional<MountEntry> FindMountOfPath(const std::string& path) {
  std::error_code ec;
  std::filesystem::path p = std::filesystem::weakly_canonical(path, ec);
  if (ec) return std::nullopt;
  std::string text = p.string();
  std::optional<MountEntry> best;
  for (auto& m : ReadMounts()) {
    const std::string& mp = m.mountPoint;
    bool inside = text == mp || mp == "/" ||
                  (text.size() > mp.size() && text.compare(0, mp.size(), mp) == 0 && text[mp.size()] == '/');
    if (inside && (!best || mp.size() >= best->mountPoint.size())) best = m;
  }
  return best;
}

bool ReadDeviceNumbers(const std::string& sysfsDevFile, uint32_t& major, uint32_t& minor) {
  std::ifstream in(sysfsDevFile);
  std::string line;
  if (!std::getline(in, line)) return false;
  auto colon = line.find(':');
  if (colon == std::string::npos || colon == 0) return false;
  try {
    major = static_cast<uint32_t>(std::stoul(line.substr(0, colon)));
    minor = static_cast<uint32_t>(std::stoul(line.substr(colon + 1)));
  } catch (...) {
    return false;
  }
  return true;
}

ResultCode GetMountSpace(const std::string& mountPoint, uint64_t& totalBytes, uint64_t& freeBytes) {
  struct statvfs st {};
  if (::statvfs(mountPoint.c_str(), &st) != 0) return LastResult();
  totalBytes = static_cast<uint64_t>(st.f_blocks) * st.f_frsize;
  freeBytes = static_cast<uint64_t>(st.f_bavail) * st.f_frsize;
  return kSuccess;
}

ResultCode GetFileSystemSpace(const std::string& mountPoint, uint64_t& totalBytes, uint64_t& freeBytes) {
  struct statvfs st {};
  if (::statvfs(mountPoint.c_str(), &st) != 0) return LastResult();
  totalBytes = static_cast<uint64_t>(st.f_blocks) * st.f_frsize;
  freeBytes = static_cast<uint64_t>(st.f_bfree) * st.f_frsize;
  return kSuccess;
}

void SyncFileSystem(const std::string& mountPoint) {
  int fd = ::open(mountPoint.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::syncfs(fd);
  ::close(fd);
}

}  // namespace selvane
