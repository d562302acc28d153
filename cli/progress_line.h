// One line of progress on stderr: the stage, the percentage and the time left.
// On a terminal the line is redrawn in place; otherwise a line is written each
// time the percentage passes another tenth, so logs stay short.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace selvane::cli {

class ProgressLine {
 public:
  explicit ProgressLine(FILE* out = stderr);
  ~ProgressLine() { Finish(); }
  ProgressLine(const ProgressLine&) = delete;
  ProgressLine& operator=(const ProgressLine&) = delete;

  // Starts a new stage ("Scanning disk.img for deleted files").
  void Stage(const std::string& text);
  // secondsLeft is -1 while no estimate exists; below -1 no time is shown.
  void Update(int32_t percent, int32_t secondsLeft);
  // Ends the current line.
  void Finish();

 private:
  FILE* out_;
  bool terminal_;
  bool open_ = false;
  std::string stage_;
  int32_t lastPercent_ = -1;
  int32_t lastSeconds_ = -2;
};

}  // namespace selvane::cli
