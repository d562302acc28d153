#include "cli/commands.h"

namespace selvane::cli {

const std::vector<Command>& AllCommands() {
  static const std::vector<Command> commands = {
      {"probe", "tell which file system a disk, partition or image holds", kProbeHelp, RunProbe},
      {"scan", "list the deleted files and folders of a disk, partition or image", kScanHelp, RunScan},
      {"recover", "copy found files into category folders on another drive", kRecoverHelp, RunRecover},
  };
  return commands;
}

}  // namespace selvane::cli
