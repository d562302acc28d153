#include <cstdio>

#include "cli/commands.h"

namespace selvane::cli {

const std::vector<Command>& AllCommands() {
  static const std::vector<Command> commands = {
      {"demo", "scan the bundled sample disk image and recover everything from it", kDemoHelp, RunDemo},
      {"disks", "list disks, their volumes and unpartitioned space", kDisksHelp, RunDisks},
      {"probe", "tell which file system a disk, partition or image holds", kProbeHelp, RunProbe},
      {"scan", "find deleted and lost files on a disk, partition or image", kScanHelp, RunScan},
      {"scans", "list the scans kept for listing and recovering again", kScansHelp, RunScans},
      {"list", "list the files an earlier scan found, with filters", kListHelp, RunList},
      {"recover", "copy found files into category folders on another drive", kRecoverHelp, RunRecover},
      {"identify", "tell which kind of file each given file is by its content", kIdentifyHelp, RunIdentify},
      {"image", "copy a whole disk or a partition into an image file", kImageHelp, RunImage},
  };
  return commands;
}

namespace {
std::string& StoredProgramName() {
  static std::string name = "selvane";
  return name;
}
}  // namespace

const std::string& ProgramName() { return StoredProgramName(); }

void SetProgramName(const char* argv0) {
  if (argv0 != nullptr && std::string(argv0).find('/') != std::string::npos) StoredProgramName() = argv0;
}

int UsageError(const char* command, const std::string& message) {
  std::fprintf(stderr, "selvane %s: %s\n", command, message.c_str());
  for (const Command& c : AllCommands()) {
    if (std::string(c.name) != command) continue;
    // The first line of the help text is the usage line.
    const std::string help = c.help;
    std::fprintf(stderr, "%s\nRun \"selvane %s --help\" for more.\n", help.substr(0, help.find("\n\n")).c_str(),
                 command);
  }
  return kExitUsage;
}

}  // namespace selvane::cli
