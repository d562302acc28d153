#include "cli/scan_choice.h"

#include <charconv>
#include <cstdio>

#include "cli/commands.h"

namespace selvane::cli {

int ChooseScan(const ParsedArguments& parsed, const char* command, bool newestByDefault, ScanDescriptor& out) {
  const auto text = parsed.Option("--scan");
  if (!text) {
    const auto scans = ListScans();
    if (!newestByDefault) return UsageError(command, "name a SOURCE to scan, or --scan N for an earlier scan");
    if (scans.empty()) {
      std::fprintf(stderr, "selvane %s: there are no scans yet; run \"selvane scan SOURCE\" first\n", command);
      return kExitNothingFound;
    }
    out = scans.back();
    std::fprintf(stderr, "selvane %s: scan %llu (%s)\n", command, static_cast<unsigned long long>(out.number),
                 out.source.c_str());
    return kExitOk;
  }
  uint64_t number = 0;
  const auto [end, ec] = std::from_chars(text->data(), text->data() + text->size(), number);
  if (ec != std::errc() || end != text->data() + text->size())
    return UsageError(command, "--scan takes the number of a scan, as \"selvane scans\" lists them");
  if (!FindScan(number, out)) {
    std::fprintf(stderr, "selvane %s: there is no scan %s; \"selvane scans\" lists the scans kept\n", command,
                 text->c_str());
    return kExitUsage;
  }
  return kExitOk;
}

}  // namespace selvane::cli
