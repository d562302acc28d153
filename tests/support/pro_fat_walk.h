// Drives the FAT formatted-volume engine over a whole image the way the deep
// scan coordinator does: 64 KiB blocks, each sector offered to
// IsDirectoryStartSector and then IsFatDirectorySector, FinishFatWalk at the end.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "engine/professional_fat_recovery.h"
#include "storage/disk_device.h"

namespace selvane::test {

// Offers the sectors [first, end) of the image (end clipped to its size).
inline void WalkSectors(CProfessionalFatRecovery& engine, const std::string& image, uint64_t first, uint64_t end) {
  DiskDevice device;
  ASSERT_EQ(OpenImageFile(image, device), kSuccess);
  const uint32_t sectorSize = engine.BytesPerSector();
  const uint64_t perBlock = 65536 / sectorSize;
  end = std::min(end, device.totalSectors);
  std::vector<uint8_t> block(65536);
  for (uint64_t at = first; at < end; at += perBlock) {
    const auto n = static_cast<uint32_t>(std::min<uint64_t>(perBlock, end - at));
    uint32_t read = 0;
    ReadSectors(static_cast<int32_t>(n), device, block.data(), at, sectorSize, read);
    for (uint32_t i = 0; i < read; ++i) {
      const std::span<const uint8_t> sector(block.data() + size_t{i} * sectorSize, sectorSize);
      if (CProfessionalFatRecovery::IsDirectoryStartSector(sector))
        engine.OnDirectoryStart(sector, at + i);
      else if (CProfessionalFatRecovery::IsFatDirectorySector(sector))
        engine.OnDirectorySector(sector, at + i);
    }
  }
}

// A whole walk: log, boot sector, every sector, finish.
inline void WalkImageLikeTheCoordinator(CProfessionalFatRecovery& engine, const std::string& image,
                                        uint16_t sourceId = 7) {
  ASSERT_EQ(engine.OpenImage(image, sourceId), kSuccess);
  ASSERT_EQ(engine.StartFatLog(""), kSuccess);
  ASSERT_EQ(engine.PrepareFatWalk(), kSuccess);
  WalkSectors(engine, image, 0, UINT64_MAX);
  ASSERT_EQ(engine.FinishFatWalk(), kSuccess);
}

}  // namespace selvane::test
