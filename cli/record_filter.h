// The filters of "list" and "recover": which found files a command takes.
#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "cli/arguments.h"
#include "results/scan_log_record.h"

namespace selvane::cli {

// The options and flags the filters add to a command.
inline const std::set<std::string> kFilterOptions = {"--category", "--type", "--name", "--path", "--min-size",
                                                     "--max-size"};
inline const std::set<std::string> kFilterFlags = {"--intact"};

struct RecordFilter {
  std::set<std::string> categories;  // "photo", ... "others"; empty: any
  std::set<std::string> extensions;  // lower case, without "."; empty: any
  bool otherType = false;            // the type key "other": files of no other category
  std::vector<std::string> names;    // globs on the name; any may match
  std::vector<std::string> paths;    // globs on "/folder/name"; any may match
  std::optional<uint64_t> minSize, maxSize;
  bool intactOnly = false;

  // Whether any filter was given (then folders are left out).
  bool Active() const;
  // Whether a file record passes; `path` is its "/folder/name".
  bool Matches(const ScanLogRecord& record, const std::string& path) const;
};

// Reads the filters from parsed arguments; false with a message on a bad value.
bool ParseRecordFilter(const ParsedArguments& parsed, RecordFilter& filter, std::string& error);

// "1500", "64K", "2M", "1.5G" (binary units; a trailing "B" or "iB" allowed).
bool ParseSize(const std::string& text, uint64_t& bytes);

// The six category names in the order they are shown.
const std::vector<std::string>& CategoryNames();

}  // namespace selvane::cli
