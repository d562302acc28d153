// File-system probes over arbitrary first bytes of a volume.
#include <cstddef>
#include <cstdint>
#include <span>

#include "engine/file_system_probes.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::span<const uint8_t> bytes(data, size);
  selvane::ClassifyVolume(bytes);
  selvane::IsFat16BootSector(bytes);
  selvane::IsFat32BootSector(bytes);
  selvane::IsLockedVolume(bytes);
  selvane::IsExtSuperblock(bytes);
  return 0;
}
