// Partition tables (MBR, GPT header and entries) over arbitrary bytes: the
// first sector, then the GPT header sector, then its entries.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>

#include "engine/partition_table.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::span<const uint8_t> bytes(data, size);
  const std::span<const uint8_t> first = bytes.first(std::min<size_t>(size, 512));
  selvane::ParseMbrPartitions(first);
  selvane::IsProtectiveMbr(first);
  if (size > 512) {
    const std::span<const uint8_t> header = bytes.subspan(512, std::min<size_t>(size - 512, 512));
    const std::span<const uint8_t> entries = size > 1024 ? bytes.subspan(1024) : std::span<const uint8_t>();
    selvane::ParseGptPartitions(header, entries);
  }
  return 0;
}
