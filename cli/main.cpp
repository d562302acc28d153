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
  for (const auto& command : AllCommands()) std::fprintf(out, "  %-10s %s\n", command.name, command.summary);
  std::fprintf(out,
               "\n"
               "Sources are never written to. Run \"selvane COMMAND --help\" for the options of a command.\n");
}

}  // namespace

int main(int argc, char** argv) {
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
  if (first == "--version") {
    std::printf("selvane 0.1.0\n");
    return selvane::cli::kExitOk;
  }
  for (const auto& command : AllCommands()) {
    if (first != command.name) continue;
    std::vector<std::string> rest(args.begin() + 1, args.end());
    for (const auto& arg : rest)
      if (arg == "--help" || arg == "-h") {
        std::fputs(command.help, stdout);
        return selvane::cli::kExitOk;
      }
    return command.run(rest);
  }
  std::fprintf(stderr, "selvane: unknown command \"%s\"\n\n", first.c_str());
  PrintOverview(stderr);
  return selvane::cli::kExitUsage;
}
