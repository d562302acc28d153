#include "storage/image_drives.h"

#include <sys/stat.h>

#include <filesystem>
#include <map>
#include <mutex>

namespace selvane {
namespace {

struct AttachedImages {
  std::mutex lock;
  std::map<int32_t, std::string> byNumber;
};

AttachedImages& Attached() {
  static AttachedImages images;
  return images;
}

uint64_t Fnv1a(uint64_t hash, const void* data, size_t size) {
  const auto* bytes = static_cast<const uint8_t*>(data);
  for (size_t i = 0; i < size; ++i) hash = (hash ^ bytes[i]) * 0x100000001B3ull;
  return hash;
}

}  // namespace

int32_t AttachImageAsDrive(const std::string& imagePath) {
  std::error_code ec;
  const std::string path = std::filesystem::absolute(imagePath, ec).lexically_normal().string();
  struct stat st {};
  if (ec || ::stat(path.c_str(), &st) != 0) return -1;
  uint64_t hash = Fnv1a(0xCBF29CE484222325ull, path.data(), path.size());
  const uint64_t facts[] = {static_cast<uint64_t>(st.st_size), static_cast<uint64_t>(st.st_mtim.tv_sec),
                            static_cast<uint64_t>(st.st_mtim.tv_nsec)};
  hash = Fnv1a(hash, facts, sizeof facts);
  int32_t number = kFirstImageDriveNumber | static_cast<int32_t>((hash ^ (hash >> 32)) & 0x3FFFFFFF);

  AttachedImages& images = Attached();
  std::lock_guard guard(images.lock);
  // Two files whose numbers collide in one run: the later one takes the next free number.
  for (;;) {
    auto it = images.byNumber.find(number);
    if (it == images.byNumber.end()) {
      images.byNumber.emplace(number, path);
      return number;
    }
    if (it->second == path) return number;
    number = kFirstImageDriveNumber | ((number + 1) & 0x3FFFFFFF);
  }
}

std::optional<std::string> AttachedImagePath(int32_t driveNumber) {
  if (driveNumber < kFirstImageDriveNumber) return std::nullopt;
  AttachedImages& images = Attached();
  std::lock_guard guard(images.lock);
  auto it = images.byNumber.find(driveNumber);
  if (it == images.byNumber.end()) return std::nullopt;
  return it->second;
}

}  // namespace selvane
