#include "results/scan_log_record.h"

#include <cstring>

#include "platform/text.h"

namespace selvane {

namespace {
// The stored layout, checked at compile time: every field lands at its offset.
constexpr bool LayoutHolds() {
  ScanLogRecord r;
  r.VolumeLetter = 0x0102;
  r.EngineCode = 0x03040506;
  r.ItemId = 0x0A0B0C0D;
  r.PartitionStart = 0x1122334455667788ull;
  r.Name[0] = 'N';
  RecordBytes bytes{};
  EncodeRecord(r, bytes);
  ScanLogRecord back = DecodeRecord(bytes);
  return bytes[0] == 0x02 && bytes[1] == 0x01 && bytes[2] == 0x06 && bytes[5] == 0x03 && bytes[22] == 0x0D &&
         bytes[25] == 0x0A && bytes[78] == 0x88 && bytes[85] == 0x11 && bytes[86] == 'N' &&
         back.PartitionStart == r.PartitionStart && back.ItemId == r.ItemId && back.Name[0] == 'N';
}
static_assert(LayoutHolds());
}  // namespace

std::string_view ScanLogRecord::NameView() const {
  const char* begin = Name.data();
  const void* nul = std::memchr(begin, 0, Name.size());
  return std::string_view(begin, nul ? static_cast<const char*>(nul) - begin : Name.size());
}

void ScanLogRecord::SetName(std::string_view name) {
  size_t length = Utf8PrefixLength(name, kRecordNameSize - 1);
  Name.fill(0);
  std::memcpy(Name.data(), name.data(), length);
}

}  // namespace selvane
