// NTFS on-disk structures parsed from bytes: the boot sector geometry, MFT
// records (update sequence repair, attribute walk, $FILE_NAME, $DATA) and run
// lists. Everything here is a pure function over a byte span and does no I/O;
// every field is read through ByteReader, so a damaged record can only be
// refused, never read outside its buffer.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "engine/byte_reader.h"
#include "platform/result_codes.h"

namespace selvane {

// Results the NTFS record routines use among themselves.
inline constexpr ResultCode kNtfsNotFileRecord = -1;
inline constexpr ResultCode kNtfsAttributeNotFound = -100;
inline constexpr ResultCode kNtfsNotResident = -101;

inline constexpr uint32_t kNtfsRootRecord = 5;
inline constexpr uint32_t kNtfsLastMetadataRecord = 11;  // records 0-11 are the file system's own
inline constexpr uint32_t kNtfsBitmapRecord = 6;
// The update sequence protects every 512 bytes of a record, whatever the sector size.
inline constexpr uint32_t kFixupStride = 512;

enum NtfsAttributeType : uint32_t {
  kAttrStandardInformation = 0x10,
  kAttrAttributeList = 0x20,
  kAttrFileName = 0x30,
  kAttrData = 0x80,
  kAttrIndexAllocation = 0xA0,
  kAttrEnd = 0xFFFFFFFF,
};

inline constexpr uint16_t kMftRecordInUse = 0x0001;
inline constexpr uint16_t kMftRecordDirectory = 0x0002;

inline constexpr uint8_t kFileNamePosix = 0;
inline constexpr uint8_t kFileNameWin32 = 1;
inline constexpr uint8_t kFileNameDos = 2;

inline constexpr uint16_t kAttrFlagCompressed = 0x00FF;
inline constexpr uint16_t kAttrFlagEncrypted = 0x4000;

// Volume geometry from the boot sector.
struct NtfsGeometry {
  uint32_t bytesPerSector = 512;
  uint32_t sectorsPerCluster = 1;
  uint64_t mftCluster = 0;
  uint64_t totalSectors = 0;
  uint32_t recordSize = 1024;
  uint32_t sectorsPerRecord = 2;
};

// Reads the geometry of an NTFS boot sector. The record size comes from the
// boot sector's clusters-per-record field when it gives 1 KiB to 4 KiB records
// that are whole sectors; otherwise it is 1,024 bytes on 512-byte sectors and
// one sector on larger ones. False when the sector or cluster size is not one
// this program reads (sectors of 512 to 4,096 bytes, 1 to 64 sectors a cluster).
bool ReadNtfsGeometry(std::span<const uint8_t> bootSector, NtfsGeometry& out);

// One run of a decoded run list. A run's first cluster is the sum of the
// lcnDelta values up to and including it. A sparse run has no clusters on disk
// (it reads as zeros) and carries lcnDelta 0, so it does not move that sum.
struct MftRun {
  uint64_t clusterCount = 0;
  int64_t lcnDelta = 0;
  bool sparse = false;
};

// A run with its absolute first cluster.
struct ClusterExtent {
  uint64_t firstCluster = 0;
  uint64_t clusterCount = 0;
  bool sparse = false;
};

// Walks runs in order, giving each with its absolute first cluster. Stops at
// the end, or at a run whose first cluster would lie before cluster 0.
class ExtentWalker {
 public:
  explicit ExtentWalker(std::span<const MftRun> runs) : runs_(runs) {}
  bool Next(ClusterExtent& out);
  // True when the walk stopped at an impossible run rather than at the end.
  bool damaged() const { return damaged_; }

 private:
  std::span<const MftRun> runs_;
  size_t index_ = 0;
  int64_t lcn_ = 0;
  bool damaged_ = false;
};

// Decodes the mapping pairs of a non-resident attribute (the whole attribute,
// header included) and appends its runs. Returns true when the list ended with
// its terminating 0 inside the attribute; false when it was cut short by a
// field outside the attribute or an impossible header (runs decoded up to that
// point stay appended).
bool DecodeRunList(const ByteReader& attribute, std::vector<MftRun>& out);

// Appends the runs of one extent of an attribute to runs merged from earlier
// extents. Each extent's run list counts its clusters from 0 again, so its
// deltas are rebased on `lastCluster`, the absolute first cluster of the last
// run with clusters appended so far (0 before the first). False when a run
// would lie before cluster 0.
bool AppendExtentRuns(std::span<const MftRun> extent, std::vector<MftRun>& merged, int64_t& lastCluster);

// Total clusters of a run list.
uint64_t RunClusters(std::span<const MftRun> runs);

// Writes the update sequence array back into the end of every 512-byte stride
// of a record. False (and the record untouched) when the array does not fit the
// record's size: such a record is damaged.
bool ApplyFixups(std::span<uint8_t> record);

// One attribute of a record, bounds-checked by the walker.
struct NtfsAttribute {
  uint32_t type = 0;
  uint32_t offset = 0;  // in the record
  ByteReader bytes;     // exactly the attribute's length
  bool nonResident = false;

