#include "results/selected_types.h"

#include <array>

#include "results/categories.h"

namespace selvane {
namespace {

using enum TypeCategory;

struct OptionKeys {
  TypeCategory category;
  std::string_view keys;
};

// The options of the type dialog in their order. Several options share a key
// (the k25, mrw and dng options carry "cr2"; "pst" appears twice); the key then
// belongs to the last of them.
constexpr OptionKeys kOptionKeys[] = {
    {Photo, "bmp"}, {Photo, "gif"}, {Photo, "jpg|jpeg"}, {Photo, "png"}, {Photo, "psd"},
    {Photo, "tif|tiff"}, {Photo, "pcx|scr"}, {Photo, "ico"}, {Photo, "nef"}, {Photo, "nrw"}, {Photo, "crw"},
    {Photo, "cr2"}, {Photo, "sr2"}, {Photo, "arw"}, {Photo, "srf"}, {Photo, "djvu"}, {Photo, "pgm"},
    {Photo, "cr2"}, {Photo, "kdc"}, {Photo, "dcr"}, {Photo, "raf"}, {Photo, "iff"}, {Photo, "pbm"},
    {Photo, "mef"}, {Photo, "jp2"}, {Photo, "mos"}, {Photo, "x3f"}, {Photo, "orf"}, {Photo, "erf"},
    {Photo, "indd"}, {Photo, "pef"}, {Photo, "psp"}, {Photo, "cr2"}, {Photo, "cr2"}, {Photo, "raw"},
    {Photo, "pct"}, {Photo, "tga"}, {Photo, "thm"},
    {Audio, "mp3"}, {Audio, "wav"}, {Audio, "aiff"}, {Audio, "rps"}, {Audio, "mid|midi"}, {Audio, "m4a|m4p"},
    {Audio, "au"}, {Audio, "ogg"}, {Audio, "wma"}, {Audio, "rm"}, {Audio, "ra"}, {Audio, "acd"}, {Audio, "amr"},
    {Audio, "at3"}, {Audio, "caf"}, {Audio, "dss"}, {Audio, "m4r"}, {Audio, "nra"}, {Audio, "snd"},
    {Video, "rmvb"}, {Video, "rm"}, {Video, "mpeg"}, {Video, "mov"}, {Video, "avi"}, {Video, "wmv"},
    {Video, "asf"}, {Video, "mp4"}, {Video, "m4v"}, {Video, "3gp"}, {Video, "dv"}, {Video, "3g2"},
    {Video, "m4b"}, {Video, "mkv"}, {Video, "mts"}, {Video, "divx"}, {Video, "ogm"}, {Video, "moi"},
    {Video, "vob"}, {Video, "ajp"}, {Video, "f4v"}, {Video, "mvq"}, {Video, "svi"}, {Video, "vid"},
    {Video, "tod"}, {Video, "hdmov"}, {Video, "mod"}, {Video, "mxf"}, {Video, "lrv"},
    {Office, "doc|docx"}, {Office, "xls|xlsx"}, {Office, "ppt|pptx"}, {Office, "txt"}, {Office, "pdf"},
    {Office, "xml"}, {Office, "html|htm"}, {Office, "chm"}, {Office, "ods"}, {Office, "ole"}, {Office, "odt"},
    {Office, "pst"}, {Office, "dbx"}, {Office, "wps"}, {Office, "dps"}, {Office, "et"}, {Office, "one"},
    {Office, "mpp"}, {Office, "mdb"}, {Office, "pst"}, {Office, "accdb"},
    {Zip, "zip"}, {Zip, "rar"}, {Zip, "tar"}, {Zip, "gzip"}, {Zip, "7z"}, {Zip, "cab"}, {Zip, "arj"},
    {Zip, "lzh"}, {Zip, "ace"}, {Zip, "gz"}, {Zip, "uue"}, {Zip, "bz2"}, {Zip, "jar"}, {Zip, "iso"},
    {Other, "other"},
};

constexpr auto MakeOptions() {
  std::array<TypeOption, std::size(kOptionKeys)> options{};
  for (size_t i = 0; i < options.size(); ++i)
    options[i] = TypeOption{static_cast<TypeOptionId>(i), kOptionKeys[i].category, kOptionKeys[i].keys};
  return options;
}
constexpr auto kOptions = MakeOptions();

template <typename Visit>
void ForEachKey(std::string_view keys, Visit visit) {
  for (;;) {
    size_t bar = keys.find('|');
    visit(keys.substr(0, bar));
    if (bar == std::string_view::npos) return;
    keys.remove_prefix(bar + 1);
  }
}

}  // namespace

std::span<const TypeOption> TypeOptions() { return kOptions; }

const TypeOption* TypeOptionById(TypeOptionId id) { return id < kOptions.size() ? &kOptions[id] : nullptr; }

void ResetSelectedTypes(SelectedTypes& selected, std::span<const TypeOption> options) {
  selected.clear();
  for (const TypeOption& option : options) RegisterTypeOption(selected, option);
}

void RegisterTypeOption(SelectedTypes& selected, const TypeOption& option) {
  ForEachKey(option.keys, [&](std::string_view key) { selected.insert_or_assign(std::string(key), option.id); });
}

void UnregisterTypeOption(SelectedTypes& selected, const TypeOption& option) {
  ForEachKey(option.keys, [&](std::string_view key) {
    if (auto it = selected.find(key); it != selected.end()) selected.erase(it);
  });
}

std::optional<TypeOptionId> FindTypeOption(const SelectedTypes& selected, std::string_view key) {
  auto it = selected.find(key);
  if (it == selected.end()) return std::nullopt;
  return it->second;
}

TypeCategory CategoryOfType(const SelectedTypes& selected, std::string_view typeName) {
  auto id = FindTypeOption(selected, typeName);
  const TypeOption* option = id ? TypeOptionById(*id) : nullptr;
  return option ? option->category : TypeCategory::Other;
}

std::string BuildCategoryFilter(const SelectedTypes& selected) {
  if (selected.empty()) return std::string(AllCategoriesFilter());
  std::string filter;
  for (const auto& [key, option] : selected) {
    if (!filter.empty()) filter += '|';
    filter += "*.";
    filter += key;
  }
  return filter;
}

std::string PatternToFilter(std::string_view pattern) {
  constexpr std::string_view kEscaped = ".^$+?{}[]";
  std::string filter;
  filter.reserve(pattern.size() * 2);
  for (size_t i = 0; i < pattern.size(); ++i) {
    char c = pattern[i];
    if (c == '*') {
      if (i == 0 || pattern[i - 1] != '\\') filter += '.';
    } else {
      if (kEscaped.find(c) != std::string_view::npos) filter += '\\';
      filter += c;
    }
  }
  return filter;
}

}  // namespace selvane
