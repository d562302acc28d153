#include "cli/json_writer.h"

#include <cstdio>

#include "platform/text.h"

namespace selvane::cli {

std::string JsonEscape(std::string_view text) {
  // Names from a disk need not be valid UTF-8; JSON must be: bad bytes become U+FFFD.
  const std::string valid = Utf16ToUtf8(Utf8ToUtf16(text));
  std::string out;
  out.reserve(valid.size() + 2);
  for (unsigned char c : valid) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04x", c);
          out += buf;
        } else {
          out.push_back(static_cast<char>(c));
        }
    }
  }
  return out;
}

void JsonObject::Key(std::string_view key) {
  if (text_.size() > 1) text_ += ",";
  text_ += '"';
  text_ += JsonEscape(key);
  text_ += "\":";
}

JsonObject& JsonObject::Add(std::string_view key, std::string_view value) {
  Key(key);
  text_ += '"';
  text_ += JsonEscape(value);
  text_ += '"';
  return *this;
}

JsonObject& JsonObject::Add(std::string_view key, uint64_t value) {
  Key(key);
  text_ += std::to_string(value);
  return *this;
}

JsonObject& JsonObject::Add(std::string_view key, int64_t value) {
  Key(key);
  text_ += std::to_string(value);
  return *this;
}

JsonObject& JsonObject::Add(std::string_view key, bool value) {
  Key(key);
  text_ += value ? "true" : "false";
  return *this;
}

JsonObject& JsonObject::AddRaw(std::string_view key, std::string_view json) {
  Key(key);
  text_ += json;
  return *this;
}

}  // namespace selvane::cli
