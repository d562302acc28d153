#include "results/type_names.h"

#include <array>
#include <utility>

#include "platform/text.h"
#include "results/categories.h"

namespace selvane {
namespace {

constexpr std::array<std::pair<std::string_view, std::string_view>, 9> kTypeVariants = {{
    {"jpeg", "jpg"},
    {"tiff", "tif"},
    {"scr", "pcx"},
    {"midi", "mid"},
    {"m4p", "m4a"},
    {"docx", "doc"},
    {"xlsx", "xls"},
    {"pptx", "ppt"},
    {"htm", "html"},
}};

struct IconRule {
  std::string_view list;
  std::string_view intactIcon;
  std::string_view damagedIcon;
};

constexpr std::array<IconRule, 5> kListIcons = {{
    {kPictureList, "image.png", "image_error.png"},
    {kAudioList, "music.png", "music_error.png"},
    {kDocumentList, "doc.png", "doc_error.png"},
    {kVideoList, "video.png", "video_error.png"},
    {kArchiveList, "zip.png", "zip_error.png"},
}};

}  // namespace

std::string NormalisedTypeName(std::string_view fileName) {
  size_t dot = fileName.rfind('.');
  if (dot == std::string_view::npos || dot + 1 == fileName.size()) return "unknow";
  std::string type = AsciiLower(fileName.substr(dot + 1));
  for (const auto& [variant, name] : kTypeVariants)
    if (type == variant) return std::string(name);
  return type;
}

void GroupByType(std::span<const ScanLogRecord> records, TypeGroups& groups) {
  groups.clear();
  for (const ScanLogRecord& record : records) groups[NormalisedTypeName(record.NameView())].push_back(record);
}

std::string FileIconPath(std::string_view type, bool intact) {
  std::string lower = AsciiLower(type);
  std::string_view icon;
  if (lower == "folder") icon = "folder.png";
  else if (lower == "exe") icon = intact ? "exe.png" : "exe_error.png";
  for (const IconRule& rule : kListIcons) {
    if (!icon.empty()) break;
    if (ListContains(rule.list, lower)) icon = intact ? rule.intactIcon : rule.damagedIcon;
  }
  if (icon.empty()) icon = intact ? "default.png" : "default_error.png";
  return "FileIcon/" + std::string(icon);
}

}  // namespace selvane