  std::span<const uint8_t> Name() const;  // UTF-16LE bytes
  // Resident value (empty for a non-resident attribute).
  std::span<const uint8_t> Value() const;
  // Non-resident fields (0 for a resident attribute).
  uint64_t LowestVcn() const { return nonResident ? bytes.U64(0x10) : 0; }
  uint64_t HighestVcn() const { return nonResident ? bytes.U64(0x18) : 0; }
  uint64_t AllocatedSize() const { return nonResident ? bytes.U64(0x28) : 0; }
  uint64_t RealSize() const { return nonResident ? bytes.U64(0x30) : Value().size(); }
  uint64_t InitializedSize() const { return nonResident ? bytes.U64(0x38) : Value().size(); }
  uint16_t Flags() const { return bytes.U16(0x0C); }
};

// A view of one MFT record whose update sequence has been applied.
class MftRecordView {
 public:
  explicit MftRecordView(std::span<const uint8_t> record) : record_(record) {}
  bool IsFile() const { return record_.Equals(0, "FILE"); }
  uint16_t Flags() const { return record_.U16(0x16); }
  bool InUse() const { return (Flags() & kMftRecordInUse) != 0; }
  bool IsDirectory() const { return (Flags() & kMftRecordDirectory) != 0; }
  // The record's own number (header 0x2C), when the header has that field.
  bool HasRecordNumber() const { return record_.U16(0x04) >= 0x30; }
  uint32_t RecordNumber() const { return record_.U32(0x2C); }
  // Record number of the base record; 0 for a base record.
  uint64_t BaseRecord() const { return record_.U64(0x20) & 0xFFFFFFFFFFFFull; }
  std::span<const uint8_t> bytes() const { return record_.bytes(); }

 private:
  ByteReader record_;
};

// Walks the attributes of a record from its first-attribute offset up to its
// bytes in use. The walk ends at an end marker (type 0, 0xFFFFFFFF or from
// 0xFDFDFDFD on) or a length of 0. An attribute that does not lie inside the
// bytes in use, whose length is too short for its header, or whose name or
// resident value leaves it, ends the walk as damaged; so does a header whose
// bytes in use or first-attribute offset lie outside the record.
class AttributeWalker {
 public:
  explicit AttributeWalker(std::span<const uint8_t> record);
  bool Next(NtfsAttribute& out);
  bool damaged() const { return damaged_; }

 private:
  ByteReader record_;
  uint32_t position_ = 0;
  uint32_t limit_ = 0;
  bool done_ = false;
  bool damaged_ = false;
};

// The fields of a $FILE_NAME value that the engines use.
struct MftFileName {
  uint32_t parentRecord = 0;  // low 32 bits of the parent reference
  uint16_t parentSequence = 0;
  uint64_t creationTime = 0;
  uint64_t writeTime = 0;
  uint64_t accessTime = 0;
  uint64_t realSize = 0;
  uint8_t nameSpace = 0;
  std::span<const uint8_t> name;  // UTF-16LE, inside the record
};

// Parses a $FILE_NAME value; false when it is too short for its name.
bool ReadFileNameValue(std::span<const uint8_t> value, MftFileName& out);

// The unnamed $DATA attribute of a record, as far as one record tells it.
struct MftDataInfo {
  bool present = false;
  bool resident = false;
  uint32_t attributeOffset = 0;
  std::span<const uint8_t> residentValue;
  uint64_t realSize = 0;
  uint64_t initializedSize = 0;
  uint64_t lowestVcn = 0;
  uint16_t flags = 0;
};

// What a scan needs of one record.
struct MftFileSummary {
  uint16_t flags = 0;
  bool hasFileName = false;
  // The first $FILE_NAME; its name is replaced by that of a later Win32 one.
  MftFileName fileName;
  MftDataInfo data;  // the first unnamed $DATA
  bool hasAttributeList = false;
};

enum class RecordParse { Ok, NotFile, Damaged };

// Summarises a record whose update sequence has been applied.
RecordParse SummarizeFileRecord(std::span<const uint8_t> record, MftFileSummary& out);

// The parent of a folder record: its first $FILE_NAME. False when the record has none.
bool FirstFileName(std::span<const uint8_t> record, MftFileName& out);

// The resident value of a record's unnamed $DATA: 0, kNtfsNotResident when it is
// non-resident, missing, or the record is not a "FILE" record, 87 when the record
// is damaged before it.
ResultCode ResidentDataOf(std::span<const uint8_t> record, std::span<const uint8_t>& data);

}  // namespace selvane
