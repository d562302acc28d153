#include "engine/ntfs_file_data.h"

#include <algorithm>
#include <limits>

namespace selvane {
namespace {

constexpr size_t kDataChunk = 65536;

uint64_t SaturatingMul(uint64_t a, uint64_t b) {
  uint64_t product = 0;
  return __builtin_mul_overflow(a, b, &product) ? std::numeric_limits<uint64_t>::max() : product;
}

}  // namespace

ResultCode CopyNtfsFileData(const NtfsVolumeAccess& volume, std::span<const uint8_t> record, uint64_t partitionStart,
                            uint64_t fileSize, uint64_t maxBytes, const NtfsDataSink& sink,
                            const NtfsDataProgress& progress, bool& stopped, std::vector<uint8_t>& buffer) {
  stopped = false;
  std::span<const uint8_t> resident;
  ResultCode rc = ResidentDataOf(record, resident);
  if (rc == kSuccess) return sink(resident.first(std::min<uint64_t>({fileSize, resident.size(), maxBytes})));
  if (rc != kNtfsNotResident) return rc;

  AttributeRuns runs;
  if (rc = CollectAttributeRuns(volume, record, kAttrData, runs); rc != kSuccess) return rc;
  if (runs.flags & kAttrFlagCompressed) return kNotSupported;
  const uint64_t size = std::min(fileSize, maxBytes);
  if (size == 0) return kSuccess;
  const uint64_t initialized = std::min(runs.initializedSize, fileSize);
  const uint32_t bps = volume.bytesPerSector;
  const uint64_t clusterBytes = uint64_t{bps} * volume.sectorsPerCluster;
  buffer.resize(kDataChunk);

  uint64_t position = 0;
  ExtentWalker walker(runs.runs);
  ClusterExtent extent;
  while (position < size && walker.Next(extent)) {
    const uint64_t extentBytes = SaturatingMul(extent.clusterCount, clusterBytes);
    const uint64_t firstSector = partitionStart + SaturatingMul(extent.firstCluster, volume.sectorsPerCluster);
    for (uint64_t offset = 0; offset < extentBytes && position < size;) {
      const size_t piece = static_cast<size_t>(std::min<uint64_t>({kDataChunk, extentBytes - offset, size - position}));
      if (extent.sparse || position >= initialized) {
        std::fill_n(buffer.begin(), piece, 0);
      } else {
        const uint32_t sectors = static_cast<uint32_t>((piece + bps - 1) / bps);
        uint32_t read = 0;
        rc = ReadSectors(static_cast<int32_t>(sectors), *volume.device, buffer.data(), firstSector + offset / bps, bps,
                         read);
        if (rc != kSuccess) return read == 0 ? kReadFault : rc;
        if (initialized < position + piece)  // the tail past the initialised size reads as zeros
          std::fill(buffer.begin() + static_cast<ptrdiff_t>(initialized - position),
                    buffer.begin() + static_cast<ptrdiff_t>(piece), 0);
      }
      if (rc = sink(std::span<const uint8_t>(buffer).first(piece)); rc != kSuccess) return rc;
      position += piece;
      offset += piece;
      if (progress && position < size) {
        const int32_t percent = static_cast<int32_t>(std::min<uint64_t>(99, position * 100 / size));
        if (int32_t stop = progress(percent); stop != 0) {
          stopped = true;
          return stop;
        }
      }
    }
  }
  return position < size ? kHandleEof : kSuccess;
}

}  // namespace selvane
