#include "engine/ntfs_volume_access.h"

#include <algorithm>
#include <limits>

namespace selvane {
namespace {

// Largest $ATTRIBUTE_LIST read; real lists stay far below this.
constexpr uint64_t kMaxAttributeListBytes = 1u << 20;

uint64_t SaturatingMul(uint64_t a, uint64_t b) {
  uint64_t product = 0;
  return __builtin_mul_overflow(a, b, &product) ? std::numeric_limits<uint64_t>::max() : product;
}

bool NamesEqual(std::span<const uint8_t> a, std::span<const uint8_t> b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin());
}

// Decodes one extent (a non-resident attribute) and checks that its runs cover
// exactly its VCN range.
bool DecodeExtent(const NtfsAttribute& attribute, std::vector<MftRun>& runs) {
  runs.clear();
  if (!attribute.nonResident || !DecodeRunList(attribute.bytes, runs)) return false;
  const uint64_t lowest = attribute.LowestVcn();
  const uint64_t highest = attribute.HighestVcn();
  // An empty attribute (no clusters) has highest VCN -1.
  if (runs.empty()) return highest == ~uint64_t{0} || highest + 1 == lowest;
  return highest >= lowest && RunClusters(runs) == highest - lowest + 1;
}

// Reads the bytes of a non-resident $ATTRIBUTE_LIST.
bool ReadNonResidentList(const NtfsVolumeAccess& volume, const NtfsAttribute& list, std::vector<uint8_t>& out) {
  std::vector<MftRun> runs;
  if (!DecodeExtent(list, runs)) return false;
  const uint64_t size = list.RealSize();
  if (size > kMaxAttributeListBytes) return false;
  out.assign(size, 0);
  const uint64_t clusterBytes = uint64_t{volume.bytesPerSector} * volume.sectorsPerCluster;
  std::vector<uint8_t> sector(volume.bytesPerSector);
  uint64_t done = 0;
  ExtentWalker walker(runs);
  ClusterExtent e;
  while (done < size && walker.Next(e)) {
    const uint64_t extentBytes = SaturatingMul(e.clusterCount, clusterBytes);
    if (e.sparse) {
      done += std::min(extentBytes, size - done);  // zeros
      continue;
    }
    const uint64_t first = volume.partitionFirstSector + e.firstCluster * volume.sectorsPerCluster;
    for (uint64_t offset = 0; offset < extentBytes && done < size; offset += volume.bytesPerSector) {
      uint32_t read = 0;
      if (ReadSectors(1, *volume.device, sector.data(), first + offset / volume.bytesPerSector, volume.bytesPerSector,
                      read) != kSuccess)
        return false;
      const uint64_t take = std::min<uint64_t>(volume.bytesPerSector, size - done);
      std::copy_n(sector.begin(), take, out.begin() + static_cast<ptrdiff_t>(done));
      done += take;
    }
  }
  return done == size;
}

// Follows the entries of an attribute list that name extents of `type` and
// appends their runs in order. Returns true when at least one extent was found.
bool FollowAttributeList(const NtfsVolumeAccess& volume, std::span<const uint8_t> baseRecord, const NtfsAttribute& list,
                         uint32_t type, AttributeRuns& out) {
  std::vector<uint8_t> stored;
  std::span<const uint8_t> listBytes;
  if (list.nonResident) {
    if (!ReadNonResidentList(volume, list, stored)) return false;
    listBytes = stored;
  } else {
    listBytes = list.Value();
  }
  const MftRecordView base(baseRecord);
  const bool baseKnown = base.HasRecordNumber();
  const uint64_t baseNumber = base.RecordNumber();
  const uint64_t clusterBytes = uint64_t{volume.bytesPerSector} * volume.sectorsPerCluster;

  ByteReader entries(listBytes);
  std::vector<uint8_t> extension;
  std::vector<MftRun> extentRuns;
  std::span<const uint8_t> wantedName;
  bool nameChosen = type == kAttrData;  // $DATA: the unnamed stream
  bool failed = false;
  bool any = false;
  uint64_t nextVcn = 0;
  uint64_t allocatedSize = 0;
  int64_t lastCluster = 0;
  size_t position = 0;
  while (entries.Fits(position, 0x1A)) {
    const uint32_t entryType = entries.U32(position);
    const size_t entryLength = entries.U16(position + 4);
    if (entryType == 0 || entryType == kAttrEnd || entryLength == 0) break;
    if (entryLength < 0x1A || !entries.Fits(position, entryLength)) {
      failed = true;
      break;
    }
    const ByteReader entry = entries.Sub(position, entryLength);
    position += entryLength;
    if (entryType != type) continue;
    const std::span<const uint8_t> name = entry.Span(entry.U8(7), size_t{entry.U8(6)} * 2);
    if (entry.overrun()) {
      failed = true;
      break;
    }
    if (!nameChosen) {
      wantedName = name;
      nameChosen = true;
    }
    if (!NamesEqual(name, wantedName)) continue;

    const uint64_t startVcn = entry.U64(0x08);
    const uint64_t reference = entry.U64(0x10) & 0xFFFFFFFFFFFFull;
    if (startVcn != nextVcn) {
      failed = true;
      break;
    }
    std::span<const uint8_t> holder = baseRecord;
    if (!baseKnown || reference != baseNumber) {
      extension.resize(volume.recordSize);
      if (ReadMftRecordByNumber(volume, reference, extension) != kSuccess || !ApplyFixups(extension)) {
        failed = true;
        break;
      }
      const MftRecordView view(extension);
      // An extension record that now belongs to another file is not followed.
      if (!view.IsFile() || (baseKnown && view.BaseRecord() != baseNumber)) {
        failed = true;
        break;
      }
      holder = extension;
    }
    AttributeWalker walker(holder);
    NtfsAttribute a;
    bool found = false;
    while (walker.Next(a)) {
      if (a.type == type && a.nonResident && a.LowestVcn() == startVcn && NamesEqual(a.Name(), wantedName)) {
        found = true;
        break;
      }
    }
    if (!found || !DecodeExtent(a, extentRuns) || !AppendExtentRuns(extentRuns, out.runs, lastCluster)) {
      failed = true;
      break;
    }
    if (!any) {
      out.realSize = a.RealSize();
      out.initializedSize = a.InitializedSize();
      out.flags = a.Flags();
      allocatedSize = a.AllocatedSize();
      any = true;
    }
    nextVcn = a.HighestVcn() + 1;
  }
  out.complete = any && !failed && SaturatingMul(nextVcn, clusterBytes) >= allocatedSize;
  return any;
}

}  // namespace

