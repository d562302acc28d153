#include <cstdio>

#include "cli/arguments.h"
#include "cli/commands.h"
#include "cli/record_filter.h"
#include "cli/recovery_output.h"
#include "cli/scan_choice.h"
#include "cli/scan_session.h"

namespace selvane::cli {

const char* const kRecoverHelp =
    "Usage: selvane recover SOURCE --to DIR [--mode deep|fast] [--partition N]\n"
    "                       [--resume | --restart] [filters] [options]\n"
    "       selvane recover --scan N --to DIR [filters] [options]\n"
    "\n"
    "Copies found files into DIR, one folder per category: photo, audio, video,\n"
    "document, archive, others. A name that is already there gets a number:\n"
    "IMG_1(1).JPG. With SOURCE the source is scanned first, as \"selvane scan\"\n"
    "does; with --scan N the files come from that earlier scan without scanning\n"
    "again (\"selvane scans\" lists them).\n"
    "\n"
    "Options:\n"
    "  --to DIR          where the files go; never on the source itself\n"
    "  --scan N          recover from scan N instead of scanning\n"
    "  --mode MODE       deep (default) or fast, as for \"selvane scan\"\n"
    "  --partition N     only partition N of a whole disk or disk image\n"
    "  --resume          go on with an earlier, stopped deep scan of SOURCE\n"
    "  --restart         start the deep scan afresh\n"
    "  --keep-paths      recreate each file's original folders below its category\n"
    "                    folder (DIR/photo/DCIM/100CANON/IMG_1.JPG)\n"
    "  --preserve-times  give each file the modification and access times the\n"
    "                    scan found for it (where it found them)\n"
    "  --force           write into DIR even when it lies on the source, which can\n"
    "                    overwrite the very files being recovered\n"
    "  --quiet           no progress\n"
    "\n"
    "Filters, as for \"selvane list\" (all given must match):\n"
    "  --category LIST   photo, audio, video, document, archive, others\n"
    "  --type LIST       jpg (also .jpeg), doc (also .docx), pdf, mp3, ..., other\n"
    "  --name GLOB       the file name matches (case ignored)\n"
    "  --path GLOB       the path on the volume matches (* also matches /)\n"
    "  --min-size SIZE   at least SIZE bytes (1500, 64K, 2M, 1.5G)\n"
    "  --max-size SIZE   at most SIZE bytes\n"
    "  --intact          only files whose data still looks whole\n"
    "\n"
    "Each file that fails is named on stderr with the reason; the summary tells\n"
    "how many files went into each category. When DIR fills up, the files\n"
    "written so far stay and the run stops. Ctrl-C stops the run; files already\n"
    "written stay. Ctrl-C during a deep scan keeps its position: run the command\n"
    "again with --resume to go on.\n"
    "\n"
    "Exit codes: 0 all recovered, 1 nothing to recover, 2 usage error, no such\n"
    "scan, or DIR refused because it lies on the source, 3 the source cannot be\n"
    "read, 4 some files failed (or DIR is full), 130 stopped by Ctrl-C.\n"
    "\n"
    "Examples:\n"
    "  sudo selvane recover /dev/sdb1 --to ~/rescued --category photo\n"
    "  selvane recover --scan 3 --to /mnt/usb/rescued --type pdf,doc --keep-paths\n";

int RunRecover(const std::vector<std::string>& args) {
  ParsedArguments parsed;
  std::string error;
  std::set<std::string> flags = kFilterFlags, options = kFilterOptions;
  flags.insert({"--force", "--resume", "--restart", "--keep-paths", "--preserve-times", "--quiet"});
  options.insert({"--to", "--mode", "--scan", "--partition"});
  if (!ParseArguments(args, flags, options, parsed, error)) return UsageError("recover", error);
  const bool fromScan = parsed.Option("--scan").has_value();
  if (fromScan && !parsed.positional.empty())
    return UsageError("recover", "give either SOURCE or --scan N, not both");
  if (!fromScan && parsed.positional.size() != 1) return UsageError("recover", "expected exactly one SOURCE or --scan N");
  if (fromScan)
    for (const char* scanOnly : {"--mode", "--partition"})
      if (parsed.Option(scanOnly)) return UsageError("recover", std::string(scanOnly) + " belongs to scanning; --scan N was scanned already");
  if (!parsed.Option("--to")) return UsageError("recover", "--to DIR is required");
  ScanMode mode = ScanMode::Professional;
  ResumeChoice resume = ResumeChoice::Ask;
  uint32_t partition = 0;
  RecordFilter filter;
  if (!ParseScanMode(parsed.Option("--mode").value_or("deep"), mode)) return UsageError("recover", "--mode is deep or fast");
  if (!ParseResumeChoice(parsed, resume, error) || !ParsePartition(parsed, partition, error) ||
      !ParseRecordFilter(parsed, filter, error))
    return UsageError("recover", error);

  RecoverRequest request;
  request.destination = *parsed.Option("--to");
  request.keepPaths = parsed.Has("--keep-paths");
  request.preserveTimes = parsed.Has("--preserve-times");
  ProgressDisplay display(parsed.Has("--quiet") ? ProgressDisplay::Mode::Quiet : ProgressDisplay::Mode::Auto);
  ScanSession session(display, "selvane recover");

  if (fromScan) {
    ScanDescriptor scan;
    if (int rc = ChooseScan(parsed, "recover", false, scan); rc != kExitOk) return rc;
    if (!AcceptDestination(request.destination, TargetMountPoints(scan.target), parsed.Has("--force"),
                           "selvane recover"))
      return kExitUsage;
    if (!session.Reopen(scan, error)) {
      std::fprintf(stderr, "selvane recover: %s\n", error.c_str());
      return kExitSourceUnreadable;
    }
  } else {
    const std::string& path = parsed.positional[0];
    SourceSpec source;
    if (ResultCode rc = ResolveSource(path, source); rc != kSuccess) {
      std::fprintf(stderr, "selvane recover: %s\n", OpenErrorText(path, rc).c_str());
      return kExitSourceUnreadable;
    }
    std::vector<ScanTarget> targets;
    if (!ScanTargetsOf(source, partition, targets, error)) return UsageError("recover", error);
    if (!AcceptDestination(request.destination, SourceMountPoints(source), parsed.Has("--force"), "selvane recover"))
      return kExitUsage;
    const ScanSession::Status status = session.Run(path, targets, mode, resume);
    if (status == ScanSession::Status::NoEngine) return kExitSourceUnreadable;
    if (status == ScanSession::Status::Cancelled) return kExitCancelled;
  }

  std::vector<ScanLogRecord> files;
  for (const ScanLogRecord& record : session.Records())
    if (!record.IsFolderRecord() && filter.Matches(record, session.PathOf(record))) files.push_back(record);
  RecoverOutcome outcome;
  return RecoverFiles(session, files, request, display, "selvane recover", outcome);
}

}  // namespace selvane::cli
