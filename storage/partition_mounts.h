// Where a partition of a drive is mounted, if it is.
#pragma once

#include <cstdint>
#include <string>

namespace selvane {

// Mount point of the partition of drive N that starts at firstSector (in the
// drive's sectors), or of the drive itself for sector 0; "" when not mounted.
std::string MountPointOfPartition(int32_t driveNumber, uint64_t firstSector);

}  // namespace selvane
