// A small parser for "command [--flag] [--option value] positional..." lines.
#pragma once

#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace selvane::cli {

struct ParsedArguments {
  std::vector<std::string> positional;
  std::set<std::string> flags;                              // "--json"
  std::map<std::string, std::vector<std::string>> options;  // "--to" -> values, in order

  bool Has(const std::string& flag) const { return flags.count(flag) > 0; }
  std::optional<std::string> Option(const std::string& name) const;
};

// Parses args against the known flags and options (names with their "--").
// On an unknown argument or a missing value returns false and sets error.
bool ParseArguments(const std::vector<std::string>& args, const std::set<std::string>& knownFlags,
                    const std::set<std::string>& knownOptions, ParsedArguments& out, std::string& error);

}  // namespace selvane::cli
