// Progress of a long command on stderr. On a terminal one line is redrawn in
// place: stage, bar, percent, time left, sectors read and files found. Anywhere
// else (a log, a pipe) a plain line is written at most every few seconds, and
// once when a stage ends. Quiet shows nothing. Standard output is never used,
// so it stays free for results that programs read.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>

namespace selvane::cli {

// One report. Counts that are not known are 0 (sectorsTotal, filesTotal);
// secondsLeft is -1 while no estimate exists and below -1 when none is shown.
struct ProgressValues {
  int32_t percent = 0;
  int32_t secondsLeft = -2;
  uint64_t sectorsDone = 0;
  uint64_t sectorsTotal = 0;
  uint64_t files = 0;       // files found, or files recovered
  uint64_t filesTotal = 0;  // files to recover; 0 while scanning
};

class ProgressDisplay {
 public:
  enum class Mode { Auto, Quiet };
  explicit ProgressDisplay(Mode mode = Mode::Auto, FILE* out = stderr);
  ~ProgressDisplay() { Finish(); }
  ProgressDisplay(const ProgressDisplay&) = delete;
  ProgressDisplay& operator=(const ProgressDisplay&) = delete;

  // Starts a stage ("Deep scan", "Recovering"); ends the one before. A stage
  // that finds no files (copying a disk) shows no count of them.
  void Stage(const std::string& name, bool countsFiles = true);
  void Update(const ProgressValues& values);
  // Ends the stage: a plain line with the last values when one was held back.
  void Finish();
  // Writes a message line (without a trailing newline) between progress lines.
  void Message(const std::string& text);

  bool Quiet() const { return mode_ == Mode::Quiet; }

  // The text of a report: "Deep scan [#####     ] 45% 2 Min 3 Sec left 123/270 sectors 87 files".
  static std::string Format(const std::string& stage, const ProgressValues& values, bool bar, bool countsFiles = true);

 private:
  void ClearLine();

  Mode mode_;
  FILE* out_;
  bool terminal_;
  std::chrono::milliseconds plainInterval_;
  bool open_ = false;      // a redrawn line is on screen
  bool pending_ = false;   // plain mode: values not yet written
  std::string stage_;
  bool countsFiles_ = true;
  ProgressValues last_;
  std::string lastText_;
  std::chrono::steady_clock::time_point lastWrite_;
  bool wroteOnce_ = false;
};

}  // namespace selvane::cli
