// The one checked reader for little-endian fields of on-disk bytes. Every
// parser reads through it: a read outside the span yields 0 and marks the
// reader as overrun, so a damaged length field can never reach past a buffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace selvane {

class ByteReader {
 public:
  ByteReader() = default;
  explicit ByteReader(std::span<const uint8_t> bytes) : bytes_(bytes) {}
  ByteReader(const void* data, size_t size) : bytes_(static_cast<const uint8_t*>(data), size) {}

  size_t size() const { return bytes_.size(); }
  std::span<const uint8_t> bytes() const { return bytes_; }
  // True when [offset, offset + length) lies inside the span.
  bool Fits(size_t offset, size_t length) const {
    return offset <= bytes_.size() && length <= bytes_.size() - offset;
  }
  // True once any read fell outside the span.
  bool overrun() const { return overrun_; }

  uint8_t U8(size_t offset) const { return static_cast<uint8_t>(Le(offset, 1)); }
  uint16_t U16(size_t offset) const { return static_cast<uint16_t>(Le(offset, 2)); }
  uint32_t U32(size_t offset) const { return static_cast<uint32_t>(Le(offset, 4)); }
  uint64_t U64(size_t offset) const { return Le(offset, 8); }
  uint16_t Be16(size_t offset) const { return static_cast<uint16_t>(Be(offset, 2)); }
  uint32_t Be32(size_t offset) const { return static_cast<uint32_t>(Be(offset, 4)); }
  // Little-endian unsigned value of 1 to 8 bytes (run-list fields are of any width).
  uint64_t Le(size_t offset, size_t width) const {
    if (width > 8 || !Fits(offset, width)) {
      overrun_ = true;
      return 0;
    }
    uint64_t value = 0;
    for (size_t i = 0; i < width; ++i) value |= uint64_t{bytes_[offset + i]} << (8 * i);
    return value;
  }
  uint64_t Be(size_t offset, size_t width) const {
    if (width > 8 || !Fits(offset, width)) {
      overrun_ = true;
      return 0;
    }
    uint64_t value = 0;
    for (size_t i = 0; i < width; ++i) value = (value << 8) | bytes_[offset + i];
    return value;
  }

  // The bytes [offset, offset + length), or an empty span (and overrun) when they don't fit.
  std::span<const uint8_t> Span(size_t offset, size_t length) const {
    if (!Fits(offset, length)) {
      overrun_ = true;
      return {};
    }
    return bytes_.subspan(offset, length);
  }
  ByteReader Sub(size_t offset, size_t length) const { return ByteReader(Span(offset, length)); }
  // True when the bytes at offset equal `text` (false when they don't fit).
  bool Equals(size_t offset, std::string_view text) const {
    if (!Fits(offset, text.size())) return false;
    for (size_t i = 0; i < text.size(); ++i)
      if (bytes_[offset + i] != static_cast<uint8_t>(text[i])) return false;
    return true;
  }

 private:
  std::span<const uint8_t> bytes_;
  mutable bool overrun_ = false;
};

}  // namespace selvane
