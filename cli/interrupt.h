// Ctrl-C and SIGTERM for long commands: the first signal only sets a flag that
// the progress callbacks turn into a stop (kScanStopCode), so what was found or
// written so far stays; a second one ends the program at once.
#pragma once

namespace selvane::cli {

void InstallInterruptHandler();
bool InterruptRequested();

}  // namespace selvane::cli
