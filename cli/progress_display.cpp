#include "cli/progress_display.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "results/formatting.h"

namespace selvane::cli {
namespace {

constexpr auto kTerminalInterval = std::chrono::milliseconds(100);
constexpr int kBarWidth = 20;

std::string Count(uint64_t value) {
  std::string digits = std::to_string(value);
  for (int i = static_cast<int>(digits.size()) - 3; i > 0; i -= 3) digits.insert(static_cast<size_t>(i), ",");
  return digits;
}

// Seconds between plain lines: $SELVANE_PROGRESS_SECONDS, else 5.
std::chrono::milliseconds PlainInterval() {
  if (const char* text = std::getenv("SELVANE_PROGRESS_SECONDS")) {
    char* end = nullptr;
    const double seconds = std::strtod(text, &end);
    if (end != text && seconds >= 0 && seconds < 86400) return std::chrono::milliseconds(std::llround(seconds * 1000));
  }
  return std::chrono::seconds(5);
}

}  // namespace

ProgressDisplay::ProgressDisplay(Mode mode, FILE* out)
    : mode_(mode), out_(out), terminal_(::isatty(::fileno(out)) == 1), plainInterval_(PlainInterval()) {}

std::string ProgressDisplay::Format(const std::string& stage, const ProgressValues& v, bool bar, bool countsFiles) {
  const int32_t percent = std::clamp(v.percent, 0, 100);
  std::string text = stage;
  if (bar) {
    const int filled = percent * kBarWidth / 100;
    text += " [" + std::string(static_cast<size_t>(filled), '#') + std::string(static_cast<size_t>(kBarWidth - filled), ' ') + "]";
  }
  text += " " + std::to_string(percent) + "%";
  if (v.secondsLeft == -1 && percent < 100)
    text += ", estimating time left";
  else if (v.secondsLeft >= 0 && percent < 100)
    text += ", " + FormatDuration(v.secondsLeft) + " left";
  if (v.sectorsTotal > 0) text += ", " + Count(v.sectorsDone) + "/" + Count(v.sectorsTotal) + " sectors";
  // The fast engines do not count what they find while they scan.
  if (!countsFiles)
    return text;
  if (v.filesTotal > 0)
    text += ", " + Count(v.files) + "/" + Count(v.filesTotal) + " files";
  else if (v.files > 0 || v.sectorsTotal > 0)
    text += ", " + Count(v.files) + (v.files == 1 ? " file" : " files") + " found";
  return text;
}

void ProgressDisplay::Stage(const std::string& name, bool countsFiles) {
  Finish();
  stage_ = name;
  countsFiles_ = countsFiles;
  last_ = ProgressValues{};
  lastText_.clear();
  wroteOnce_ = false;
}

void ProgressDisplay::Update(const ProgressValues& reported) {
  if (mode_ == Mode::Quiet) return;
  // Within a stage the counts only grow; a report without them (the last
  // one of a deep scan) keeps those shown.
  ProgressValues values = reported;
  values.sectorsDone = std::max(values.sectorsDone, last_.sectorsDone);
  values.sectorsTotal = std::max(values.sectorsTotal, last_.sectorsTotal);
  values.files = std::max(values.files, last_.files);
  values.filesTotal = std::max(values.filesTotal, last_.filesTotal);
  last_ = values;
  const auto now = std::chrono::steady_clock::now();
  if (terminal_) {
    // A redraw ten times a second is smooth enough and costs nothing.
    if (wroteOnce_ && values.percent < 100 && now - lastWrite_ < kTerminalInterval) {
      pending_ = true;
      return;
    }
    wroteOnce_ = true;
    pending_ = false;
    lastWrite_ = now;
    const std::string text = Format(stage_, values, true, countsFiles_);
    if (text == lastText_) return;
    lastText_ = text;
    std::fprintf(out_, "\r%s\033[K", text.c_str());
    std::fflush(out_);
    open_ = true;
    return;
  }
  if (wroteOnce_ && now - lastWrite_ < plainInterval_) {
    pending_ = true;
    return;
  }
  std::fprintf(out_, "%s\n", Format(stage_, values, false, countsFiles_).c_str());
  std::fflush(out_);
  wroteOnce_ = true;
  pending_ = false;
  lastWrite_ = now;
}

void ProgressDisplay::Finish() {
  if (mode_ == Mode::Quiet) return;
  if (pending_ && terminal_)
    std::fprintf(out_, "\r%s\033[K", Format(stage_, last_, true, countsFiles_).c_str());
  else if (pending_)
    std::fprintf(out_, "%s\n", Format(stage_, last_, false, countsFiles_).c_str());
  pending_ = false;
  ClearLine();
}

void ProgressDisplay::ClearLine() {
  if (open_) std::fputc('\n', out_);
  open_ = false;
  std::fflush(out_);
}

void ProgressDisplay::Message(const std::string& text) {
  // The redrawn line is kept: the message goes on its own line below it.
  ClearLine();
  lastText_.clear();
  std::fprintf(out_, "%s\n", text.c_str());
  std::fflush(out_);
}

}  // namespace selvane::cli
