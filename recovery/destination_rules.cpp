#include "recovery/destination_rules.h"

#include <array>
#include <sys/stat.h>

#include "recovery/output_files.h"
#include "results/categories.h"

namespace selvane {
namespace {

struct CategoryFolder {
  std::string_view list;
  std::string_view folder;
};

constexpr std::array<CategoryFolder, 5> kCategoryFolders = {{
    {kPictureList, "photo"},
    {kAudioList, "audio"},
    {kVideoList, "video"},
    {kDocumentList, "document"},
    {kArchiveList, "archive"},
}};

bool PathExists(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0;  // a dangling link counts: it would be in the way
}

}  // namespace

std::string_view CategoryFolderOf(std::string_view name) {
  std::string_view extension = ExtensionOf(name);
  for (const CategoryFolder& category : kCategoryFolders)
    if (ListContains(category.list, extension)) return category.folder;
  return "others";
}

std::string DestinationText(std::string_view chosenFolder) {
  while (!chosenFolder.empty() && chosenFolder.back() == '/') chosenFolder.remove_suffix(1);
  return std::string(chosenFolder);
}

int32_t CountSeparators(std::string_view path) {
  int32_t count = 0;
  for (size_t i = 0; i + 1 < path.size(); ++i)
    if (path[i] == '/') ++count;
  return count;
}

std::string MakeUniquePath(const std::string& path) {
  if (!PathExists(path)) return path;
  size_t slash = path.rfind('/');
  size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
  size_t dot = path.rfind('.');
  size_t extensionStart = (dot == std::string::npos || dot < nameStart) ? path.size() : dot;
  std::string head = path.substr(0, extensionStart);
  std::string extension = path.substr(extensionStart);
  for (uint64_t n = 1;; ++n) {
    std::string candidate = head + "(" + std::to_string(n) + ")" + extension;
    if (!PathExists(candidate)) return candidate;
  }
}

std::string RecoveryPathOf(const std::string& destination, const ScanLogRecord& record,
                           std::string_view originalFolders) {
  std::string_view name = record.NameView();
  std::string folder = destination + "/" + std::string(CategoryFolderOf(name));
  while (!originalFolders.empty()) {
    const size_t slash = originalFolders.find('/');
    const std::string_view part = originalFolders.substr(0, slash);
    if (!part.empty()) folder = JoinBelow(folder, part);
    if (slash == std::string_view::npos) break;
    originalFolders.remove_prefix(slash + 1);
  }
  return MakeUniquePath(JoinBelow(folder, name));
}

}  // namespace selvane
