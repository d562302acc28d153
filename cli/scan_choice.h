// Choosing an earlier scan with --scan N for "list" and "recover".
#pragma once

#include <string>

#include "cli/arguments.h"
#include "cli/scan_descriptor.h"

namespace selvane::cli {

// Reads --scan N and finds that scan; without --scan, when `newestByDefault`,
// the scan with the highest number. Returns 0 when found; otherwise prints why
// and returns the exit code (2 for a bad or unknown number, 1 when there is
// no scan at all).
int ChooseScan(const ParsedArguments& parsed, const char* command, bool newestByDefault, ScanDescriptor& out);

}  // namespace selvane::cli
