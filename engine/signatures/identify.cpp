#include "engine/signatures/identify.h"

#include <cstdio>

#include "engine/signatures/content_match.h"
#include "engine/signatures/signature_table.h"

namespace selvane {

ResultCode IdentifyCarvedFile(CarveContext& context, const SectorSource& source, std::span<const uint8_t> sector,
                              uint64_t startSector, const CarveProgress& progress, CarvedFile& out) {
  context.source = &source;
  context.sectorSize = source.SectorSize();
  context.candidateStart = startSector;
  context.sectorUnderTest = startSector;
  context.progress = progress;

  const ByteReader reader(sector);
  const CarveType type = DetectFileStart(reader, context);
  // The flags describe this attempt for the next one (and for the size rule).
  context.tsCheck = true;
  context.mtsActive = false;
  const SignatureRow* row = FirstRowOfType(type);
  if (row == nullptr || row->measure == nullptr) return kInvalidParameter;
  if (type != CarveType::kTransportStream) context.tsCheck = false;
  if (type == CarveType::kBdavStream) context.mtsActive = true;

  out = CarvedFile{};
  std::snprintf(out.name.data(), out.name.size(), "%lld.%.*s", static_cast<long long>(startSector),
                static_cast<int>(row->extension.size()), row->extension.data());
  out.type = type;
  context.cancelResult = 0;
  out.length = row->measure(reader, context);
  return context.cancelResult == kScanStopCode ? kScanStopCode : kSuccess;
}

bool ContentMatchesExtension(CarveContext& context, const SectorSource& source, std::span<const uint8_t> sector,
                             std::string_view extension, uint64_t startSector) {
  const SignatureRow* row = FindRowByExtension(extension);
  if (row == nullptr) return true;
  context.source = &source;
  context.sectorSize = source.SectorSize();
  context.candidateStart = startSector;
  context.sectorUnderTest = startSector;
  context.tsCheck = false;
  return row->detector->detect(ByteReader(sector), context) == row->type;
}

bool ContentMatchesExtension(std::span<const uint8_t> sectorData, std::string_view extension,
                             const DiskDevice& device, uint32_t sectorSize, uint64_t startSector) {
  // A context of its own: a file system engine's check neither sees nor
  // changes the state of a carving scan.
  CarveContext context;
  const DeviceSectorSource source(device, sectorSize);
  return ContentMatchesExtension(context, source, sectorData, extension, startSector);
}

}  // namespace selvane