bool MapMftSector(const NtfsVolumeAccess& volume, uint64_t mftSector, uint64_t& absolute, uint64_t& contiguous) {
  const uint64_t spc = volume.sectorsPerCluster;
  if (volume.emptyRunMeansContiguous && volume.mftRuns.size() == 1 && volume.mftRuns[0].clusterCount == 0) {
    if (volume.mftRuns[0].lcnDelta < 0) return false;
    absolute = volume.partitionFirstSector + static_cast<uint64_t>(volume.mftRuns[0].lcnDelta) * spc + mftSector;
    contiguous = std::numeric_limits<uint32_t>::max();
    return true;
  }
  uint64_t start = 0;
  ExtentWalker walker(volume.mftRuns);
  ClusterExtent e;
  while (walker.Next(e)) {
    const uint64_t length = SaturatingMul(e.clusterCount, spc);
    if (mftSector - start < length) {
      if (e.sparse) return false;
      absolute = volume.partitionFirstSector + SaturatingMul(e.firstCluster, spc) + (mftSector - start);
      contiguous = length - (mftSector - start);
      return true;
    }
    if (length > std::numeric_limits<uint64_t>::max() - start) return false;
    start += length;
  }
  return false;
}

uint64_t MftRecordSector(const NtfsVolumeAccess& volume, uint64_t recordNumber) {
  uint64_t absolute = 0, contiguous = 0;
  if (!MapMftSector(volume, SaturatingMul(recordNumber, volume.sectorsPerRecord), absolute, contiguous))
    return volume.partitionFirstSector;
  return absolute;
}

