// Reading MFT records and attribute runs of one NTFS volume through a
// DiskDevice: locating a record by number, reading and repairing it, and
// gathering the runs of an attribute, following an $ATTRIBUTE_LIST into
// extension records.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "engine/ntfs_record.h"
#include "storage/disk_device.h"

namespace selvane {

// The values of a volume that the record routines read.
struct NtfsVolumeAccess {
  const DiskDevice* device = nullptr;
  uint64_t partitionFirstSector = 0;  // absolute sector of cluster 0
  uint32_t bytesPerSector = 512;
  uint32_t sectorsPerRecord = 2;
  uint32_t recordSize = 1024;
  uint32_t sectorsPerCluster = 1;
  uint64_t mftFirstSector = 0;
  std::vector<MftRun> mftRuns;  // the MFT's own runs
  // Formatted volumes: a run list of one run of 0 clusters stands for a
  // contiguous MFT that starts at that run's cluster.
  bool emptyRunMeansContiguous = false;
};

// Maps a sector counted from the start of the MFT to its absolute sector, with
// the number of sectors that follow it contiguously in the same run. False when
// no run holds it.
bool MapMftSector(const NtfsVolumeAccess& volume, uint64_t mftSector, uint64_t& absolute, uint64_t& contiguous);

// The absolute sector where record n begins; partitionFirstSector (the boot
// sector, which is no "FILE" record) when no run holds it.
uint64_t MftRecordSector(const NtfsVolumeAccess& volume, uint64_t recordNumber);

// Reads the record that starts at an absolute sector into `record`
// (recordSize bytes). Returns the read's result.
ResultCode ReadMftRecord(const NtfsVolumeAccess& volume, uint64_t sector, std::span<uint8_t> record);

// Reads record n into `record` (recordSize bytes), following the MFT's runs
// sector by sector where a record crosses from one run into the next.
// kNtfsNotFileRecord when no run holds it.
ResultCode ReadMftRecordByNumber(const NtfsVolumeAccess& volume, uint64_t recordNumber, std::span<uint8_t> record);

// The runs of one attribute of a file, with the sizes of its first extent.
struct AttributeRuns {
  std::vector<MftRun> runs;
  uint64_t realSize = 0;
  uint64_t initializedSize = 0;
  uint16_t flags = 0;
  // True when every extent was found and decoded: the runs cover the whole
  // attribute. False when the run list was damaged or an extension record is
  // missing, reused or unreadable (the runs found before that stay).
  bool complete = false;
};

// Gathers the runs of the first attribute of `type` (for $DATA the unnamed one)
// of a base record whose update sequence has been applied. When the record has
// an $ATTRIBUTE_LIST (resident or not), the extents are followed through it into
// the extension records in the list's order; otherwise the attribute in the
// base record is decoded. Returns 0, or kNtfsAttributeNotFound.
ResultCode CollectAttributeRuns(const NtfsVolumeAccess& volume, std::span<const uint8_t> baseRecord, uint32_t type,
                                AttributeRuns& out);

// Reads the record at `sector` and appends the runs of its attribute of `type`:
// 0, kNtfsNotFileRecord (not a "FILE" record, or damaged), kNtfsAttributeNotFound,
// or the read's error.
ResultCode GetAttributeRuns(const NtfsVolumeAccess& volume, uint64_t sector, uint32_t type, std::vector<MftRun>& out);

// Reads the record at `sector` into `record` (recordSize bytes) and gives the
// resident value of its unnamed $DATA as a span into it: 0, kNtfsNotResident
// (not resident, no $DATA, unreadable or not a "FILE" record) or 87 (damaged).
ResultCode ReadResidentData(const NtfsVolumeAccess& volume, uint64_t sector, std::span<uint8_t> record,
                            std::span<const uint8_t>& data);

}  // namespace selvane
