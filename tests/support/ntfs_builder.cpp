#include "support/ntfs_builder.h"

#include <algorithm>
#include <fstream>
#include <stdexcept>

namespace selvane::test {
namespace {

void Put(std::vector<uint8_t>& out, size_t offset, uint64_t value, size_t width) {
  if (out.size() < offset + width) out.resize(offset + width);
  for (size_t i = 0; i < width; ++i) out[offset + i] = static_cast<uint8_t>(value >> (8 * i));
}

size_t Align8(size_t n) { return (n + 7) & ~size_t{7}; }

void PutName(std::vector<uint8_t>& out, size_t offset, const std::u16string& name) {
  for (size_t i = 0; i < name.size(); ++i) Put(out, offset + 2 * i, name[i], 2);
}

size_t UnsignedBytes(uint64_t v) {
  size_t n = 1;
  while (n < 8 && (v >> (8 * n)) != 0) ++n;
  // Keep the top bit clear, as NTFS writes lengths.
  if (n < 8 && ((v >> (8 * n - 1)) & 1)) ++n;
  return n;
}

size_t SignedBytes(int64_t v) {
  for (size_t n = 1; n < 8; ++n) {
    const int64_t lo = -(int64_t{1} << (8 * n - 1));
    const int64_t hi = (int64_t{1} << (8 * n - 1)) - 1;
    if (v >= lo && v <= hi) return n;
  }
  return 8;
}

}  // namespace

std::vector<uint8_t> EncodeRuns(const std::vector<RunSpec>& runs) {
  std::vector<uint8_t> out;
  for (const RunSpec& run : runs) {
    const size_t ls = UnsignedBytes(run.clusters);
    const size_t os = run.sparse ? 0 : SignedBytes(run.delta);
    out.push_back(static_cast<uint8_t>(ls | (os << 4)));
    for (size_t i = 0; i < ls; ++i) out.push_back(static_cast<uint8_t>(run.clusters >> (8 * i)));
    for (size_t i = 0; i < os; ++i) out.push_back(static_cast<uint8_t>(static_cast<uint64_t>(run.delta) >> (8 * i)));
  }
  out.push_back(0);
  return out;
}

MftRecordBuilder::MftRecordBuilder(uint32_t number, uint16_t flags, uint32_t recordSize)
    : number_(number), flags_(flags), recordSize_(recordSize) {}

void MftRecordBuilder::Append(std::vector<uint8_t> attribute) {
  attribute.resize(Align8(attribute.size()));
  Put(attribute, 4, attribute.size(), 4);
  Put(attribute, 0x0E, attributeId_++, 2);
  attributes_.push_back(std::move(attribute));
}

MftRecordBuilder& MftRecordBuilder::FileName(const FileNameSpec& spec) {
  std::vector<uint8_t> value(0x42 + 2 * spec.name.size());
  Put(value, 0x00, spec.parent | (uint64_t{spec.parentSequence} << 48), 8);
  Put(value, 0x08, spec.creationTime, 8);
  Put(value, 0x10, spec.writeTime, 8);
  Put(value, 0x18, spec.writeTime, 8);
  Put(value, 0x20, spec.accessTime, 8);
  Put(value, 0x28, (spec.realSize + 4095) & ~uint64_t{4095}, 8);
  Put(value, 0x30, spec.realSize, 8);
  Put(value, 0x40, spec.name.size(), 1);
  Put(value, 0x41, spec.nameSpace, 1);
  PutName(value, 0x42, spec.name);
  return Raw(0x30, [&] {
    std::vector<uint8_t> a(0x18);
    Put(a, 0x10, value.size(), 4);
    Put(a, 0x14, 0x18, 2);
    a.insert(a.end(), value.begin(), value.end());
    return a;
  }());
}

MftRecordBuilder& MftRecordBuilder::ResidentData(const std::vector<uint8_t>& value, const std::u16string& name) {
  std::vector<uint8_t> a(0x18);
  Put(a, 0x09, name.size(), 1);
  Put(a, 0x0A, 0x18, 2);
  PutName(a, 0x18, name);
  const size_t valueOffset = Align8(0x18 + 2 * name.size());
  a.resize(valueOffset);
  Put(a, 0x10, value.size(), 4);
  Put(a, 0x14, valueOffset, 2);
  a.insert(a.end(), value.begin(), value.end());
  return Raw(0x80, std::move(a));
}

MftRecordBuilder& MftRecordBuilder::NonResidentData(const std::vector<RunSpec>& runs, uint64_t realSize,
                                                    uint64_t lowestVcn, uint32_t type, const std::u16string& name,
                                                    uint16_t flags) {
  uint64_t clusters = 0;
  for (const RunSpec& run : runs) clusters += run.clusters;
  std::vector<uint8_t> a(0x40);
  Put(a, 0x08, 1, 1);
  Put(a, 0x09, name.size(), 1);
  Put(a, 0x0A, 0x40, 2);
  Put(a, 0x0C, flags, 2);
  Put(a, 0x10, lowestVcn, 8);
  Put(a, 0x18, lowestVcn + clusters - 1, 8);
  PutName(a, 0x40, name);
  const size_t pairsOffset = Align8(0x40 + 2 * name.size());
  a.resize(pairsOffset);
  Put(a, 0x20, pairsOffset, 2);
  Put(a, 0x28, lowestVcn == 0 ? realSize : 0, 8);
  Put(a, 0x30, lowestVcn == 0 ? realSize : 0, 8);
  Put(a, 0x38, lowestVcn == 0 ? realSize : 0, 8);
  auto pairs = EncodeRuns(runs);
  a.insert(a.end(), pairs.begin(), pairs.end());
  return Raw(type, std::move(a));
}

MftRecordBuilder& MftRecordBuilder::AttributeList(const std::vector<uint8_t>& entries) {
  std::vector<uint8_t> a(0x18);
  Put(a, 0x10, entries.size(), 4);
  Put(a, 0x14, 0x18, 2);
  a.insert(a.end(), entries.begin(), entries.end());
  return Raw(0x20, std::move(a));
}

MftRecordBuilder& MftRecordBuilder::Raw(uint32_t type, std::vector<uint8_t> attribute) {
  Put(attribute, 0, type, 4);
  Append(std::move(attribute));
  return *this;
}

MftRecordBuilder& MftRecordBuilder::BaseRecord(uint64_t base) {
  base_ = base;
  return *this;
}

MftRecordBuilder& MftRecordBuilder::SequenceNumber(uint16_t sequence) {
  sequence_ = sequence;
  return *this;
}

std::vector<uint8_t> MftRecordBuilder::BuildPlain() const {
  std::vector<uint8_t> r(recordSize_, 0);
  const size_t strides = recordSize_ / 512;
  r[0] = 'F', r[1] = 'I', r[2] = 'L', r[3] = 'E';
  Put(r, 0x04, 0x30, 2);
  Put(r, 0x06, strides + 1, 2);
  Put(r, 0x10, sequence_, 2);
  Put(r, 0x12, 1, 2);
  const size_t first = Align8(0x30 + 2 * (strides + 1));
  Put(r, 0x14, first, 2);
  Put(r, 0x16, flags_, 2);
  Put(r, 0x1C, recordSize_, 4);
  Put(r, 0x20, base_, 8);
  Put(r, 0x28, attributeId_, 2);
  Put(r, 0x2C, number_, 4);
  size_t at = first;
  for (const auto& a : attributes_) {
    if (at + a.size() + 8 > recordSize_) throw std::length_error("attributes do not fit the record");
    std::copy(a.begin(), a.end(), r.begin() + static_cast<ptrdiff_t>(at));
    at += a.size();
  }
  Put(r, at, 0xFFFFFFFFu, 4);
  Put(r, 0x18, at + 8, 4);
  // The update sequence: its number, then the bytes each stride end holds.
  Put(r, 0x30, 0x4D5A, 2);
  for (size_t i = 0; i < strides; ++i) {
    const size_t end = (i + 1) * 512 - 2;
    r[0x32 + 2 * i] = r[end];
    r[0x33 + 2 * i] = r[end + 1];
  }
  return r;
}

std::vector<uint8_t> MftRecordBuilder::Build() const {
  std::vector<uint8_t> r = BuildPlain();
  for (size_t i = 0; i < recordSize_ / 512; ++i) {
    const size_t end = (i + 1) * 512 - 2;
    r[end] = r[0x30];
    r[end + 1] = r[0x31];
  }
  return r;
}

std::vector<uint8_t> AttributeListEntry(uint32_t type, uint64_t startVcn, uint64_t record,
                                        const std::u16string& name) {
  std::vector<uint8_t> e(Align8(0x1A + 2 * name.size()));
  Put(e, 0x00, type, 4);
  Put(e, 0x04, e.size(), 2);
  Put(e, 0x06, name.size(), 1);
  Put(e, 0x07, 0x1A, 1);
  Put(e, 0x08, startVcn, 8);
  Put(e, 0x10, record | (uint64_t{1} << 48), 8);
  PutName(e, 0x1A, name);
  return e;
}

NtfsImageBuilder::NtfsImageBuilder(uint32_t bytesPerSector, uint32_t sectorsPerCluster, uint64_t totalClusters,
                                   uint64_t mftCluster, uint32_t mftRecords, uint32_t recordSize)
    : bytesPerSector_(bytesPerSector),
      sectorsPerCluster_(sectorsPerCluster),
      recordSize_(recordSize ? recordSize : (bytesPerSector == 512 ? 1024 : bytesPerSector)),
      mftCluster_(mftCluster),
      mftRecords_(mftRecords) {
  const uint64_t clusterBytes = uint64_t{bytesPerSector} * sectorsPerCluster;
  image_.assign(totalClusters * clusterBytes, 0);
  const uint8_t head[] = {0xEB, 0x52, 0x90, 'N', 'T', 'F', 'S', ' ', ' ', ' ', ' '};
  std::copy(std::begin(head), std::end(head), image_.begin());
  Put(image_, 0x0B, bytesPerSector, 2);
  Put(image_, 0x0D, sectorsPerCluster, 1);
  Put(image_, 0x15, 0xF8, 1);
  Put(image_, 0x28, totalClusters * sectorsPerCluster - 1, 8);
  Put(image_, 0x30, mftCluster, 8);
  Put(image_, 0x38, totalClusters / 2, 8);
  int8_t perRecord = 0;
  if (recordSize_ >= clusterBytes) {
    perRecord = static_cast<int8_t>(recordSize_ / clusterBytes);
  } else {
    int shift = 0;
    while ((1u << shift) < recordSize_) ++shift;
    perRecord = static_cast<int8_t>(-shift);
  }
  Put(image_, 0x40, static_cast<uint8_t>(perRecord), 1);
  Put(image_, 0x44, 1, 1);
  image_[510] = 0x55;
  image_[511] = 0xAA;
}

void NtfsImageBuilder::PutRecord(uint32_t number, const std::vector<uint8_t>& record) {
  const uint64_t at = mftCluster_ * clusterBytes() + uint64_t{number} * recordSize_;
  if (number >= mftRecords_ || at + record.size() > image_.size()) throw std::out_of_range("record outside the MFT");
  std::copy(record.begin(), record.end(), image_.begin() + static_cast<ptrdiff_t>(at));
}

void NtfsImageBuilder::PutData(uint64_t cluster, const std::vector<uint8_t>& bytes) {
  const uint64_t at = cluster * clusterBytes();
  if (at + bytes.size() > image_.size()) throw std::out_of_range("data outside the image");
  std::copy(bytes.begin(), bytes.end(), image_.begin() + static_cast<ptrdiff_t>(at));
}

void NtfsImageBuilder::PutStandardMftRecord() {
  const uint64_t mftBytes = uint64_t{mftRecords_} * recordSize_;
  const uint64_t clusters = (mftBytes + clusterBytes() - 1) / clusterBytes();
  PutRecord(0, MftRecordBuilder(0, 1, recordSize_)
                   .FileName({.parent = 5, .name = u"$MFT", .nameSpace = 3})
                   .NonResidentData({{clusters, static_cast<int64_t>(mftCluster_)}}, mftBytes)
                   .Build());
}

void NtfsImageBuilder::WriteTo(const std::string& path) const {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(image_.data()), static_cast<std::streamsize>(image_.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

}  // namespace selvane::test
