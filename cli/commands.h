// The subcommands of the selvane program and the exit codes they share.
#pragma once

#include <string>
#include <vector>

namespace selvane::cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitNothingFound = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitSourceUnreadable = 3;
inline constexpr int kExitSomeFailed = 4;
inline constexpr int kExitDestinationOnSource = 5;  // recover: --to lies on the scanned volume
inline constexpr int kExitCancelled = 130;

struct Command {
  const char* name;
  const char* summary;  // one line for the overview
  const char* help;     // full text of "selvane COMMAND --help"
  int (*run)(const std::vector<std::string>& args);
};

// Every command in the order the overview lists them.
const std::vector<Command>& AllCommands();

int RunProbe(const std::vector<std::string>& args);
extern const char* const kProbeHelp;
int RunScan(const std::vector<std::string>& args);
extern const char* const kScanHelp;
int RunRecover(const std::vector<std::string>& args);
extern const char* const kRecoverHelp;
int RunDisks(const std::vector<std::string>& args);
extern const char* const kDisksHelp;
int RunImage(const std::vector<std::string>& args);
extern const char* const kImageHelp;

}  // namespace selvane::cli
