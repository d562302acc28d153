// The record of one found file or folder, exactly as stored in a scan log:
// 346 bytes, little-endian, fields back to back.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace selvane {

inline constexpr size_t kScanLogRecordSize = 346;
inline constexpr size_t kRecordNameSize = 260;

// Engines that write records (the EngineCode field).
enum EngineCode : uint32_t {
  kEngineFastNtfs = 0,
  kEngineFastFat = 1,
  kEngineProNtfs = 2,
  kEngineProFat = 3,
  kEngineCarving = 4,
};

inline constexpr uint32_t kNoClusterSize = 0xFFFFFFFFu;  // carved files, made-up NTFS folders

struct ScanLogRecord {
  uint16_t VolumeLetter = 0;    // source identifier the engine was opened with
  uint32_t EngineCode = 0;
  uint32_t IsFolder = 0;
  uint32_t FolderDeleted = 0;
  uint32_t Intact = 0;
  uint32_t RecordNumber = 0;    // position in the main file, from 1
  uint32_t ItemId = 0;          // FAT first cluster, NTFS MFT record number, 0 for carved
  uint32_t ClusterBytes = 0;
  uint64_t CreationTime = 0;    // FILETIME
  uint64_t AccessTime = 0;      // FILETIME
  uint64_t WriteTime = 0;       // FILETIME
  uint64_t FileSize = 0;
  uint64_t DataAreaSector = 0;  // FAT: sector of cluster 2, relative to PartitionStart
  uint64_t LocationSector = 0;  // absolute sector the engine reads for this item
  uint64_t PartitionStart = 0;
  std::array<char, kRecordNameSize> Name{};  // UTF-8, NUL-terminated

  bool IsFolderRecord() const { return IsFolder == 1; }
  // The name up to its NUL (or the whole field when it has none).
  std::string_view NameView() const;
  // Stores a name, cut at a UTF-8 character boundary so that it and its NUL fit.
  void SetName(std::string_view name);
};

// Byte offsets of the stored layout.
namespace record_offset {
inline constexpr size_t VolumeLetter = 0;
inline constexpr size_t EngineCode = 2;
inline constexpr size_t IsFolder = 6;
inline constexpr size_t FolderDeleted = 10;
inline constexpr size_t Intact = 14;
inline constexpr size_t RecordNumber = 18;
inline constexpr size_t ItemId = 22;
inline constexpr size_t ClusterBytes = 26;
inline constexpr size_t CreationTime = 30;
inline constexpr size_t AccessTime = 38;
inline constexpr size_t WriteTime = 46;
inline constexpr size_t FileSize = 54;
inline constexpr size_t DataAreaSector = 62;
inline constexpr size_t LocationSector = 70;
inline constexpr size_t PartitionStart = 78;
inline constexpr size_t Name = 86;
}  // namespace record_offset
static_assert(record_offset::Name + kRecordNameSize == kScanLogRecordSize);

using RecordBytes = std::array<uint8_t, kScanLogRecordSize>;

namespace detail {
template <typename T>
constexpr void PutLe(std::span<uint8_t, kScanLogRecordSize> out, size_t offset, T value) {
  for (size_t i = 0; i < sizeof(T); ++i) out[offset + i] = static_cast<uint8_t>(value >> (8 * i));
}
template <typename T>
constexpr T GetLe(std::span<const uint8_t, kScanLogRecordSize> in, size_t offset) {
  T value = 0;
  for (size_t i = 0; i < sizeof(T); ++i) value |= static_cast<T>(static_cast<T>(in[offset + i]) << (8 * i));
  return value;
}
}  // namespace detail

constexpr void EncodeRecord(const ScanLogRecord& r, std::span<uint8_t, kScanLogRecordSize> out) {
  namespace o = record_offset;
  detail::PutLe(out, o::VolumeLetter, r.VolumeLetter);
  detail::PutLe(out, o::EngineCode, r.EngineCode);
  detail::PutLe(out, o::IsFolder, r.IsFolder);
  detail::PutLe(out, o::FolderDeleted, r.FolderDeleted);
  detail::PutLe(out, o::Intact, r.Intact);
  detail::PutLe(out, o::RecordNumber, r.RecordNumber);
  detail::PutLe(out, o::ItemId, r.ItemId);
  detail::PutLe(out, o::ClusterBytes, r.ClusterBytes);
  detail::PutLe(out, o::CreationTime, r.CreationTime);
  detail::PutLe(out, o::AccessTime, r.AccessTime);
  detail::PutLe(out, o::WriteTime, r.WriteTime);
  detail::PutLe(out, o::FileSize, r.FileSize);
  detail::PutLe(out, o::DataAreaSector, r.DataAreaSector);
  detail::PutLe(out, o::LocationSector, r.LocationSector);
  detail::PutLe(out, o::PartitionStart, r.PartitionStart);
  for (size_t i = 0; i < kRecordNameSize; ++i) out[o::Name + i] = static_cast<uint8_t>(r.Name[i]);
}

constexpr ScanLogRecord DecodeRecord(std::span<const uint8_t, kScanLogRecordSize> in) {
  namespace o = record_offset;
  ScanLogRecord r;
  r.VolumeLetter = detail::GetLe<uint16_t>(in, o::VolumeLetter);
  r.EngineCode = detail::GetLe<uint32_t>(in, o::EngineCode);
  r.IsFolder = detail::GetLe<uint32_t>(in, o::IsFolder);
  r.FolderDeleted = detail::GetLe<uint32_t>(in, o::FolderDeleted);
  r.Intact = detail::GetLe<uint32_t>(in, o::Intact);
  r.RecordNumber = detail::GetLe<uint32_t>(in, o::RecordNumber);
  r.ItemId = detail::GetLe<uint32_t>(in, o::ItemId);
  r.ClusterBytes = detail::GetLe<uint32_t>(in, o::ClusterBytes);
  r.CreationTime = detail::GetLe<uint64_t>(in, o::CreationTime);
  r.AccessTime = detail::GetLe<uint64_t>(in, o::AccessTime);
  r.WriteTime = detail::GetLe<uint64_t>(in, o::WriteTime);
  r.FileSize = detail::GetLe<uint64_t>(in, o::FileSize);
  r.DataAreaSector = detail::GetLe<uint64_t>(in, o::DataAreaSector);
  r.LocationSector = detail::GetLe<uint64_t>(in, o::LocationSector);
  r.PartitionStart = detail::GetLe<uint64_t>(in, o::PartitionStart);
  for (size_t i = 0; i < kRecordNameSize; ++i) r.Name[i] = static_cast<char>(in[o::Name + i]);
  return r;
}

// FolderKey: depth of the containing folder in the high half, its ItemId in the low half.
using FolderKey = uint64_t;
constexpr FolderKey MakeFolderKey(uint32_t depth, uint32_t id) { return (uint64_t{depth} << 32) + id; }
constexpr uint32_t FolderKeyDepth(FolderKey key) { return static_cast<uint32_t>(key >> 32); }
constexpr uint32_t FolderKeyId(FolderKey key) { return static_cast<uint32_t>(key & 0xFFFFFFFFu); }

}  // namespace selvane
