#include "storage/image_copy.h"

#include <algorithm>
#include <chrono>
#include <memory>
#include <new>

#include "recovery/output_files.h"
#include "storage/image_destination.h"

namespace selvane {
namespace {

constexpr size_t kChunkBytes = 65536;
constexpr uint64_t kEstimateIntervalMs = 5000;

uint64_t SteadyMs() {
  return static_cast<uint64_t>(
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
          .count());
}

void CloseJob(ImageCopyJob& job) {
  job.drive = DiskDevice{};
  job.image.Close();
}

}  // namespace

ResultCode ReadWholeSectors(uint32_t sectorCount, const FileHandle& handle, uint64_t offset, void* buffer,
                            uint32_t sectorSize, uint32_t& sectorsRead) {
  sectorsRead = 0;
  const uint64_t total = uint64_t{sectorCount} * sectorSize;
  auto* out = static_cast<uint8_t*>(buffer);
  uint64_t done = 0;
  ResultCode rc = kSuccess;
  while (done < total) {
    const size_t ask = static_cast<size_t>(std::min<uint64_t>(total - done, kChunkBytes));
    const ssize_t n = handle.ReadAt(out + done, ask, offset + done);
    if (n <= 0) {
      rc = kReadFault;
      break;
    }
    done += static_cast<uint64_t>(n);
  }
  if (sectorSize) sectorsRead = static_cast<uint32_t>(done / sectorSize);
  return rc;
}

ResultCode WriteWholeSectors(const FileHandle& handle, const void* buffer, uint32_t sectorCount, uint32_t sectorSize,
                             uint32_t& sectorsWritten) {
  sectorsWritten = 0;
  const uint64_t total = uint64_t{sectorCount} * sectorSize;
  const auto* in = static_cast<const uint8_t*>(buffer);
  uint64_t done = 0;
  ResultCode rc = kSuccess;
  while (done < total) {
    const ssize_t n = handle.Write(in + done, static_cast<size_t>(total - done));
    if (n < 0) {
      rc = LastResult(true);
      break;
    }
    if (n == 0) {  // no progress and no error: give up rather than spin
      rc = kWriteFault;
      break;
    }
    done += static_cast<uint64_t>(n);
  }
  if (sectorSize) sectorsWritten = static_cast<uint32_t>(done / sectorSize);
  return rc;
}

ResultCode OpenImageCopy(ImageCopyJob& job, int32_t driveNumber, uint64_t firstSector, uint64_t sectorCount,
                         const std::string& imagePath, ImageProgressCallback progress) {
  CloseJob(job);
  job.sectorSize = 512;
  job.firstSector = firstSector;
  job.sectorCount = sectorCount;
  job.progress = std::move(progress);
  job.sectorsCopied = 0;
  job.sectorsSkipped = 0;
  job.firstSkipped = 0;

  if (ResultCode rc = OpenPhysicalDrive(driveNumber, job.drive); rc != kSuccess) return rc;
  job.sectorSize = static_cast<int32_t>(GetDriveSectorSize(job.drive));
  if (job.sectorCount == 0) job.sectorCount = job.drive.totalSectors;
  if (CheckImageDestination(driveNumber, imagePath).conflict == DestinationConflict::SameStorage)
    return kInvalidParameter;
  if (ResultCode rc = CreateOutputFile(imagePath, job.image); rc != kSuccess) return rc;
  // An older file of the same name must not keep a tail beyond the new copy.
  return job.image.Truncate(0);
}

ResultCode CopyDiskToImage(ImageCopyJob& job, int32_t driveNumber, uint64_t firstSector, uint64_t sectorCount,
                           const std::string& imagePath, ImageProgressCallback progress) {
  auto clock = job.clockMs ? job.clockMs : std::function<uint64_t()>(SteadyMs);
  const uint64_t start = clock();
  uint64_t lastEstimate = start;
  int32_t secondsLeft = -1;

  ResultCode result = OpenImageCopy(job, driveNumber, firstSector, sectorCount, imagePath, std::move(progress));
  if (result != kSuccess) {
    CloseJob(job);
    return result;
  }
  const uint32_t sectorSize = static_cast<uint32_t>(job.sectorSize);
  // Whole sectors per chunk, at least one even for sectors larger than a chunk.
  const size_t chunkBytes = std::max<size_t>(kChunkBytes / sectorSize, 1) * sectorSize;
  std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[chunkBytes]);
  if (!buffer) {
    CloseJob(job);
    return kNotEnoughMemory;
  }

  const uint64_t total = job.sectorCount * sectorSize;
  uint64_t remaining = total;
  uint64_t done = 0;
  while (remaining != 0) {
    const uint64_t chunk = std::min<uint64_t>(remaining, chunkBytes);
    const uint32_t chunkSectors = static_cast<uint32_t>(chunk / sectorSize);
    const uint64_t offset = (job.firstSector + done / sectorSize) * sectorSize;
    uint32_t sectorsRead = 0;
    ResultCode readResult =
        ReadWholeSectors(chunkSectors, job.drive.handle, offset, buffer.get(), sectorSize, sectorsRead);
    if (readResult != kSuccess && job.skipBad) {
      // Sector by sector through the rest of the chunk; a bad one becomes zeros.
      for (uint32_t i = sectorsRead; i < chunkSectors; ++i) {
        uint8_t* sector = buffer.get() + uint64_t{i} * sectorSize;
        uint32_t one = 0;
        if (ReadWholeSectors(1, job.drive.handle, offset + uint64_t{i} * sectorSize, sector, sectorSize, one) !=
            kSuccess) {
          std::fill(sector, sector + sectorSize, uint8_t{0});
          if (job.sectorsSkipped++ == 0) job.firstSkipped = job.firstSector + done / sectorSize + i;
        }
      }
      sectorsRead = chunkSectors;
      readResult = kSuccess;
    }
    // The whole sectors a failing chunk still delivered are kept in the image.
    uint32_t sectorsWritten = 0;
    if (sectorsRead != 0) result = WriteWholeSectors(job.image, buffer.get(), sectorsRead, sectorSize, sectorsWritten);
    job.sectorsCopied += sectorsWritten;
    if (result != kSuccess) break;
    if (readResult != kSuccess) {
      result = kReadFault;
      break;
    }
    const uint64_t bytes = uint64_t{sectorsRead} * sectorSize;
    remaining -= bytes;
    done += bytes;

    const uint64_t now = clock();
    if (now - lastEstimate >= kEstimateIntervalMs) {
      const uint64_t elapsed = (now - start) / 1000;
      uint64_t speed = elapsed ? done / elapsed : 1;
      if (speed == 0) speed = 1;
      secondsLeft = static_cast<int32_t>(std::min<uint64_t>((total - done) / speed, INT32_MAX));
      lastEstimate = now;
    }
    if (job.progress) {
      const int32_t percent = static_cast<int32_t>(done * 100 / total);
      if (int32_t stop = job.progress(percent, done / sectorSize, total / sectorSize, secondsLeft); stop != 0) {
        result = stop;
        break;
      }
    }
  }
  if (job.image.IsOpen()) {
    // The image must be on its medium before the copy is called done.
    ResultCode synced = job.image.Sync();
    if (result == kSuccess) result = synced;
  }
  CloseJob(job);
  return result;
}

}  // namespace selvane
