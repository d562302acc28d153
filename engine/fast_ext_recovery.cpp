#include "engine/fast_ext_recovery.h"

namespace selvane {

ResultCode CFastExtRecovery::OpenPartition(int32_t driveNumber, uint64_t firstSector, uint64_t sectorCount,
                                           uint16_t sourceId) {
  driveNumber_ = driveNumber;
  firstSector_ = firstSector;
  sectorCount_ = sectorCount;
  sourceId_ = sourceId;
  return OpenDriveHandle(driveNumber, drive_);
}

}  // namespace selvane
