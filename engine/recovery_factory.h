// Chooses and opens the engine for a volume: reads its first 16 KiB, classifies
// them, and returns an engine already opened on the source, or none.
#pragma once

#include <memory>
#include <string>

#include "engine/recovery_parse.h"

namespace selvane {

// The partition at an absolute sector of drive N. Professional mode always gives
// the deep scan; Fast mode gives the deleted-file engine of the file system, an
// empty engine for ext, and none for an unknown volume. An engine whose opening
// failed is still returned; its Scan reports the error.
std::unique_ptr<IFileRecoveryParse> CreateRecoveryForDisk(int32_t driveNumber, uint64_t firstSector,
                                                          uint64_t sectorCount, uint16_t sourceId, ScanMode mode);

// The same for a raw image file (volume at byte 0).
std::unique_ptr<IFileRecoveryParse> CreateRecoveryForImage(const std::string& imagePath, uint16_t imageNumber,
                                                           ScanMode mode);

// The engine for a classified volume, not yet opened; none when the mode has no
// engine for that kind.
std::unique_ptr<IFileRecoveryParse> MakeEngine(FileSystemKind kind, ScanMode mode);

}  // namespace selvane
