// The subcommands of the selvane program and the exit codes they share.
#pragma once

#include <string>
#include <vector>

namespace selvane::cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitNothingFound = 1;
inline constexpr int kExitUsage = 2;  // also: a destination refused without --force
inline constexpr int kExitSourceUnreadable = 3;
inline constexpr int kExitSomeFailed = 4;
inline constexpr int kExitCancelled = 130;

struct Command {
  const char* name;
  const char* summary;  // one line for the overview
  const char* help;     // full text of "selvane COMMAND --help"
  int (*run)(const std::vector<std::string>& args);
};

// Every command in the order the overview lists them.
const std::vector<Command>& AllCommands();

// The program as the user started it, for commands to suggest: "selvane",
// or the path typed ("./build/selvane") when it was not found on the PATH.
const std::string& ProgramName();
void SetProgramName(const char* argv0);

// Prints "selvane COMMAND: message" and the command's usage line to stderr;
// returns kExitUsage.
int UsageError(const char* command, const std::string& message);

#define SELVANE_COMMAND(Name) \
  int Run##Name(const std::vector<std::string>& args); \
  extern const char* const k##Name##Help;

SELVANE_COMMAND(Demo)
SELVANE_COMMAND(Disks)
SELVANE_COMMAND(Probe)
SELVANE_COMMAND(Scan)
SELVANE_COMMAND(Scans)
SELVANE_COMMAND(List)
SELVANE_COMMAND(Recover)
SELVANE_COMMAND(Identify)
SELVANE_COMMAND(Image)

#undef SELVANE_COMMAND

}  // namespace selvane::cli
