#include "support/cli_support.h"

#include <filesystem>
#include <fstream>
#include <sstream>

#include "support/test_support.h"

namespace selvane::test {
namespace fs = std::filesystem;

std::string DemoImage() {
  static TempDir* dir = new TempDir();  // kept for the whole run
  static const std::string path = [] {
    const std::string archive = std::string(SELVANE_SAMPLES_DIR) + "/demo.img.xz";
    const std::string image = *dir / "demo.img";
    if (!fs::exists(archive)) return std::string();
    if (RunShell("xz -dc " + ShellQuote(archive) + " > " + ShellQuote(image)).exitCode != 0) return std::string();
    return image;
  }();
  return path;
}

std::vector<DemoFile> DemoManifest() {
  std::vector<DemoFile> files;
  std::ifstream in(std::string(SELVANE_SAMPLES_DIR) + "/demo.manifest");
  for (std::string line; std::getline(in, line);) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream fields(line);
    DemoFile file;
    fields >> file.sha256 >> file.size >> file.where;
    std::getline(fields >> std::ws, file.path);
    files.push_back(file);
  }
  return files;
}

namespace {

class JsonReader {
 public:
  explicit JsonReader(const std::string& text) : s_(text) {}

  std::optional<JsonFields> Object() {
    JsonFields fields;
    if (!Take('{')) return std::nullopt;
    if (Take('}')) return End(fields);
    for (;;) {
      auto key = String();
      if (!key || !Take(':')) return std::nullopt;
      auto value = Value();
      if (!value || !fields.emplace(*key, *value).second) return std::nullopt;
      if (Take(',')) continue;
      if (Take('}')) return End(fields);
      return std::nullopt;
    }
  }

 private:
  std::optional<JsonFields> End(const JsonFields& fields) {
    return at_ == s_.size() ? std::optional<JsonFields>(fields) : std::nullopt;
  }
  bool Take(char c) {
    if (at_ < s_.size() && s_[at_] == c) {
      ++at_;
      return true;
    }
    return false;
  }
  bool Word(const char* word) {
    const std::string w = word;
    if (s_.compare(at_, w.size(), w) != 0) return false;
    at_ += w.size();
    return true;
  }
  std::optional<std::string> String() {
    if (!Take('"')) return std::nullopt;
    std::string out;
    while (at_ < s_.size()) {
      const unsigned char c = static_cast<unsigned char>(s_[at_++]);
      if (c == '"') return out;
      if (c < 0x20) return std::nullopt;
      if (c != '\\') {
        out.push_back(static_cast<char>(c));
        continue;
      }
      if (at_ >= s_.size()) return std::nullopt;
      const char e = s_[at_++];
      switch (e) {
        case '"': out += '"'; break;
        case '\\': out += '\\'; break;
        case '/': out += '/'; break;
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case 't': out += '\t'; break;
        case 'b': out += '\b'; break;
        case 'f': out += '\f'; break;
        case 'u': {
          if (at_ + 4 > s_.size()) return std::nullopt;
          const unsigned code = std::stoul(s_.substr(at_, 4), nullptr, 16);
          at_ += 4;
          if (code < 0x80) out.push_back(static_cast<char>(code));
          else out += "?";
          break;
        }
        default: return std::nullopt;
      }
    }
    return std::nullopt;
  }
  std::optional<JsonValue> Value() {
    JsonValue v;
    if (at_ < s_.size() && s_[at_] == '"') {
      auto text = String();
      if (!text) return std::nullopt;
      v.type = JsonValue::Type::String;
      v.text = *text;
      return v;
    }
    for (const char* word : {"true", "false"})
      if (Word(word)) {
        v.type = JsonValue::Type::Bool;
        v.text = word;
        return v;
      }
    if (Word("null")) return v;
    const size_t start = at_;
    if (at_ < s_.size() && s_[at_] == '-') ++at_;
    while (at_ < s_.size() && std::isdigit(static_cast<unsigned char>(s_[at_]))) ++at_;
    if (at_ == start || (s_[start] == '-' && at_ == start + 1)) return std::nullopt;
    v.type = JsonValue::Type::Number;
    v.text = s_.substr(start, at_ - start);
    return v;
  }

  const std::string& s_;
  size_t at_ = 0;
};

}  // namespace

std::optional<JsonFields> ParseJsonObject(const std::string& text) { return JsonReader(text).Object(); }

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);)
    if (!line.empty()) lines.push_back(line);
  return lines;
}

std::map<std::string, std::vector<std::string>> FilesByHash(const std::string& folder) {
  std::map<std::string, std::vector<std::string>> files;
  std::error_code ec;
  for (const auto& entry : fs::recursive_directory_iterator(folder, ec))
    if (entry.is_regular_file()) files[Sha256OfFile(entry.path().string())].push_back(entry.path().string());
  return files;
}

}  // namespace selvane::test
