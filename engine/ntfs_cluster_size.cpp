#include "engine/ntfs_cluster_size.h"

#include "engine/ntfs_record.h"

namespace selvane {
namespace {

constexpr uint64_t kMaxSectorsPerCluster = 4096;  // 2 MiB clusters on 512-byte sectors

}  // namespace

int32_t GuessNtfsSectorsPerCluster(uint32_t bytesPerSector, uint64_t sectorCount) {
  const double mib = static_cast<double>(sectorCount) * bytesPerSector / (1024.0 * 1024.0);
  const double d = bytesPerSector / 512.0;
  if (mib <= 7 * d) return 8;
  if (mib <= 512 * d) return 1;
  if (mib <= 1024 * d) return 2;
  if (mib <= 2048 * d) return 4;
  return 8;
}

uint32_t LearnSectorsPerCluster(std::span<const uint8_t> record, uint32_t bytesPerSector) {
  if (bytesPerSector == 0 || !MftRecordView(record).IsFile()) return 0;
  AttributeWalker walker(record);
  NtfsAttribute a;
  while (walker.Next(a)) {
    if (a.type == kAttrAttributeList) return 0;
    if (a.type != kAttrData) continue;
    if (!a.nonResident || a.LowestVcn() != 0) return 0;
    // An extent that starts the attribute covers VCNs 0 to its highest VCN.
    const uint64_t clusters = a.HighestVcn() + 1;
    const uint64_t allocated = a.AllocatedSize();
    if (clusters == 0 || allocated % bytesPerSector != 0) return 0;
    const uint64_t sectors = allocated / bytesPerSector;
    if (sectors % clusters != 0) return 0;
    const uint64_t value = sectors / clusters;
    if (value == 0 || value > kMaxSectorsPerCluster || (value & (value - 1)) != 0) return 0;
    return static_cast<uint32_t>(value);
  }
  return 0;
}

}  // namespace selvane
