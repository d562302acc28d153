#include "cli/record_output.h"

#include <cstdio>
#include <ctime>

#include "cli/json_writer.h"
#include "recovery/destination_rules.h"
#include "results/formatting.h"
#include "results/type_names.h"

namespace selvane::cli {

std::string IsoTime(uint64_t fileTime) {
  if (fileTime == 0) return {};
  int64_t seconds = 0;
  uint32_t nanoseconds = 0;
  FileTimeToUnix(fileTime, seconds, nanoseconds);
  const std::time_t t = static_cast<std::time_t>(seconds);
  std::tm parts{};
  if (::gmtime_r(&t, &parts) == nullptr) return {};
  char text[40];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
  return text;
}

const char* EngineName(uint32_t engineCode) {
  switch (engineCode) {
    case kEngineFastNtfs: return "ntfs";
    case kEngineFastFat: return "fat";
    case kEngineProNtfs: return "ntfs-formatted";
    case kEngineProFat: return "fat-formatted";
    case kEngineCarving: return "carving";
  }
  return "unknown";
}

std::string RecordJson(const ScanLogRecord& record, const std::string& path, uint64_t scanNumber) {
  const bool folder = record.IsFolderRecord();
  JsonObject json;
  json.Add("scan", scanNumber).Add("name", record.NameView()).Add("path", path).Add("folder", folder);
  json.Add("size", record.FileSize);
  if (folder) {
    json.AddRaw("category", "null").AddRaw("type", "null");
  } else {
    json.Add("category", CategoryFolderOf(record.NameView())).Add("type", NormalisedTypeName(record.NameView()));
  }
  json.Add("intact", record.Intact != 0).Add("engine", EngineName(record.EngineCode));
  for (auto [key, time] : {std::pair{"created", record.CreationTime}, std::pair{"modified", record.WriteTime},
                           std::pair{"accessed", record.AccessTime}}) {
    const std::string text = IsoTime(time);
    if (text.empty())
      json.AddRaw(key, "null");
    else
      json.Add(key, text);
  }
  json.Add("record", record.RecordNumber);
  return json.str();
}

std::string RecordLine(const ScanLogRecord& record, const std::string& path) {
  const bool folder = record.IsFolderRecord();
  std::string modified = IsoTime(record.WriteTime);
  if (!modified.empty()) modified = modified.substr(0, 10) + " " + modified.substr(11, 5);
  char line[96];
  std::snprintf(line, sizeof line, "%-9s %12s  %-16s  %-8s ",
                folder ? "folder" : std::string(CategoryFolderOf(record.NameView())).c_str(),
                folder ? "-" : FormatSize(static_cast<int64_t>(record.FileSize)).c_str(),
                modified.empty() ? "-" : modified.c_str(), record.Intact ? "intact" : "damaged");
  return line + path + (folder ? "/" : "");
}

}  // namespace selvane::cli
