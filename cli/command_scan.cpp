#include <array>
#include <cstdio>
#include <map>

#include "cli/arguments.h"
#include "cli/commands.h"
#include "cli/json_writer.h"
#include "cli/scan_session.h"
#include "recovery/destination_rules.h"

namespace selvane::cli {

const char* const kScanHelp =
    "Usage: selvane scan SOURCE [--mode fast|deep] [--json]\n"
    "\n"
    "Looks for deleted files and folders on SOURCE and lists what it finds.\n"
    "\n"
    "SOURCE is a disk image file, a whole disk (/dev/sdb; each partition is\n"
    "scanned) or a partition (/dev/sdb1). The source is only read, never written.\n"
    "\n"
    "Options:\n"
    "  --mode fast   deleted files the file system still describes (NTFS, FAT);\n"
    "                the default\n"
    "  --mode deep   formatted volumes and files recognised by their content\n"
    "  --json        print one JSON object per found file or folder instead of\n"
    "                the summary: name, path, size, folder, intact, engine,\n"
    "                created, modified, record\n"
    "\n"
    "Progress goes to stderr. Ctrl-C stops the scan; what was found so far is\n"
    "still listed. Scan logs are kept below $SELVANE_DATA_DIR/ScanLog (default\n"
    "~/.local/state/Selvane/ScanLog).\n"
    "\n"
    "Exit codes: 0 something found, 1 nothing found, 2 usage error, 3 the source\n"
    "cannot be read or holds no known file system, 130 cancelled.\n"
    "\n"
    "Example:\n"
    "  selvane scan /dev/sdb1 --json\n";

namespace {

constexpr std::array<const char*, 6> kCategoryOrder = {"photo", "audio", "video", "document", "archive", "others"};

void PrintRecord(const ScanSession& session, const ScanLogRecord& record) {
  JsonObject json;
  json.Add("name", record.NameView())
      .Add("path", session.PathOf(record))
      .Add("size", record.FileSize)
      .Add("folder", record.IsFolderRecord())
      .Add("intact", record.Intact != 0)
      .Add("engine", EngineName(record.EngineCode));
  for (auto [key, time] : {std::pair{"created", record.CreationTime}, std::pair{"modified", record.WriteTime}}) {
    const std::string text = IsoTime(time);
    if (text.empty())
      json.AddRaw(key, "null");
    else
      json.Add(key, text);
  }
  json.Add("record", record.RecordNumber);
  std::printf("%s\n", json.str().c_str());
}

}  // namespace

int RunScan(const std::vector<std::string>& args) {
  ParsedArguments parsed;
  std::string error;
  ScanMode mode = ScanMode::Fast;
  if (!ParseArguments(args, {"--json"}, {"--mode"}, parsed, error) || parsed.positional.size() != 1 ||
      !ParseScanMode(parsed.Option("--mode").value_or("fast"), mode)) {
    if (error.empty()) error = parsed.positional.size() != 1 ? "expected exactly one SOURCE" : "--mode is fast or deep";
    std::fprintf(stderr, "selvane scan: %s\nUsage: selvane scan SOURCE [--mode fast|deep] [--json]\n", error.c_str());
    return kExitUsage;
  }
  const std::string& path = parsed.positional[0];
  SourceSpec source;
  if (ResultCode rc = ResolveSource(path, source); rc != kSuccess) {
    std::fprintf(stderr, "selvane scan: cannot open %s: %s\n", path.c_str(), ResultMessage(rc).c_str());
    return kExitSourceUnreadable;
  }
  ScanSession session;
  const ScanSession::Status status = session.Run(source, mode, "selvane scan");
  if (status == ScanSession::Status::NoEngine) return kExitSourceUnreadable;

  const std::vector<ScanLogRecord> records = session.Records();
  if (parsed.Has("--json")) {
    for (const ScanLogRecord& record : records) PrintRecord(session, record);
  } else {
    std::map<std::string_view, uint64_t> files;
    uint64_t fileCount = 0, folderCount = 0;
    for (const ScanLogRecord& record : records) {
      if (record.IsFolderRecord()) {
        ++folderCount;
      } else {
        ++fileCount;
        ++files[CategoryFolderOf(record.NameView())];
      }
    }
    std::printf("%s: %llu files and %llu folders found\n", path.c_str(), static_cast<unsigned long long>(fileCount),
                static_cast<unsigned long long>(folderCount));
    for (const char* category : kCategoryOrder)
      std::printf("  %-9s %llu\n", category, static_cast<unsigned long long>(files[category]));
  }
  std::fflush(stdout);
  if (status == ScanSession::Status::Cancelled) return kExitCancelled;
  return records.empty() ? kExitNothingFound : kExitOk;
}

}  // namespace selvane::cli
