// Builders of synthetic NTFS structures for tests: single MFT records with the
// attributes a test needs, and small volume images made of a boot sector, an
// MFT and data clusters. Real volumes come from the fixture images; these are
// for the corners a real volume cannot show.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace selvane::test {

struct FileNameSpec {
  uint32_t parent = 5;
  uint16_t parentSequence = 1;
  std::u16string name;
  uint8_t nameSpace = 1;  // Win32
  uint64_t realSize = 0;
  uint64_t creationTime = 0;
  uint64_t writeTime = 0;
  uint64_t accessTime = 0;
};

// One run for a mapping-pairs array: a sparse run has no cluster.
struct RunSpec {
  uint64_t clusters = 0;
  int64_t delta = 0;
  bool sparse = false;
};

// Encodes runs as a mapping-pairs array with its terminating 0, each field in
// the fewest bytes.
std::vector<uint8_t> EncodeRuns(const std::vector<RunSpec>& runs);

class MftRecordBuilder {
 public:
  explicit MftRecordBuilder(uint32_t number, uint16_t flags, uint32_t recordSize = 1024);

  MftRecordBuilder& FileName(const FileNameSpec& spec);
  MftRecordBuilder& ResidentData(const std::vector<uint8_t>& value, const std::u16string& name = u"");
  MftRecordBuilder& NonResidentData(const std::vector<RunSpec>& runs, uint64_t realSize, uint64_t lowestVcn = 0,
                                    uint32_t type = 0x80, const std::u16string& name = u"", uint16_t flags = 0);
  // A resident $ATTRIBUTE_LIST holding the given raw entries.
  MftRecordBuilder& AttributeList(const std::vector<uint8_t>& entries);
  // Any attribute given as raw bytes (its length field is set from the size).
  MftRecordBuilder& Raw(uint32_t type, std::vector<uint8_t> attribute);
  MftRecordBuilder& BaseRecord(uint64_t base);
  MftRecordBuilder& SequenceNumber(uint16_t sequence);

  // The record as stored on disk: stride ends protected by the update sequence.
  std::vector<uint8_t> Build() const;
  // The record as it reads once repaired.
  std::vector<uint8_t> BuildPlain() const;

 private:
  void Append(std::vector<uint8_t> attribute);
  uint32_t number_;
  uint16_t flags_;
  uint32_t recordSize_;
  uint64_t base_ = 0;
  uint16_t sequence_ = 1;
  uint16_t attributeId_ = 0;
  std::vector<std::vector<uint8_t>> attributes_;
};

// One entry of an $ATTRIBUTE_LIST.
std::vector<uint8_t> AttributeListEntry(uint32_t type, uint64_t startVcn, uint64_t record,
                                        const std::u16string& name = u"");

// A small NTFS volume image: boot sector, a contiguous MFT (records given by
// number, others left zero) and data written at chosen clusters.
class NtfsImageBuilder {
 public:
  NtfsImageBuilder(uint32_t bytesPerSector, uint32_t sectorsPerCluster, uint64_t totalClusters, uint64_t mftCluster,
                   uint32_t mftRecords, uint32_t recordSize = 0);

  uint32_t recordSize() const { return recordSize_; }
  uint32_t clusterBytes() const { return bytesPerSector_ * sectorsPerCluster_; }
  // Stores a record (already protected) at its number.
  void PutRecord(uint32_t number, const std::vector<uint8_t>& record);
  void PutData(uint64_t cluster, const std::vector<uint8_t>& bytes);
  // Record 0 ($MFT) describing the MFT's clusters, unless a test replaced it.
  void PutStandardMftRecord();
  void WriteTo(const std::string& path) const;
  std::vector<uint8_t>& bytes() { return image_; }

 private:
  uint32_t bytesPerSector_, sectorsPerCluster_, recordSize_;
  uint64_t mftCluster_;
  uint32_t mftRecords_;
  std::vector<uint8_t> image_;
};

}  // namespace selvane::test
