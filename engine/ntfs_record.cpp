#include "engine/ntfs_record.h"

#include <limits>

namespace selvane {
namespace {

bool IsPowerOfTwo(uint64_t v) { return v != 0 && (v & (v - 1)) == 0; }

constexpr uint32_t kAttributeHeaderBytes = 0x18;    // type .. resident value offset
constexpr uint32_t kNonResidentHeaderBytes = 0x40;  // .. initialized size
constexpr uint32_t kFileNameNameOffset = 0x42;

}  // namespace

bool ReadNtfsGeometry(std::span<const uint8_t> bootSector, NtfsGeometry& out) {
  ByteReader boot(bootSector);
  if (!boot.Fits(0, 0x48)) return false;
  NtfsGeometry g;
  g.bytesPerSector = boot.U16(0x0B);
  if (g.bytesPerSector == 0) g.bytesPerSector = 512;
  if (!IsPowerOfTwo(g.bytesPerSector) || g.bytesPerSector < 512 || g.bytesPerSector > 4096) return false;
  const int8_t spc = static_cast<int8_t>(boot.U8(0x0D));
  if (spc <= 0 || !IsPowerOfTwo(static_cast<uint64_t>(spc))) return false;
  g.sectorsPerCluster = static_cast<uint32_t>(spc);
  g.mftCluster = boot.U64(0x30);
  g.totalSectors = boot.U64(0x28);

  const uint64_t clusterBytes = uint64_t{g.bytesPerSector} * g.sectorsPerCluster;
  const int8_t perRecord = static_cast<int8_t>(boot.U8(0x40));
  uint64_t recordSize = 0;
  if (perRecord > 0)
    recordSize = clusterBytes * static_cast<uint64_t>(perRecord);
  else if (perRecord < 0 && perRecord > -32)
    recordSize = uint64_t{1} << -perRecord;
  if (IsPowerOfTwo(recordSize) && recordSize >= 1024 && recordSize <= 4096 && recordSize >= g.bytesPerSector) {
    g.recordSize = static_cast<uint32_t>(recordSize);
  } else {
    g.recordSize = g.bytesPerSector == 512 ? 1024 : g.bytesPerSector;
  }
  g.sectorsPerRecord = g.recordSize / g.bytesPerSector;
  out = g;
  return true;
}

bool ExtentWalker::Next(ClusterExtent& out) {
  if (damaged_ || index_ >= runs_.size()) return false;
  const MftRun& run = runs_[index_++];
  if (!run.sparse) {
    // Signed sum without overflow: a run list can only reach cluster 2^63 - 1.
    if ((run.lcnDelta > 0 && lcn_ > std::numeric_limits<int64_t>::max() - run.lcnDelta) || lcn_ + run.lcnDelta < 0) {
      damaged_ = true;
      return false;
    }
    lcn_ += run.lcnDelta;
  }
  out.firstCluster = run.sparse ? 0 : static_cast<uint64_t>(lcn_);
  out.clusterCount = run.clusterCount;
  out.sparse = run.sparse;
  return true;
}

bool DecodeRunList(const ByteReader& attribute, std::vector<MftRun>& out) {
  size_t position = attribute.U16(0x20);
  while (attribute.Fits(position, 1)) {
    const uint8_t header = attribute.U8(position);
    if (header == 0) return true;
    const size_t lengthSize = header & 0x0F;
    const size_t offsetSize = header >> 4;
    if (lengthSize == 0 || lengthSize > 8 || offsetSize > 8) return false;
    if (!attribute.Fits(position + 1, lengthSize + offsetSize)) return false;
    MftRun run;
    run.clusterCount = attribute.Le(position + 1, lengthSize);
    if (run.clusterCount == 0) return false;
    if (offsetSize == 0) {
      run.sparse = true;
    } else {
      uint64_t delta = attribute.Le(position + 1 + lengthSize, offsetSize);
      if (offsetSize < 8 && (delta >> (8 * offsetSize - 1)) & 1) delta |= ~uint64_t{0} << (8 * offsetSize);
      run.lcnDelta = static_cast<int64_t>(delta);
    }
    out.push_back(run);
    position += 1 + lengthSize + offsetSize;
  }
  return false;
}

bool AppendExtentRuns(std::span<const MftRun> extent, std::vector<MftRun>& merged, int64_t& lastCluster) {
  ExtentWalker walker(extent);
  ClusterExtent e;
  while (walker.Next(e)) {
    MftRun run;
    run.clusterCount = e.clusterCount;
    run.sparse = e.sparse;
    if (!e.sparse) {
      run.lcnDelta = static_cast<int64_t>(e.firstCluster) - lastCluster;
      lastCluster = static_cast<int64_t>(e.firstCluster);
    }
    merged.push_back(run);
  }
  return !walker.damaged();
}

uint64_t RunClusters(std::span<const MftRun> runs) {
  uint64_t total = 0;
  for (const MftRun& run : runs) total += run.clusterCount;
  return total;
}

bool ApplyFixups(std::span<uint8_t> record) {
  if (record.size() < kFixupStride || record.size() % kFixupStride != 0) return false;
  ByteReader r(record);
  const size_t strides = record.size() / kFixupStride;
  const size_t arrayOffset = r.U16(0x04);
  const size_t arrayCount = r.U16(0x06);
  // Entry 0 is the sequence number; entries 1..n are the saved stride ends. The
  // array lies in the header, before the end of the first stride.
  if (arrayCount != strides + 1 || arrayOffset < 0x28 || arrayOffset % 2 != 0 ||
      arrayOffset + 2 * arrayCount > kFixupStride - 2)
    return false;
  for (size_t i = 0; i < strides; ++i) {
    const size_t end = (i + 1) * kFixupStride - 2;
    record[end] = record[arrayOffset + 2 * (i + 1)];
    record[end + 1] = record[arrayOffset + 2 * (i + 1) + 1];
  }
  return true;
}

std::span<const uint8_t> NtfsAttribute::Name() const { return bytes.Span(bytes.U16(0x0A), size_t{bytes.U8(0x09)} * 2); }

std::span<const uint8_t> NtfsAttribute::Value() const {
  if (nonResident) return {};
  return bytes.Span(bytes.U16(0x14), bytes.U32(0x10));
}

AttributeWalker::AttributeWalker(std::span<const uint8_t> record) : record_(record) {
  const uint32_t inUse = record_.U32(0x18);
  const uint32_t first = record_.U16(0x14);
  if (record_.overrun() || inUse > record.size() || first < 0x18 || first > inUse) {
    damaged_ = true;
    done_ = true;
    return;
  }
  position_ = first;
  limit_ = inUse;
}

bool AttributeWalker::Next(NtfsAttribute& out) {
  if (done_) return false;
  done_ = true;  // until this attribute proves sound
  if (position_ >= limit_) return false;
  if (position_ + 8 > limit_) {
    damaged_ = true;
    return false;
  }
  const uint32_t type = record_.U32(position_);
  if (type == 0 || type >= 0xFDFDFDFDu) return false;
  const uint32_t length = record_.U32(position_ + 4);
  if (length == 0) return false;
  if (length < kAttributeHeaderBytes || length > limit_ - position_) {
    damaged_ = true;
    return false;
  }
  NtfsAttribute a;
  a.type = type;
  a.offset = position_;
  a.bytes = record_.Sub(position_, length);
  a.nonResident = a.bytes.U8(0x08) != 0;
  const size_t nameBytes = size_t{a.bytes.U8(0x09)} * 2;
  if (nameBytes != 0 && !a.bytes.Fits(a.bytes.U16(0x0A), nameBytes)) {
    damaged_ = true;
    return false;
  }
  if (a.nonResident ? length < kNonResidentHeaderBytes : !a.bytes.Fits(a.bytes.U16(0x14), a.bytes.U32(0x10))) {
    damaged_ = true;
    return false;
  }
  position_ += length;
  done_ = false;
  out = a;
  return true;
}

bool ReadFileNameValue(std::span<const uint8_t> value, MftFileName& out) {
  ByteReader v(value);
  const size_t nameLength = v.U8(0x40);
  if (!v.Fits(kFileNameNameOffset, nameLength * 2)) return false;
  out.parentRecord = v.U32(0x00);
  out.parentSequence = v.U16(0x06);
  out.creationTime = v.U64(0x08);
  out.writeTime = v.U64(0x10);
  out.accessTime = v.U64(0x20);
  out.realSize = v.U64(0x30);
  out.nameSpace = v.U8(0x41);
  out.name = v.Span(kFileNameNameOffset, nameLength * 2);
  return true;
}

RecordParse SummarizeFileRecord(std::span<const uint8_t> record, MftFileSummary& out) {
  out = MftFileSummary{};
  MftRecordView view(record);
  if (!view.IsFile()) return RecordParse::NotFile;
  out.flags = view.Flags();
  AttributeWalker walker(record);
  NtfsAttribute a;
  while (walker.Next(a)) {
    switch (a.type) {
      case kAttrAttributeList: out.hasAttributeList = true; break;
      case kAttrFileName: {
        MftFileName name;
        if (a.nonResident || !ReadFileNameValue(a.Value(), name)) return RecordParse::Damaged;
        if (!out.hasFileName) {
          out.fileName = name;
          out.hasFileName = true;
        } else if (name.nameSpace == kFileNameWin32) {
          out.fileName.name = name.name;
          out.fileName.nameSpace = name.nameSpace;
        }
        break;
      }
      case kAttrData: {
        if (out.data.present || a.bytes.U8(0x09) != 0) break;
        out.data.present = true;
        out.data.resident = !a.nonResident;
        out.data.attributeOffset = a.offset;
        out.data.flags = a.Flags();
        out.data.lowestVcn = a.LowestVcn();
        out.data.residentValue = a.Value();
        out.data.realSize = a.RealSize();
        out.data.initializedSize = a.InitializedSize();
        break;
      }
      default: break;
    }
  }
  return walker.damaged() ? RecordParse::Damaged : RecordParse::Ok;
}

bool FirstFileName(std::span<const uint8_t> record, MftFileName& out) {
  AttributeWalker walker(record);
  NtfsAttribute a;
  while (walker.Next(a))
    if (a.type == kAttrFileName) return !a.nonResident && ReadFileNameValue(a.Value(), out);
  return false;
}

ResultCode ResidentDataOf(std::span<const uint8_t> record, std::span<const uint8_t>& data) {
  data = {};
  if (!MftRecordView(record).IsFile()) return kNtfsNotResident;
  AttributeWalker walker(record);
  NtfsAttribute a;
  while (walker.Next(a)) {
    if (a.type != kAttrData || a.bytes.U8(0x09) != 0) continue;
    if (a.nonResident) return kNtfsNotResident;
    data = a.Value();
    return kSuccess;
  }
  return walker.damaged() ? kInvalidParameter : kNtfsNotResident;
}

}  // namespace selvane
