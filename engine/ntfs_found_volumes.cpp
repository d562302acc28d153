#include "engine/ntfs_found_volumes.h"

#include <algorithm>
#include <limits>

namespace selvane {
namespace {

constexpr uint64_t kNoPosition = std::numeric_limits<uint64_t>::max();

bool IsRecordSize(uint32_t recordSize, uint32_t bytesPerSector) {
  return recordSize >= 512 && recordSize <= 4096 && (recordSize & (recordSize - 1)) == 0 &&
         recordSize % bytesPerSector == 0;
}

}  // namespace

void NtfsFoundVolumes::Reset(const DiskDevice* device, uint32_t bytesPerSector, uint64_t assumedPartitionStart) {
  device_ = device;
  bytesPerSector_ = bytesPerSector;
  assumedPartitionStart_ = assumedPartitionStart;
  volumes_.clear();
  known_.clear();
  byId_.clear();
}

FoundNtfsVolume& NtfsFoundVolumes::Insert(Key key) {
  auto [it, added] = volumes_.try_emplace(key);
  FoundNtfsVolume& v = it->second;
  if (added) {
    v.id = static_cast<uint32_t>(byId_.size());
    byId_.push_back(key);
    v.partitionStart = assumedPartitionStart_;
    v.mft.device = device_;
    v.mft.bytesPerSector = bytesPerSector_;
    v.mft.recordSize = key.second;
    v.mft.sectorsPerRecord = key.second / bytesPerSector_;
    v.mft.sectorsPerCluster = 1;
    v.mft.emptyRunMeansContiguous = true;
    if (key.first != kNoPosition) {
      v.mft.partitionFirstSector = key.first;
      v.mft.mftFirstSector = key.first;
      v.mft.mftRuns.push_back(MftRun{});  // contiguous from key.first
    }
  }
  return v;
}

bool NtfsFoundVolumes::AddMft(uint64_t mftSector, std::span<const MftRun> runs, uint32_t sectorsPerCluster,
                              uint32_t recordSize) {
  if (runs.empty() || runs.front().sparse || runs.front().lcnDelta <= 0 || sectorsPerCluster == 0 ||
      !IsRecordSize(recordSize, bytesPerSector_) || mftSector == kNoPosition)
    return false;
  const uint64_t firstCluster = static_cast<uint64_t>(runs.front().lcnDelta);
  uint64_t offset = 0;
  if (__builtin_mul_overflow(firstCluster, sectorsPerCluster, &offset) || offset > mftSector) return false;
  const Key key{mftSector, recordSize};
  FoundNtfsVolume& v = Insert(key);
  v.mftKnown = true;
  v.partitionStart = mftSector - offset;
  v.sectorsPerCluster = sectorsPerCluster;
  v.mft.partitionFirstSector = v.partitionStart;
  v.mft.mftFirstSector = mftSector;
  v.mft.sectorsPerCluster = sectorsPerCluster;
  v.mft.mftRuns.assign(runs.begin(), runs.end());
  v.mft.emptyRunMeansContiguous = false;
  if (!std::binary_search(known_.begin(), known_.end(), key))
    known_.insert(std::upper_bound(known_.begin(), known_.end(), key), key);
  return true;
}

const FoundNtfsVolume& NtfsFoundVolumes::Locate(uint64_t recordNumber, uint64_t sector, uint32_t recordSize) {
  const uint64_t sectorsPerRecord = recordSize / bytesPerSector_;
  uint64_t target = 0;
  const bool fits = !__builtin_mul_overflow(recordNumber, sectorsPerRecord, &target);
  if (fits) {
    for (const Key& key : known_) {
      if (key.second != recordSize) continue;
      const FoundNtfsVolume& v = volumes_.at(key);
      uint64_t absolute = 0, contiguous = 0;
      if (MapMftSector(v.mft, target, absolute, contiguous) && absolute == sector) return v;
    }
  }
  return Insert({fits && target <= sector ? sector - target : kNoPosition, recordSize});
}

const FoundNtfsVolume* NtfsFoundVolumes::ById(uint32_t id) const {
  return id < byId_.size() ? &volumes_.at(byId_[id]) : nullptr;
}

std::vector<const FoundNtfsVolume*> NtfsFoundVolumes::KnownMfts() const {
  std::vector<const FoundNtfsVolume*> out;
  for (const Key& key : known_) out.push_back(&volumes_.at(key));
  return out;
}

}  // namespace selvane
