#include <cstdio>
#include <string>
#include <vector>

#include "cli/arguments.h"
#include "cli/commands.h"
#include "cli/interrupt.h"
#include "cli/progress_display.h"
#include "cli/scan_targets.h"
#include "results/formatting.h"
#include "storage/image_copy.h"
#include "storage/image_destination.h"
#include "storage/source.h"

namespace selvane::cli {

const char* const kImageHelp =
    "Usage: selvane image SOURCE OUT.img [--force] [--skip-bad] [--quiet]\n"
    "\n"
    "Copies a whole disk (/dev/sdb) or one partition (/dev/sdb1) sector by sector\n"
    "into a raw image file, then \"selvane scan OUT.img\" scans the copy instead of\n"
    "the drive. Copy a failing drive once and work on the image: every further\n"
    "read of the drive risks more damage.\n"
    "\n"
    "The source is only read. OUT.img is created, or replaced when it exists. The\n"
    "image is never written onto the drive it copies; a file on a file system of\n"
    "that drive is refused too, because it would overwrite free space that may hold\n"
    "the files you want back, unless --force is given.\n"
    "\n"
    "A read error stops the copy; the image keeps everything read before it.\n"
    "With --skip-bad the copy goes on instead: each unreadable sector is written\n"
    "as zeros and the number of such sectors is reported at the end.\n"
    "Ctrl-C stops the copy and keeps the partial image.\n"
    "\n"
    "Options:\n"
    "  --force     write OUT.img even on a file system of the source drive\n"
    "  --skip-bad  go on past unreadable sectors, writing zeros in their place\n"
    "  --quiet     no progress\n"
    "\n"
    "Exit codes: 0 copied, 2 usage error or refused destination, 3 the source\n"
    "cannot be read (the partial image is kept), 4 the image cannot be written,\n"
    "130 stopped by Ctrl-C (the partial image is kept).\n"
    "\n"
    "Example:\n"
    "  sudo selvane image /dev/sdb sdcard.img && selvane scan sdcard.img\n";

int RunImage(const std::vector<std::string>& args) {
  ParsedArguments parsed;
  std::string error;
  if (!ParseArguments(args, {"--force", "--skip-bad", "--quiet"}, {}, parsed, error)) return UsageError("image", error);
  if (parsed.positional.size() != 2) return UsageError("image", "expected SOURCE and OUT.img");
  const std::string& sourcePath = parsed.positional[0];
  const std::string& imagePath = parsed.positional[1];

  SourceSpec source;
  if (ResultCode rc = ResolveSource(sourcePath, source); rc != kSuccess) {
    std::fprintf(stderr, "selvane image: %s\n", OpenErrorText(sourcePath, rc).c_str());
    return kExitSourceUnreadable;
  }
  if (source.kind == SourceKind::Image) {
    std::fprintf(stderr,
                 "selvane image: %s is not a disk or a partition of one (\"selvane disks --all\" lists them);\n"
                 "an image file needs no copying: scan it directly.\n",
                 sourcePath.c_str());
    return kExitUsage;
  }

  const DestinationCheck check = CheckImageDestination(source.driveNumber, imagePath);
  if (check.conflict == DestinationConflict::SameStorage) {
    std::fprintf(stderr, "selvane image: refusing to write the image onto the source: %s\n", check.detail.c_str());
    return kExitUsage;
  }
  if (check.conflict == DestinationConflict::OnSourceDrive && !parsed.Has("--force")) {
    std::fprintf(stderr,
                 "selvane image: refusing to write %s onto the drive being copied (%s).\n"
                 "Writing there overwrites free space that may hold the files to recover.\n"
                 "Choose a folder on another drive, or add --force to write there anyway.\n",
                 imagePath.c_str(), check.detail.c_str());
    return kExitUsage;
  }

  const bool partition = source.kind == SourceKind::Partition;
  InstallInterruptHandler();
  ProgressDisplay display(parsed.Has("--quiet") ? ProgressDisplay::Mode::Quiet : ProgressDisplay::Mode::Auto);
  display.Stage("Copying", false);
  ImageCopyJob job;
  job.skipBad = parsed.Has("--skip-bad");
  ResultCode rc =
      CopyDiskToImage(job, source.driveNumber, partition ? source.firstSector : 0, partition ? source.sectorCount : 0,
                      imagePath, [&](int32_t percent, uint64_t done, uint64_t total, int32_t secondsLeft) -> int32_t {
                        ProgressValues values;
                        values.percent = percent;
                        values.secondsLeft = done == total ? -2 : secondsLeft;
                        values.sectorsDone = done;
                        values.sectorsTotal = total;
                        display.Update(values);
                        return InterruptRequested() ? kScanStopCode : 0;
                      });
  display.Finish();

  const unsigned long long copied = job.sectorsCopied;
  const unsigned long long total = job.sectorCount;
  if (job.sectorsSkipped)
    std::fprintf(stderr, "selvane image: %llu unreadable sectors (the first is sector %llu) were written as zeros.\n",
                 static_cast<unsigned long long>(job.sectorsSkipped),
                 static_cast<unsigned long long>(job.firstSkipped));
  if (rc == kSuccess) {
    std::printf("Copied %llu sectors (%s) of %s into %s.\nScan the image with: selvane scan %s\n", copied,
                FormatSize(static_cast<int64_t>(job.sectorsCopied * static_cast<uint64_t>(job.sectorSize))).c_str(),
                sourcePath.c_str(), imagePath.c_str(), imagePath.c_str());
    return kExitOk;
  }
  if (rc == kScanStopCode) {
    std::fprintf(stderr, "selvane image: stopped. %s keeps the first %llu of %llu sectors (a partial image).\n",
                 imagePath.c_str(), copied, total);
    return kExitCancelled;
  }
  if (rc == kReadFault) {
    std::fprintf(stderr,
                 "selvane image: read error at sector %llu of %s; the copy stopped.\n"
                 "%s keeps the first %llu of %llu sectors.\n",
                 static_cast<unsigned long long>(job.firstSector + job.sectorsCopied), sourcePath.c_str(),
                 imagePath.c_str(), copied, total);
    return kExitSourceUnreadable;
  }
  if (rc == kInvalidParameter) {
    std::fprintf(stderr, "selvane image: refusing to write the image onto the source\n");
    return kExitUsage;
  }
  std::fprintf(stderr, "selvane image: %s: %s", imagePath.c_str(), ResultMessage(rc).c_str());
  if (copied) std::fprintf(stderr, " (after %llu of %llu sectors; the partial image is kept)", copied, total);
  std::fprintf(stderr, "\n");
  return kExitSomeFailed;
}

}  // namespace selvane::cli
