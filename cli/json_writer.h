// Writes one flat JSON object at a time (JSON Lines for records).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace selvane::cli {

std::string JsonEscape(std::string_view text);

class JsonObject {
 public:
  JsonObject& Add(std::string_view key, std::string_view value);
  JsonObject& Add(std::string_view key, const char* value) { return Add(key, std::string_view(value)); }
  JsonObject& Add(std::string_view key, uint64_t value);
  JsonObject& Add(std::string_view key, int64_t value);
  JsonObject& Add(std::string_view key, int value) { return Add(key, static_cast<int64_t>(value)); }
  JsonObject& Add(std::string_view key, unsigned value) { return Add(key, static_cast<uint64_t>(value)); }
  JsonObject& Add(std::string_view key, bool value);
  JsonObject& AddRaw(std::string_view key, std::string_view json);
  std::string str() const { return text_ + "}"; }

 private:
  void Key(std::string_view key);
  std::string text_ = "{";
};

}  // namespace selvane::cli
