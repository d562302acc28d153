#include "engine/fat_table.h"

#include <algorithm>

namespace selvane {

uint32_t DecodeFatEntry(const ByteReader& fat, uint64_t offset, uint32_t cluster, FatType type) {
  switch (type) {
    case FatType::Fat12: {
      uint32_t pair = fat.U16(offset);
      return (cluster & 1) ? pair >> 4 : pair & 0x0FFF;
    }
    case FatType::Fat16: return fat.U16(offset);
    case FatType::Fat32: return fat.U32(offset) & 0x0FFFFFFF;
  }
  return 0;
}

FatLink ClassifyFatEntry(uint32_t value, const FatVolumeGeometry& geometry) {
  if (value == 0) return FatLink::Free;
  return geometry.IsDataCluster(value) ? FatLink::Next : FatLink::End;
}

void CFatTable::Attach(const DiskDevice* device, const FatVolumeGeometry& geometry, uint64_t fatStartSector) {
  device_ = device;
  geometry_ = geometry;
  fatStart_ = fatStartSector;
  window_.clear();
  windowSector_ = 0;
  windowBytes_ = 0;
}

ResultCode CFatTable::LoadWindow(uint64_t firstFatSector) {
  const uint32_t bps = geometry_.bytesPerSector;
  if (window_.empty()) window_.resize(static_cast<size_t>(std::min(kFatWindowBytes, geometry_.FatBytes())));
  // The window never reaches past the FAT: a small volume has less than 16 MiB
  // after its FAT, and a read past the device's end would deliver nothing.
  const uint64_t sectorsLeft = geometry_.sectorsPerFat - firstFatSector;
  const uint64_t count = std::min<uint64_t>(window_.size() / bps, sectorsLeft);
  uint32_t read = 0;
  ResultCode rc = ReadSectors(static_cast<int32_t>(count), *device_, window_.data(), fatStart_ + firstFatSector, bps,
                              read);
  windowSector_ = firstFatSector;
  windowBytes_ = uint64_t{read} * bps;
  if (read == 0) return rc != kSuccess && rc != kInvalidParameter ? rc : kReadFault;
  return kSuccess;
}

ResultCode CFatTable::NextFatEntry(uint32_t cluster, uint32_t& value) {
  value = 0;
  if (!device_ || cluster > geometry_.MaxCluster()) return kInvalidParameter;
  const uint64_t offset = FatEntryOffset(cluster, geometry_.type);
  const uint32_t width = FatEntryWidth(geometry_.type);
  const uint32_t bps = geometry_.bytesPerSector;
  if (offset + width > geometry_.FatBytes()) return kInvalidParameter;
  const uint64_t windowStart = windowSector_ * bps;
  if (windowBytes_ == 0 || offset < windowStart || offset + width > windowStart + windowBytes_) {
    ResultCode rc = LoadWindow(offset / bps);
    if (rc != kSuccess) return rc;
  }
  ByteReader reader(window_.data(), static_cast<size_t>(windowBytes_));
  const uint64_t at = offset - windowSector_ * bps;
  if (!reader.Fits(at, width)) return kReadFault;  // the window's read stopped short of this entry
  value = DecodeFatEntry(reader, at, cluster, geometry_.type);
  return kSuccess;
}

bool CFatTable::IsFree(uint32_t cluster) {
  uint32_t value = 0;
  return NextFatEntry(cluster, value) == kSuccess && value == 0;
}

uint32_t CFatTable::NextDirectoryCluster(uint32_t cluster) {
  uint32_t value = 0;
  if (NextFatEntry(cluster, value) != kSuccess) return 0;
  switch (ClassifyFatEntry(value, geometry_)) {
    case FatLink::Next: return value;
    case FatLink::End: return 0;
    case FatLink::Free: return IsFree(cluster + 1) ? cluster + 1 : 0;
  }
  return 0;
}

uint32_t CFatTable::NextFileCluster(uint32_t cluster) {
  uint32_t value = 0;
  if (NextFatEntry(cluster, value) != kSuccess) return 0;
  if (ClassifyFatEntry(value, geometry_) == FatLink::Next) return value;
  for (uint64_t c = uint64_t{cluster} + 1; c <= geometry_.MaxCluster(); ++c) {
    uint32_t next = 0;
    ResultCode rc = NextFatEntry(static_cast<uint32_t>(c), next);
    if (rc != kSuccess) return 0;
    if (next == 0) return static_cast<uint32_t>(c);
  }
  return 0;
}

}  // namespace selvane
