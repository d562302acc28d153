#include <cstdio>
#include <set>
#include <sstream>

#include "cli/arguments.h"
#include "cli/commands.h"
#include "cli/interrupt.h"
#include "cli/progress_line.h"
#include "cli/scan_session.h"
#include "recovery/destination_rules.h"
#include "recovery/output_files.h"
#include "recovery/recovery_run.h"

namespace selvane::cli {

const char* const kRecoverHelp =
    "Usage: selvane recover SOURCE --to DIR [--mode deep|fast]\n"
    "                       [--category photo|audio|video|document|archive|others ...]\n"
    "                       [--resume | --restart] [--force]\n"
    "\n"
    "Scans SOURCE like \"selvane scan\" and copies every file found into DIR, in\n"
    "one folder per category (photo, audio, video, document, archive, others).\n"
    "A name that already exists there gets a number: IMG_1(1).JPG.\n"
    "\n"
    "Options:\n"
    "  --to DIR         where the files go; never inside the source itself\n"
    "  --mode MODE      deep (default) or fast, as for \"selvane scan\"\n"
    "  --category NAME  recover only this category; may be given several times\n"
    "                   or as a list (--category photo,video)\n"
    "  --resume         go on with an earlier deep scan of the source\n"
    "  --restart        start the deep scan afresh\n"
    "  --force          write into DIR even when it lies on the scanned volume,\n"
    "                   which can overwrite the very files being recovered\n"
    "\n"
    "Each file that fails is named on stderr with the reason; the last line tells\n"
    "how many files were recovered and how many failed. Ctrl-C stops the run;\n"
    "files already written stay. Ctrl-C during a deep scan keeps its position:\n"
    "run the command again with --resume to go on.\n"
    "\n"
    "Exit codes: 0 all recovered, 1 nothing to recover, 2 usage error, 3 the\n"
    "source cannot be read, 4 some files failed, 5 the destination lies on the\n"
    "source, 130 cancelled.\n"
    "\n"
    "Example:\n"
    "  selvane recover /dev/sdb1 --to ~/rescued --category photo\n";

namespace {

bool ParseCategories(const std::vector<std::string>& values, std::set<std::string>& out, std::string& error) {
  static const std::set<std::string> known = {"photo", "audio", "video", "document", "archive", "others"};
  for (const std::string& value : values) {
    std::stringstream parts(value);
    std::string part;
    while (std::getline(parts, part, ',')) {
      if (!known.count(part)) {
        error = "unknown category \"" + part + "\" (photo, audio, video, document, archive, others)";
        return false;
      }
      out.insert(part);
    }
  }
  return true;
}

}  // namespace

int RunRecover(const std::vector<std::string>& args) {
  ParsedArguments parsed;
  std::string error;
  ScanMode mode = ScanMode::Professional;
  ResumeChoice resume = ResumeChoice::Ask;
  std::set<std::string> categories;
  bool ok = ParseArguments(args, {"--force", "--resume", "--restart"}, {"--to", "--mode", "--category"}, parsed, error);
  if (ok && parsed.positional.size() != 1) error = "expected exactly one SOURCE", ok = false;
  if (ok && !parsed.Option("--to")) error = "--to DIR is required", ok = false;
  if (ok && !ParseScanMode(parsed.Option("--mode").value_or("deep"), mode))
    error = "--mode is deep or fast", ok = false;
  if (ok && !ParseResumeChoice(parsed, resume, error)) ok = false;
  if (ok && parsed.options.count("--category"))
    ok = ParseCategories(parsed.options.at("--category"), categories, error);
  if (!ok) {
    std::fprintf(stderr, "selvane recover: %s\nUsage: selvane recover SOURCE --to DIR [options]\n", error.c_str());
    return kExitUsage;
  }
  const std::string& path = parsed.positional[0];
  const std::string destination = DestinationText(*parsed.Option("--to"));
  SourceSpec source;
  if (ResultCode rc = ResolveSource(path, source); rc != kSuccess) {
    std::fprintf(stderr, "selvane recover: cannot open %s: %s\n", path.c_str(), ResultMessage(rc).c_str());
    return kExitSourceUnreadable;
  }
  if (!parsed.Has("--force")) {
    for (const std::string& mountPoint : SourceMountPoints(source)) {
      if (IsBelow(destination.empty() ? "/" : destination, mountPoint)) {
        std::fprintf(stderr,
                     "selvane recover: %s lies on the scanned volume (mounted at %s); writing there can overwrite "
                     "the files being recovered. Choose a folder on another drive, or add --force.\n",
                     destination.c_str(), mountPoint.c_str());
        return kExitDestinationOnSource;
      }
    }
  }

  ScanSession session;
  const ScanSession::Status status = session.Run(source, mode, "selvane recover", resume);
  if (status == ScanSession::Status::NoEngine) return kExitSourceUnreadable;
  if (status == ScanSession::Status::Cancelled) return kExitCancelled;

  std::vector<RecoveryItem> items;
  for (const ScanLogRecord& record : session.Records()) {
    if (record.IsFolderRecord()) continue;
    if (!categories.empty() && !categories.count(std::string(CategoryFolderOf(record.NameView())))) continue;
    items.push_back({session.EngineOf(record), record});
  }
  if (items.empty()) {
    std::printf("Nothing to recover.\n");
    return kExitNothingFound;
  }

  ProgressLine line;
  line.Stage("Recovering " + std::to_string(items.size()) + " files to " + destination);
  uint32_t done = 0;
  RecoveryTally tally;
  const ResultCode rc = RunRecovery(
      items, destination,
      [&](const std::string& file, ResultCode result) {
        ++done;
        if (result != kSuccess) {
          line.Finish();
          std::fprintf(stderr, "selvane recover: %s: %s\n", file.c_str(), ResultMessage(result).c_str());
        }
        line.Update(static_cast<int32_t>(uint64_t{done} * 100 / items.size()), -2);
      },
      [&](const std::string&, int32_t) { return InterruptRequested(); }, tally);
  line.Finish();
  const uint32_t recovered = tally.processed - tally.failed;
  std::printf("Recovered %u of %u files to %s; %u failed.\n", recovered, tally.total, destination.c_str(),
              tally.failed);
  if (rc == kScanStopCode) {
    std::fprintf(stderr, "selvane recover: cancelled; the files written so far stay\n");
    return kExitCancelled;
  }
  return tally.failed ? kExitSomeFailed : kExitOk;
}

}  // namespace selvane::cli
