#include <cstdio>
#include <filesystem>

#include "cli/arguments.h"
#include "cli/commands.h"
#include "cli/demo_image.h"
#include "cli/record_filter.h"
#include "cli/recovery_output.h"
#include "cli/scan_session.h"
#include "platform/user_folders.h"
#include "recovery/output_files.h"

namespace selvane::cli {
namespace fs = std::filesystem;

const char* const kDemoHelp =
    "Usage: selvane demo [--to DIR] [--quiet]\n"
    "\n"
    "Shows what Selvane does, on a sample disk image that comes with it: a\n"
    "FAT32 volume whose photos and documents were deleted from their folders, an\n"
    "area holding files without any file system, and an old NTFS volume that was\n"
    "formatted over. The demo unpacks the image into the data folder, scans it\n"
    "in deep mode, recovers everything it finds into DIR and tells what it got\n"
    "in each category. It takes a few seconds.\n"
    "\n"
    "The scan is kept like any other: \"selvane scans\" shows it, and\n"
    "\"selvane list --scan N\" lists what it found.\n"
    "\n"
    "Options:\n"
    "  --to DIR   where the recovered files go (default ./selvane-demo); it must\n"
    "             be empty or not exist yet\n"
    "  --quiet    no progress\n"
    "\n"
    "Exit codes: 0 done, 2 usage error or DIR not empty, 3 the sample image is\n"
    "missing or cannot be unpacked, 4 some files failed.\n"
    "\n"
    "Example:\n"
    "  selvane demo && ls selvane-demo/photo\n";

int RunDemo(const std::vector<std::string>& args) {
  ParsedArguments parsed;
  std::string error;
  if (!ParseArguments(args, {"--quiet"}, {"--to"}, parsed, error)) return UsageError("demo", error);
  if (!parsed.positional.empty()) return UsageError("demo", "demo takes no SOURCE; it scans its own sample image");
  const std::string destination = parsed.Option("--to").value_or("selvane-demo");
  std::error_code ec;
  if (fs::exists(destination, ec) && !(fs::is_directory(destination, ec) && fs::is_empty(destination, ec))) {
    std::fprintf(stderr,
                 "selvane demo: %s is not empty (an earlier demo?); remove it, or choose another folder with --to\n",
                 destination.c_str());
    return kExitUsage;
  }

  const std::string archive = FindDemoArchive();
  if (archive.empty()) {
    std::fprintf(stderr, "selvane demo: the sample image demo.img.xz is missing (not installed?)\n");
    return kExitSourceUnreadable;
  }
  const std::string image = DataFolder() + "/demo.img";
  if (ResultCode rc = CreateFolders(DataFolder()); rc != kSuccess) {
    std::fprintf(stderr, "selvane demo: cannot create %s: %s\n", DataFolder().c_str(), ResultMessage(rc).c_str());
    return kExitSourceUnreadable;
  }
  if (ResultCode rc = UnpackXz(archive, image); rc != kSuccess) {
    std::fprintf(stderr, "selvane demo: cannot unpack %s into %s: %s\n", archive.c_str(), image.c_str(),
                 ResultMessage(rc).c_str());
    return kExitSourceUnreadable;
  }

  SourceSpec source;
  std::vector<ScanTarget> targets;
  if (ResultCode rc = ResolveSource(image, source); rc != kSuccess || !ScanTargetsOf(source, 0, targets, error)) {
    std::fprintf(stderr, "selvane demo: %s\n", OpenErrorText(image, rc).c_str());
    return kExitSourceUnreadable;
  }
  ProgressDisplay display(parsed.Has("--quiet") ? ProgressDisplay::Mode::Quiet : ProgressDisplay::Mode::Auto);
  ScanSession session(display, "selvane demo");
  const ScanSession::Status status = session.Run(image, targets, ScanMode::Professional, ResumeChoice::Restart);
  if (status == ScanSession::Status::NoEngine) return kExitSourceUnreadable;
  if (status == ScanSession::Status::Cancelled) return kExitCancelled;

  std::vector<ScanLogRecord> files;
  for (const ScanLogRecord& record : session.Records())
    if (!record.IsFolderRecord()) files.push_back(record);
  RecoverRequest request;
  request.destination = destination;
  RecoverOutcome outcome;
  const int code = RecoverFiles(session, files, request, display, "selvane demo", outcome);

  std::printf("\nWhat the demo got back, by category:\n");
  for (const std::string& category : CategoryNames()) {
    const auto it = outcome.recoveredByCategory.find(category);
    const uint64_t count = it == outcome.recoveredByCategory.end() ? 0 : it->second;
    if (count == 0) continue;
    std::printf("  %-9s %4llu %s in %s\n", category.c_str(), static_cast<unsigned long long>(count),
                count == 1 ? "file " : "files",
                (fs::path(destination) / category).string().c_str());
  }
  const auto scans = session.Scans();
  if (!scans.empty()) {
    const unsigned long long number = scans.front().number;
    const char* program = ProgramName().c_str();
    std::printf("\nThe scan is kept as scan %llu. Try:\n"
                "  %s list --scan %llu --category photo\n"
                "  %s recover --scan %llu --to demo-documents --type pdf,doc --keep-paths\n"
                "  %s --help\n",
                number, program, number, program, number, program);
  }
  std::fflush(stdout);
  return code;
}

}  // namespace selvane::cli
