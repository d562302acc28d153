// Stand-in for CreateOutputFile until the output-file rules land; weak, so the
// real definition wins wherever it is linked. Delete this file when it has.
#include <fcntl.h>

#include <filesystem>

#include "recovery/output_files.h"

namespace selvane {

__attribute__((weak)) ResultCode CreateOutputFile(const std::string& path, FileHandle& out) {
  out.Close();
  std::filesystem::path p(path);
  for (const auto& part : p)
    if (part == "." || part == "..") return kInvalidParameter;
  std::error_code ec;
  if (p.has_parent_path()) std::filesystem::create_directories(p.parent_path(), ec);
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644);
  if (fd < 0) return LastResult(true);
  out = FileHandle(fd, path);
  return kSuccess;
}

}  // namespace selvane
