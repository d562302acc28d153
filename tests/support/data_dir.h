// Points SELVANE_DATA_DIR at a fresh folder for one test and forgets the scan
// history loaded from anywhere else.
#pragma once

#include <cstdlib>
#include <string>

#include "results/scan_history.h"
#include "support/test_support.h"

namespace selvane::test {

class DataDirScope {
 public:
  DataDirScope() {
    if (const char* old = std::getenv("SELVANE_DATA_DIR")) {
      hadOld_ = true;
      old_ = old;
    }
    ::setenv("SELVANE_DATA_DIR", dir_.path().c_str(), 1);
    CScanHistory::ResetForTests();
  }
  ~DataDirScope() {
    if (hadOld_) ::setenv("SELVANE_DATA_DIR", old_.c_str(), 1);
    else ::unsetenv("SELVANE_DATA_DIR");
    CScanHistory::ResetForTests();
  }
  DataDirScope(const DataDirScope&) = delete;
  DataDirScope& operator=(const DataDirScope&) = delete;

  std::string Root() const { return dir_ / "ScanLog"; }

 private:
  TempDir dir_;
  std::string old_;
  bool hadOld_ = false;
};

}  // namespace selvane::test
