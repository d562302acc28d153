// Helpers of the command line tests: the demo disk image and its manifest, and
// a strict reader of the flat JSON objects the program prints.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace selvane::test {

// samples/demo.img unpacked once per test run (shared, read-only: copy it
// before changing it); "" when the archive is missing.
std::string DemoImage();

struct DemoFile {
  std::string sha256;
  uint64_t size = 0;
  std::string where;  // fat-deleted, fat-live, carved, ntfs-formatted
  std::string path;
};
std::vector<DemoFile> DemoManifest();

struct JsonValue {
  enum class Type { String, Number, Bool, Null } type = Type::Null;
  std::string text;  // the string's value, the number's digits, "true"/"false"
};
using JsonFields = std::map<std::string, JsonValue>;

// One flat JSON object (string, integer, boolean and null values); nothing
// when the text is not exactly that (also a key given twice).
std::optional<JsonFields> ParseJsonObject(const std::string& text);

// The lines of a text, without empty ones.
std::vector<std::string> Lines(const std::string& text);

// sha256 -> files with that content below a folder.
std::map<std::string, std::vector<std::string>> FilesByHash(const std::string& folder);

}  // namespace selvane::test
