#include <cstdio>

#include "cli/arguments.h"
#include "cli/commands.h"
#include "cli/record_filter.h"
#include "cli/record_output.h"
#include "cli/scan_choice.h"
#include "cli/scan_session.h"
#include "results/formatting.h"

namespace selvane::cli {

const char* const kListHelp =
    "Usage: selvane list [--scan N] [filters] [--json]\n"
    "\n"
    "Lists what an earlier scan found, from the scan's logs: the disk is not\n"
    "scanned again (it is read only to tell apart files that two ways of\n"
    "scanning found at the same place). Without --scan, the newest scan.\n"
    "\n"
    "Each line: category, size, modification time (UTC), intact or damaged, and\n"
    "the file's path on its volume. \"damaged\" means the data no longer looks like\n"
    "its kind of file (parts of it were overwritten).\n"
    "\n"
    "Options:\n"
    "  --scan N            the scan, by its number in \"selvane scans\"\n"
    "  --json              one JSON object per file (JSON Lines, fields in selvane(1))\n"
    "\n"
    "Filters (all given must match; without any, folders are listed too):\n"
    "  --category LIST     photo, audio, video, document, archive, others\n"
    "  --type LIST         file types by extension: jpg (also .jpeg), doc (also\n"
    "                      .docx), pdf, mp3, ...; \"other\" for files of no category\n"
    "  --name GLOB         the file name matches, e.g. 'IMG_*' (case ignored)\n"
    "  --path GLOB         the path matches, e.g. '/DCIM/*' (* also matches /)\n"
    "  --min-size SIZE     at least SIZE bytes (1500, 64K, 2M, 1.5G)\n"
    "  --max-size SIZE     at most SIZE bytes\n"
    "  --intact            only files whose data still looks whole\n"
    "LIST is one value, or several separated by commas; options may repeat.\n"
    "\n"
    "Exit codes: 0 files listed, 1 nothing matched, 2 usage error or no such\n"
    "scan, 3 the scanned source is no longer there or changed size.\n"
    "\n"
    "Examples:\n"
    "  selvane list --scan 3 --category photo --min-size 100K\n"
    "  selvane list --scan 3 --type jpg,png --path '/DCIM/*' --json\n";

int RunList(const std::vector<std::string>& args) {
  ParsedArguments parsed;
  std::string error;
  std::set<std::string> flags = kFilterFlags, options = kFilterOptions;
  flags.insert("--json");
  options.insert("--scan");
  if (!ParseArguments(args, flags, options, parsed, error)) return UsageError("list", error);
  if (!parsed.positional.empty())
    return UsageError("list", "list takes no SOURCE; scan it first, then list the scan with --scan N");
  RecordFilter filter;
  if (!ParseRecordFilter(parsed, filter, error)) return UsageError("list", error);
  ScanDescriptor scan;
  if (int rc = ChooseScan(parsed, "list", true, scan); rc != kExitOk) return rc;

  ProgressDisplay display(ProgressDisplay::Mode::Quiet);
  ScanSession session(display, "selvane list");
  if (!session.Reopen(scan, error)) {
    std::fprintf(stderr, "selvane list: %s\n", error.c_str());
    return kExitSourceUnreadable;
  }
  const bool json = parsed.Has("--json");
  uint64_t files = 0, bytes = 0;
  for (const ScanLogRecord& record : session.Records()) {
    const std::string path = session.PathOf(record);
    if (!filter.Matches(record, path)) continue;
    if (!record.IsFolderRecord()) {
      ++files;
      bytes += record.FileSize;
    }
    std::printf("%s\n", json ? RecordJson(record, path, scan.number).c_str() : RecordLine(record, path).c_str());
  }
  if (!json)
    std::printf("%llu files, %s\n", static_cast<unsigned long long>(files),
                FormatSize(static_cast<int64_t>(bytes)).c_str());
  std::fflush(stdout);
  return files ? kExitOk : kExitNothingFound;
}

}  // namespace selvane::cli
