#include <charconv>
#include <cstdio>
#include <ctime>

#include "cli/arguments.h"
#include "cli/commands.h"
#include "cli/json_writer.h"
#include "cli/scan_descriptor.h"
#include "results/scan_history.h"

namespace selvane::cli {

const char* const kScansHelp =
    "Usage: selvane scans [--json] [--remove N]\n"
    "\n"
    "Lists the scans kept below $SELVANE_DATA_DIR/ScanLog (default\n"
    "~/.local/state/Selvane/ScanLog), oldest first, one line per scan: its\n"
    "number, the source, the mode, when it started (local time), the files\n"
    "found, and \"stopped\" for a deep scan that --resume can finish.\n"
    "\"selvane list --scan N\" and \"selvane recover --scan N\" work from a scan\n"
    "without scanning again.\n"
    "\n"
    "Options:\n"
    "  --json       one JSON object per scan: scan, source, kind, partition, mode,\n"
    "               started, state, files, folders, folder\n"
    "  --remove N   delete scan N and its logs (the source is not touched)\n"
    "\n"
    "Exit codes: 0 done, 1 no scans, 2 usage error or no such scan.\n"
    "\n"
    "Example:\n"
    "  selvane scans\n";

namespace {

std::string LocalTime(const std::string& iso) {
  std::tm parts{};
  if (iso.size() < 19 || ::strptime(iso.c_str(), "%Y-%m-%dT%H:%M:%S", &parts) == nullptr) return "-";
  const std::time_t t = ::timegm(&parts);
  std::tm local{};
  ::localtime_r(&t, &local);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M", &local);
  return text;
}

}  // namespace

int RunScans(const std::vector<std::string>& args) {
  ParsedArguments parsed;
  std::string error;
  if (!ParseArguments(args, {"--json"}, {"--remove"}, parsed, error)) return UsageError("scans", error);
  if (!parsed.positional.empty()) return UsageError("scans", "scans takes no arguments");

  if (auto text = parsed.Option("--remove")) {
    uint64_t number = 0;
    const auto [end, ec] = std::from_chars(text->data(), text->data() + text->size(), number);
    ScanDescriptor scan;
    if (ec != std::errc() || end != text->data() + text->size() || !FindScan(number, scan)) {
      std::fprintf(stderr, "selvane scans: there is no scan %s\n", text->c_str());
      return kExitUsage;
    }
    if (ResultCode rc = CScanHistory::Instance().RemoveScanFolder(scan.folder); rc != kSuccess) {
      std::fprintf(stderr, "selvane scans: cannot remove scan %s: %s\n", text->c_str(), ResultMessage(rc).c_str());
      return kExitSomeFailed;
    }
    std::printf("Removed scan %s (%s).\n", text->c_str(), scan.source.c_str());
    return kExitOk;
  }

  const auto scans = ListScans();
  for (const ScanDescriptor& scan : scans) {
    const char* mode = scan.mode == ScanMode::Fast ? "fast" : "deep";
    if (parsed.Has("--json")) {
      JsonObject json;
      json.Add("scan", scan.number).Add("source", scan.source);
      if (scan.described) json.Add("kind", scan.Kind()).Add("partition", scan.target.partition);
      json.Add("mode", mode).Add("started", scan.started).Add("state", scan.state);
      json.Add("files", scan.files).Add("folders", scan.folders).Add("folder", scan.folder);
      std::printf("%s\n", json.str().c_str());
      continue;
    }
    std::string source = scan.source;
    if (scan.target.partition != 0 && !scan.target.imagePath.empty())
      source += " partition " + std::to_string(scan.target.partition);
    else if (scan.target.partition != 0 && scan.source != scan.target.devicePath)
      source += " (" + scan.target.devicePath + ")";
    std::string state;
    if (scan.state == "stopped" || scan.state == "failed") state = ", " + scan.state;
    if (scan.state == "running") state = ", interrupted";
    std::printf("%-4llu %s  %s  %s  %llu files%s\n", static_cast<unsigned long long>(scan.number), source.c_str(),
                mode, LocalTime(scan.started).c_str(), static_cast<unsigned long long>(scan.files), state.c_str());
  }
  std::fflush(stdout);
  return scans.empty() ? kExitNothingFound : kExitOk;
}

}  // namespace selvane::cli
