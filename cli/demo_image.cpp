#include "cli/demo_image.h"

#include <lzma.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <vector>

#include "platform/file_handle.h"

namespace selvane::cli {
namespace fs = std::filesystem;

std::string FindDemoArchive() {
  std::vector<fs::path> candidates;
  std::error_code ec;
  // Installed: <prefix>/bin/selvane and <prefix>/share/selvane/demo.img.xz.
  const fs::path self = fs::read_symlink("/proc/self/exe", ec);
  if (!ec) candidates.push_back(self.parent_path() / SELVANE_DATA_FROM_BIN / "demo.img.xz");
  // A build that was not installed: the source tree.
  candidates.push_back(fs::path(SELVANE_SOURCE_SAMPLES) / "demo.img.xz");
  for (const fs::path& path : candidates)
    if (fs::is_regular_file(path, ec)) return path.lexically_normal().string();
  return {};
}

ResultCode UnpackXz(const std::string& archive, const std::string& target) {
  FileHandle in, out;
  if (ResultCode rc = OpenFile(archive, OpenMode::ReadOnly, in); rc != kSuccess) return rc;
  if (ResultCode rc = OpenFile(target, OpenMode::CreateAlways, out); rc != kSuccess) return rc;

  lzma_stream stream = LZMA_STREAM_INIT;
  if (lzma_stream_decoder(&stream, UINT64_MAX, LZMA_CONCATENATED) != LZMA_OK) return kNotEnoughMemory;
  struct End {
    lzma_stream* s;
    ~End() { lzma_end(s); }
  } end{&stream};

  std::vector<uint8_t> input(1 << 16), output(1 << 16);
  uint64_t position = 0;
  lzma_action action = LZMA_RUN;
  stream.next_out = output.data();
  stream.avail_out = output.size();
  for (;;) {
    if (stream.avail_in == 0 && action == LZMA_RUN) {
      const ssize_t n = in.Read(input.data(), input.size());
      if (n < 0) return LastResult();
      stream.next_in = input.data();
      stream.avail_in = static_cast<size_t>(n);
      if (n == 0) action = LZMA_FINISH;
    }
    const lzma_ret ret = lzma_code(&stream, action);
    if (stream.avail_out == 0 || ret == LZMA_STREAM_END) {
      const size_t produced = output.size() - stream.avail_out;
      // Blocks of zeros are left as holes: the image is mostly empty space.
      const bool zeros = std::all_of(output.begin(), output.begin() + static_cast<ptrdiff_t>(produced),
                                     [](uint8_t b) { return b == 0; });
      if (!zeros && out.WriteAt(output.data(), produced, position) != static_cast<ssize_t>(produced))
        return LastResult(true);
      position += produced;
      stream.next_out = output.data();
      stream.avail_out = output.size();
    }
    if (ret == LZMA_STREAM_END) break;
    if (ret != LZMA_OK) return ret == LZMA_MEM_ERROR ? kNotEnoughMemory : kReadFault;
  }
  return out.Truncate(position);
}

}  // namespace selvane::cli
