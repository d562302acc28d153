#include <cstdio>
#include <map>

#include "cli/arguments.h"
#include "cli/commands.h"
#include "cli/record_filter.h"
#include "cli/record_output.h"
#include "cli/scan_session.h"
#include "recovery/destination_rules.h"

namespace selvane::cli {

const char* const kScanHelp =
    "Usage: selvane scan SOURCE [--mode deep|fast] [--partition N] [--resume | --restart]\n"
    "                    [--json] [--quiet]\n"
    "\n"
    "Looks for deleted and lost files and folders on SOURCE, keeps what it finds\n"
    "as a numbered scan, and tells how many files of each category it found.\n"
    "\"selvane list --scan N\" and \"selvane recover --scan N\" then work from the\n"
    "scan without reading the disk again.\n"
    "\n"
    "SOURCE is a disk image file, a whole disk (/dev/sdb; each partition is\n"
    "scanned) or a partition (/dev/sdb1). It is only read, never written.\n"
    "\n"
    "Options:\n"
    "  --mode deep     the default: the deleted files the file system still knows,\n"
    "                  then every unused sector (the whole volume when its file\n"
    "                  system is damaged, formatted over or unknown) for the\n"
    "                  files and folders of formatted NTFS and FAT volumes and for\n"
    "                  files recognised by their content. Can take hours on a big\n"
    "                  disk; Ctrl-C stops it and --resume goes on later\n"
    "  --mode fast     only the deleted files the NTFS or FAT file system still\n"
    "                  knows, with their names and folders; takes seconds\n"
    "  --partition N   scan partition N of a whole disk or whole-disk image (MBR\n"
    "                  or GPT) instead of all of it\n"
    "  --resume        go on with an earlier, stopped deep scan of the same,\n"
    "                  unchanged source where it stopped\n"
    "  --restart       start the deep scan afresh, forgetting an earlier one\n"
    "  --json          print one JSON object per found file or folder (JSON\n"
    "                  Lines, fields in selvane(1)) instead of the summary\n"
    "  --quiet         no progress\n"
    "\n"
    "Without --resume or --restart the scan asks on a terminal whether to resume\n"
    "an earlier deep scan of the source; when nobody can answer it starts afresh.\n"
    "Progress goes to stderr, results to stdout. Scans are kept below\n"
    "$SELVANE_DATA_DIR/ScanLog (default ~/.local/state/Selvane/ScanLog).\n"
    "\n"
    "Exit codes: 0 something found, 1 nothing found, 2 usage error, 3 the source\n"
    "cannot be read (fast mode: or holds no NTFS or FAT file system), 130\n"
    "stopped by Ctrl-C (what was found so far is kept).\n"
    "\n"
    "Examples:\n"
    "  sudo selvane scan /dev/sdb1\n"
    "  selvane scan card.img --mode fast --json\n"
    "  selvane scan disk.img --partition 2\n";

namespace {

std::string Counted(uint64_t count, const char* noun) {
  return std::to_string(count) + " " + noun + (count == 1 ? "" : "s");
}

}  // namespace

int RunScan(const std::vector<std::string>& args) {
  ParsedArguments parsed;
  std::string error;
  ScanMode mode = ScanMode::Professional;
  ResumeChoice resume = ResumeChoice::Ask;
  uint32_t partition = 0;
  if (!ParseArguments(args, {"--json", "--resume", "--restart", "--quiet"}, {"--mode", "--partition"}, parsed, error))
    return UsageError("scan", error);
  if (parsed.positional.size() != 1) return UsageError("scan", "expected exactly one SOURCE");
  if (!ParseScanMode(parsed.Option("--mode").value_or("deep"), mode))
    return UsageError("scan", "--mode is deep or fast");
  if (!ParseResumeChoice(parsed, resume, error) || !ParsePartition(parsed, partition, error))
    return UsageError("scan", error);

  const std::string& path = parsed.positional[0];
  SourceSpec source;
  if (ResultCode rc = ResolveSource(path, source); rc != kSuccess) {
    std::fprintf(stderr, "selvane scan: %s\n", OpenErrorText(path, rc).c_str());
    return kExitSourceUnreadable;
  }
  std::vector<ScanTarget> targets;
  if (!ScanTargetsOf(source, partition, targets, error)) return UsageError("scan", error);

  ProgressDisplay display(parsed.Has("--quiet") ? ProgressDisplay::Mode::Quiet : ProgressDisplay::Mode::Auto);
  ScanSession session(display, "selvane scan");
  const ScanSession::Status status = session.Run(path, targets, mode, resume);
  if (status == ScanSession::Status::NoEngine) {
    if (const std::string hint = PartitionHint(source); mode == ScanMode::Fast && partition == 0 && !hint.empty())
      std::fprintf(stderr, "selvane scan: %s holds %s: scan one with --partition N, or all of it with --mode deep\n",
                   path.c_str(), hint.c_str());
    return kExitSourceUnreadable;
  }

  const std::vector<ScanLogRecord> records = session.Records();
  if (parsed.Has("--json")) {
    for (const ScanLogRecord& record : records)
      std::printf("%s\n", RecordJson(record, session.PathOf(record), session.ScanNumberOf(record)).c_str());
  } else {
    for (const ScanDescriptor& scan : session.Scans()) {
      std::map<std::string_view, uint64_t> files;
      for (const ScanLogRecord& record : records)
        if (record.VolumeLetter == scan.target.sourceId && !record.IsFolderRecord())
          ++files[CategoryFolderOf(record.NameView())];
      std::printf("Scan %llu: %s, %s scan%s: %s and %s found\n", static_cast<unsigned long long>(scan.number),
                  scan.target.label.c_str(), scan.mode == ScanMode::Fast ? "fast" : "deep",
                  scan.state == "finished" ? "" : (" " + scan.state).c_str(), Counted(scan.files, "file").c_str(),
                  Counted(scan.folders, "folder").c_str());
      for (const std::string& category : CategoryNames())
        std::printf("  %-9s %llu\n", category.c_str(), static_cast<unsigned long long>(files[category]));
    }
    for (const ScanDescriptor& scan : session.Scans())
      if (scan.files > 0) {
        std::printf("List the files with \"%s list --scan %llu\"; recover them with \"%s recover --scan %llu --to "
                    "DIR\".\n",
                    ProgramName().c_str(), static_cast<unsigned long long>(scan.number), ProgramName().c_str(),
                    static_cast<unsigned long long>(scan.number));
        break;
      }
  }
  std::fflush(stdout);
  if (status == ScanSession::Status::Cancelled) return kExitCancelled;
  for (const ScanLogRecord& record : records)
    if (!record.IsFolderRecord()) return kExitOk;
  return kExitNothingFound;
}

}  // namespace selvane::cli
