#include "cli/commands.h"

namespace selvane::cli {

const std::vector<Command>& AllCommands() {
  static const std::vector<Command> commands = {
      {"disks", "list disks, their volumes and unpartitioned space", kDisksHelp, RunDisks},
      {"probe", "tell which file system a disk, partition or image holds", kProbeHelp, RunProbe},
      {"scan", "list the deleted files and folders of a disk, partition or image", kScanHelp, RunScan},
      {"recover", "copy found files into category folders on another drive", kRecoverHelp, RunRecover},
      {"image", "copy a whole disk or a partition into an image file", kImageHelp, RunImage},
  };
  return commands;
}

}  // namespace selvane::cli
