#include "cli/progress_line.h"

#include <unistd.h>

#include "results/formatting.h"

namespace selvane::cli {

ProgressLine::ProgressLine(FILE* out) : out_(out), terminal_(::isatty(::fileno(out)) == 1) {}

void ProgressLine::Stage(const std::string& text) {
  Finish();
  stage_ = text;
  lastPercent_ = -1;
  lastSeconds_ = -2;
}

void ProgressLine::Update(int32_t percent, int32_t secondsLeft) {
  if (percent == lastPercent_ && secondsLeft == lastSeconds_) return;
  if (!terminal_ && lastPercent_ >= 0 && percent / 10 == lastPercent_ / 10 && percent != 100) return;
  if (!terminal_ && percent == lastPercent_) return;
  lastPercent_ = percent;
  lastSeconds_ = secondsLeft;
  const std::string left = secondsLeft == -1 ? " (estimating time left)"
                           : secondsLeft < 0 ? ""
                                             : " (time left " + FormatDuration(secondsLeft) + ")";
  if (terminal_) {
    std::fprintf(out_, "\r%s: %d%%%s\033[K", stage_.c_str(), percent, left.c_str());
    open_ = true;
  } else {
    std::fprintf(out_, "%s: %d%%%s\n", stage_.c_str(), percent, left.c_str());
  }
  std::fflush(out_);
}

void ProgressLine::Finish() {
  if (open_) std::fputc('\n', out_);
  open_ = false;
}

}  // namespace selvane::cli
