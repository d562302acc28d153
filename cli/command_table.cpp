#include "cli/commands.h"

namespace selvane::cli {

const std::vector<Command>& AllCommands() {
  static const std::vector<Command> commands = {
      {"probe", "tell which file system a disk, partition or image holds", kProbeHelp, RunProbe},
  };
  return commands;
}

}  // namespace selvane::cli
