// selvane: recover lost files from drives and disk images.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cli/commands.h"

namespace {

using selvane::cli::AllCommands;

void PrintOverview(FILE* out) {
  std::fprintf(out,
               "selvane - recover deleted and lost files from USB sticks, SD cards, disks and disk images\n"
               "\n"
               "Usage: selvane COMMAND [options]\n"
               "\n"
               "Commands:\n");
  for (const auto& command : AllCommands()) std::fprintf(out, "  %-9s %s\n", command.name, command.summary);
  std::fprintf(out,
               "\n"
               "Scan modes:\n"
               "  fast   the deleted files that the NTFS or FAT file system still knows, with\n"
               "         their names and folders; takes seconds\n"
               "  deep   (the default) the fast scan, then every unused sector: files and\n"
               "         folders of formatted or damaged volumes, and files recognised by\n"
               "         their content; can take hours, Ctrl-C stops it and --resume goes on\n"
               "\n"
               "A first try:\n"
               "  selvane demo                                  # the bundled sample, into ./selvane-demo\n"
               "  sudo selvane disks                            # find your card or stick\n"
               "  sudo selvane scan /dev/sdb1                   # scan it; the scan is kept as number N\n"
               "  selvane list --scan N --category photo        # what it found\n"
               "  sudo selvane recover --scan N --to ~/rescued  # copy it onto another drive\n"
               "\n"
               "Sources are only read, never written. Exit codes: 0 success, 1 nothing found,\n"
               "2 usage error, 3 source cannot be read, 4 some files failed, 130 cancelled.\n"
               "\"selvane COMMAND --help\" explains a command; \"man selvane\" explains all.\n");
}

}  // namespace

int main(int argc, char** argv) {
  selvane::cli::SetProgramName(argc > 0 ? argv[0] : nullptr);
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty()) {
    PrintOverview(stderr);
    return selvane::cli::kExitUsage;
  }
  const std::string& first = args[0];
  if (first == "--help" || first == "-h" || first == "help") {
    if (args.size() > 1) {
      for (const auto& command : AllCommands())
        if (args[1] == command.name) {
          std::fputs(command.help, stdout);
          return selvane::cli::kExitOk;
        }
    }
    PrintOverview(stdout);
    return selvane::cli::kExitOk;
  }
  if (first == "--version" || first == "-V") {
    std::printf("selvane %s\n", SELVANE_VERSION);
    return selvane::cli::kExitOk;
  }
  for (const auto& command : AllCommands()) {
    if (first != command.name) continue;
    std::vector<std::string> rest(args.begin() + 1, args.end());
    for (const auto& arg : rest) {
      if (arg == "--") break;
      if (arg == "--help" || arg == "-h") {
        std::fputs(command.help, stdout);
        return selvane::cli::kExitOk;
      }
    }
    return command.run(rest);
  }
  std::fprintf(stderr, "selvane: unknown command \"%s\"\n\n", first.c_str());
  PrintOverview(stderr);
  return selvane::cli::kExitUsage;
}
