// The NTFS volumes that MFT records found anywhere on a source belong to.
// A volume is named by the sector where record 0 of its MFT lies. Its layout
// is known once its "$MFT" record (or a boot sector) has given the MFT's runs
// and cluster size; until then a record is taken to lie in a contiguous MFT
// that starts where its own number puts record 0, on a volume that starts at
// the scanned partition's first sector.
#pragma once

#include <cstdint>
#include <map>
#include <span>
#include <utility>
#include <vector>

#include "engine/ntfs_volume_access.h"

namespace selvane {

struct FoundNtfsVolume {
  uint32_t id = 0;                 // 0, 1, 2, ... in order of first sight
  bool mftKnown = false;           // runs and cluster size read from its MFT's record 0
  uint64_t partitionStart = 0;     // absolute sector of its cluster 0
  uint32_t sectorsPerCluster = 0;  // 0 while not known
  // Locates the volume's MFT records (MftRecordSector, ReadMftRecordByNumber).
  // With an unknown layout it holds one run of 0 clusters: a contiguous MFT.
  // A volume without any MFT position (a record whose number puts record 0
  // before the start of the source) has no runs, so none of its records is found.
  NtfsVolumeAccess mft;
};

class NtfsFoundVolumes {
 public:
  // Forgets every volume. Records are read through `device` in sectors of
  // bytesPerSector; a volume of unknown layout is assumed to start at
  // assumedPartitionStart.
  void Reset(const DiskDevice* device, uint32_t bytesPerSector, uint64_t assumedPartitionStart);

  // Records the MFT whose record 0 ("$MFT") lies at mftSector, with the runs
  // of its $DATA, its cluster size and its record size: the volume starts
  // where the first run's cluster, counted back from mftSector, puts cluster 0.
  // A volume already named by that sector takes the layout (keeping its id).
  // False, and nothing changes, when the runs cannot describe an MFT there
  // (no runs, a first run that is sparse, at cluster 0 or before the start of
  // the source), or the sizes are not usable.
  bool AddMft(uint64_t mftSector, std::span<const MftRun> runs, uint32_t sectorsPerCluster, uint32_t recordSize);

  // The volume that record `recordNumber`, found at `sector` with `recordSize`
  // bytes, belongs to: the first known MFT (by ascending sector) whose runs put
  // that record exactly there, else the volume of a contiguous MFT holding it
  // (made on first sight).
  const FoundNtfsVolume& Locate(uint64_t recordNumber, uint64_t sector, uint32_t recordSize);

  // The known MFTs by ascending sector of record 0.
  std::vector<const FoundNtfsVolume*> KnownMfts() const;
  // The volume with this id; nullptr when there is none.
  const FoundNtfsVolume* ById(uint32_t id) const;
  size_t size() const { return volumes_.size(); }

 private:
  using Key = std::pair<uint64_t, uint32_t>;  // (sector of record 0, record size)
  FoundNtfsVolume& Insert(Key key);

  const DiskDevice* device_ = nullptr;
  uint32_t bytesPerSector_ = 512;
  uint64_t assumedPartitionStart_ = 0;
  std::map<Key, FoundNtfsVolume> volumes_;
  std::vector<Key> known_;  // ascending
  std::vector<Key> byId_;
};

}  // namespace selvane
