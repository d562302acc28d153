// Whether the first sector of a file still looks like its extension says.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "engine/signatures/carve_context.h"
#include "storage/disk_device.h"

namespace selvane {

// True when the sector data (the first sector of a file, at startSector of
// `device`, in sectors of sectorSize bytes) is recognised as the type the
// extension names, or when the extension is not one the signature table knows
// (such as "txt"). The device serves look-ahead for formats that need more
// than one sector.
bool ContentMatchesExtension(std::span<const uint8_t> sectorData, std::string_view extension,
                             const DiskDevice& device, uint32_t sectorSize, uint64_t startSector);

// The same check with a given context and source; it clears the context's
// transport-stream continuation check, as a file's own first sector needs none.
bool ContentMatchesExtension(CarveContext& context, const SectorSource& source, std::span<const uint8_t> sector,
                             std::string_view extension, uint64_t startSector);

}  // namespace selvane
