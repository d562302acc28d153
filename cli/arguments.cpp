#include "cli/arguments.h"

namespace selvane::cli {

std::optional<std::string> ParsedArguments::Option(const std::string& name) const {
  auto it = options.find(name);
  if (it == options.end() || it->second.empty()) return std::nullopt;
  return it->second.back();
}

bool ParseArguments(const std::vector<std::string>& args, const std::set<std::string>& knownFlags,
                    const std::set<std::string>& knownOptions, ParsedArguments& out, std::string& error) {
  bool onlyPositional = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (onlyPositional || arg.size() < 2 || arg[0] != '-' || arg == "-") {
      out.positional.push_back(arg);
      continue;
    }
    if (arg == "--") {
      onlyPositional = true;
      continue;
    }
    std::string name = arg, value;
    bool inlineValue = false;
    if (auto eq = arg.find('='); eq != std::string::npos) {
      name = arg.substr(0, eq);
      value = arg.substr(eq + 1);
      inlineValue = true;
    }
    if (knownFlags.count(name) && !inlineValue) {
      out.flags.insert(name);
    } else if (knownOptions.count(name)) {
      if (!inlineValue) {
        if (i + 1 >= args.size()) {
          error = "option " + name + " needs a value";
          return false;
        }
        value = args[++i];
      }
      out.options[name].push_back(value);
    } else {
      error = "unknown option " + arg;
      return false;
    }
  }
  return true;
}

}  // namespace selvane::cli