ResultCode ReadMftRecord(const NtfsVolumeAccess& volume, uint64_t sector, std::span<uint8_t> record) {
  if (record.size() < volume.recordSize) return kInvalidParameter;
  uint32_t read = 0;
  return ReadSectors(static_cast<int32_t>(volume.sectorsPerRecord), *volume.device, record.data(), sector,
                     volume.bytesPerSector, read);
}

ResultCode ReadMftRecordByNumber(const NtfsVolumeAccess& volume, uint64_t recordNumber, std::span<uint8_t> record) {
  if (record.size() < volume.recordSize) return kInvalidParameter;
  const uint64_t first = SaturatingMul(recordNumber, volume.sectorsPerRecord);
  uint32_t filled = 0;
  while (filled < volume.sectorsPerRecord) {
    uint64_t absolute = 0, contiguous = 0;
    if (!MapMftSector(volume, first + filled, absolute, contiguous)) return kNtfsNotFileRecord;
    const uint32_t take = static_cast<uint32_t>(std::min<uint64_t>(contiguous, volume.sectorsPerRecord - filled));
    uint32_t read = 0;
    if (ResultCode rc =
            ReadSectors(static_cast<int32_t>(take), *volume.device,
                        record.data() + size_t{filled} * volume.bytesPerSector, absolute, volume.bytesPerSector, read);
        rc != kSuccess)
      return rc;
    filled += take;
  }
  return kSuccess;
}

ResultCode CollectAttributeRuns(const NtfsVolumeAccess& volume, std::span<const uint8_t> baseRecord, uint32_t type,
                                AttributeRuns& out) {
  out = AttributeRuns{};
  if (!MftRecordView(baseRecord).IsFile()) return kNtfsNotFileRecord;
  AttributeWalker walker(baseRecord);
  NtfsAttribute a, list, found;
  bool haveList = false, haveFound = false;
  while (walker.Next(a)) {
    if (a.type == kAttrAttributeList && !haveList) {
      list = a;
      haveList = true;
    }
    if (a.type == type && !haveFound && (type != kAttrData || a.bytes.U8(0x09) == 0)) {
      found = a;
      haveFound = true;
    }
  }
  if (walker.damaged()) return kNtfsNotFileRecord;
  if (haveList) {
    AttributeRuns viaList;
    if (FollowAttributeList(volume, baseRecord, list, type, viaList)) {
      out = std::move(viaList);
      return kSuccess;
    }
  }
  if (!haveFound || !found.nonResident) return kNtfsAttributeNotFound;
  out.complete = DecodeExtent(found, out.runs) && found.LowestVcn() == 0;
  out.realSize = found.RealSize();
  out.initializedSize = found.InitializedSize();
  out.flags = found.Flags();
  return kSuccess;
}

ResultCode GetAttributeRuns(const NtfsVolumeAccess& volume, uint64_t sector, uint32_t type, std::vector<MftRun>& out) {
  std::vector<uint8_t> record(volume.recordSize);
  if (ResultCode rc = ReadMftRecord(volume, sector, record); rc != kSuccess) return rc;
  if (!MftRecordView(record).IsFile() || !ApplyFixups(record)) return kNtfsNotFileRecord;
  AttributeRuns runs;
  ResultCode rc = CollectAttributeRuns(volume, record, type, runs);
  if (rc == kSuccess) out.insert(out.end(), runs.runs.begin(), runs.runs.end());
  return rc;
}

ResultCode ReadResidentData(const NtfsVolumeAccess& volume, uint64_t sector, std::span<uint8_t> record,
                            std::span<const uint8_t>& data) {
  data = {};
  if (ReadMftRecord(volume, sector, record) != kSuccess) return kNtfsNotResident;
  auto view = record.first(volume.recordSize);
  if (!MftRecordView(view).IsFile()) return kNtfsNotResident;
  if (!ApplyFixups(view)) return kInvalidParameter;
  return ResidentDataOf(view, data);
}

}  // namespace selvane
