#include "results/categories.h"

#include <array>
#include <string>

namespace selvane {
namespace {

template <size_t N>
std::string Join(const std::array<std::string_view, N>& parts) {
  std::string joined;
  for (size_t i = 0; i < N; ++i) {
    if (i) joined += '|';
    joined += parts[i];
  }
  return joined;
}

// Record names hold at most 259 bytes, so an extension always fits here.
constexpr size_t kExtensionBuffer = 512;

}  // namespace

std::string_view KnownExtensions() {
  static const std::string known =
      Join(std::array{kPictureList, kAudioList, kDocumentList, kVideoList, kArchiveList});
  return known;
}

std::string_view AllCategoriesFilter() {
  static const std::string all = Join(std::array{kPictureList, kAudioList, kVideoList, kDocumentList, kArchiveList});
  return all;
}

std::string_view ExtensionOf(std::string_view name) {
  size_t dot = name.rfind('.');
  return dot == std::string_view::npos ? std::string_view() : name.substr(dot + 1);
}

bool ListContains(std::string_view list, std::string_view extension) {
  if (extension.empty() || extension.size() > list.size()) return false;
  std::array<char, kExtensionBuffer> buffer;
  std::string spill;
  char* lower = buffer.data();
  if (extension.size() > buffer.size()) {
    spill.resize(extension.size());
    lower = spill.data();
  }
  for (size_t i = 0; i < extension.size(); ++i) {
    char c = extension[i];
    lower[i] = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
  }
  return list.find(std::string_view(lower, extension.size())) != std::string_view::npos;
}

bool IsDamagedPicture(std::string_view name, bool intact) {
  return !intact && ListContains(kPictureList, ExtensionOf(name));
}

}  // namespace selvane
