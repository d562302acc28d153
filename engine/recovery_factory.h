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

// The engine of an earlier scan of a partition or an image, reopened on the
// logs that scan wrote into `folder` (a scan folder below the ScanLog root),
// without scanning and without looking into or changing the scan history. In
// Fast mode that is the deleted-file engine of the volume's file system, in
// Professional mode the deep scan. None when the source cannot be read or
// holds no file system of a fast engine; `result` tells why.
std::unique_ptr<IFileRecoveryParse> ReopenScanOfDisk(int32_t driveNumber, uint64_t firstSector, uint64_t sectorCount,
                                                     uint16_t sourceId, ScanMode mode, const std::string& folder,
                                                     ResultCode& result);
std::unique_ptr<IFileRecoveryParse> ReopenScanOfImage(const std::string& imagePath, uint16_t imageNumber,
                                                      ScanMode mode, const std::string& folder, ResultCode& result);

// The engine for a classified volume, not yet opened; none when the mode has no
// engine for that kind.
std::unique_ptr<IFileRecoveryParse> MakeEngine(FileSystemKind kind, ScanMode mode);

}  // namespace selvane
