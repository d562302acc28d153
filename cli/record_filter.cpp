#include "cli/record_filter.h"

#include <fnmatch.h>

#include <algorithm>
#include <cmath>
#include <sstream>

#include "recovery/destination_rules.h"
#include "results/categories.h"
#include "results/selected_types.h"
#include "platform/text.h"

namespace selvane::cli {
namespace {

std::vector<std::string> SplitList(const std::vector<std::string>& values) {
  std::vector<std::string> parts;
  for (const std::string& value : values) {
    std::stringstream stream(value);
    std::string part;
    while (std::getline(stream, part, ','))
      if (!part.empty()) parts.push_back(part);
  }
  return parts;
}

std::vector<std::string> Values(const ParsedArguments& parsed, const std::string& name) {
  auto it = parsed.options.find(name);
  return it == parsed.options.end() ? std::vector<std::string>{} : it->second;
}

// The extensions a type key stands for: those of every type option that
// carries the key ("jpg" also takes "jpeg", "doc" also "docx"), or the key alone.
void AddTypeKey(std::string key, RecordFilter& filter) {
  key = AsciiLower(key);
  if (!key.empty() && key[0] == '.') key.erase(0, 1);
  if (key == "other") {
    filter.otherType = true;
    return;
  }
  filter.extensions.insert(key);
  for (const TypeOption& option : TypeOptions()) {
    std::vector<std::string> keys;
    std::stringstream stream{std::string(option.keys)};
    std::string part;
    bool carries = false;
    while (std::getline(stream, part, '|')) {
      keys.push_back(part);
      carries = carries || part == key;
    }
    if (carries)
      for (const std::string& k : keys)
        if (!k.empty()) filter.extensions.insert(k);
  }
}

bool Glob(const std::string& pattern, const std::string& text) {
  return ::fnmatch(pattern.c_str(), text.c_str(), FNM_CASEFOLD) == 0;
}

}  // namespace

const std::vector<std::string>& CategoryNames() {
  static const std::vector<std::string> names = {"photo", "audio", "video", "document", "archive", "others"};
  return names;
}

bool ParseSize(const std::string& text, uint64_t& bytes) {
  if (text.empty()) return false;
  size_t used = 0;
  double value = 0;
  try {
    value = std::stod(text, &used);
  } catch (...) {
    return false;
  }
  if (!std::isfinite(value) || value < 0 || text[0] == '-' || text[0] == '+' || std::isspace(static_cast<unsigned char>(text[0])))
    return false;
  std::string unit = AsciiLower(text.substr(used));
  if (unit.size() >= 2 && unit.substr(unit.size() - 2) == "ib")
    unit.resize(unit.size() - 2);
  else if (unit.size() >= 1 && unit.back() == 'b')
    unit.pop_back();
  double scale = 1;
  if (unit == "k") scale = 1024.0;
  else if (unit == "m") scale = 1024.0 * 1024;
  else if (unit == "g") scale = 1024.0 * 1024 * 1024;
  else if (unit == "t") scale = 1024.0 * 1024 * 1024 * 1024;
  else if (!unit.empty()) return false;
  const double result = value * scale;
  if (result >= 18446744073709551615.0) return false;
  bytes = static_cast<uint64_t>(std::llround(result));
  return true;
}

bool ParseRecordFilter(const ParsedArguments& parsed, RecordFilter& filter, std::string& error) {
  filter = RecordFilter{};
  for (std::string category : SplitList(Values(parsed, "--category"))) {
    category = AsciiLower(category);
    if (category == "other") category = "others";
    const auto& names = CategoryNames();
    if (std::find(names.begin(), names.end(), category) == names.end()) {
      error = "unknown category \"" + category + "\" (photo, audio, video, document, archive, others)";
      return false;
    }
    filter.categories.insert(category);
  }
  for (const std::string& key : SplitList(Values(parsed, "--type"))) AddTypeKey(key, filter);
  filter.names = Values(parsed, "--name");
  filter.paths = Values(parsed, "--path");
  for (const char* name : {"--min-size", "--max-size"}) {
    if (auto text = parsed.Option(name)) {
      uint64_t bytes = 0;
      if (!ParseSize(*text, bytes)) {
        error = std::string(name) + " takes a size such as 1500, 64K, 2M or 1.5G, not \"" + *text + "\"";
        return false;
      }
      (std::string(name) == "--min-size" ? filter.minSize : filter.maxSize) = bytes;
    }
  }
  filter.intactOnly = parsed.Has("--intact");
  return true;
}

bool RecordFilter::Active() const {
  return !categories.empty() || !extensions.empty() || otherType || !names.empty() || !paths.empty() || minSize ||
         maxSize || intactOnly;
}

bool RecordFilter::Matches(const ScanLogRecord& record, const std::string& path) const {
  if (record.IsFolderRecord()) return !Active();
  const std::string_view name = record.NameView();
  if (!categories.empty() && !categories.count(std::string(CategoryFolderOf(name)))) return false;
  if (!extensions.empty() || otherType) {
    const std::string extension = AsciiLower(ExtensionOf(name));
    const bool typed = extensions.count(extension) > 0;
    const bool other = otherType && CategoryFolderOf(name) == "others";
    if (!typed && !other) return false;
  }
  if (!names.empty() && std::none_of(names.begin(), names.end(), [&](const auto& g) { return Glob(g, std::string(name)); }))
    return false;
  if (!paths.empty() && std::none_of(paths.begin(), paths.end(), [&](const auto& g) { return Glob(g, path); }))
    return false;
  if (minSize && record.FileSize < *minSize) return false;
  if (maxSize && record.FileSize > *maxSize) return false;
  if (intactOnly && record.Intact == 0) return false;
  return true;
}

}  // namespace selvane::cli
