// Reading drives and raw images sector by sector. Every byte the program
// recovers passes through ReadSectors. Sources are always opened read-only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/file_handle.h"
#include "platform/result_codes.h"

namespace selvane {

// An open drive or image and its size in sectors.
struct DiskDevice {
  FileHandle handle;
  // Whole drive or image in sectors: drive sectors for a drive, 512-byte sectors
  // for an image file. The upper bound of every read.
  uint64_t totalSectors = 0;
  // Name of the drive in the registry ("sdb"); empty for an image file.
  std::string driveName;
};

// Largest single read; larger requests are split.
inline constexpr size_t kMaxReadChunk = 65536;

// Opens drive N read-only only (no geometry); for the first read of a boot sector.
ResultCode OpenDriveHandle(int driveNumber, DiskDevice& out);

// Opens drive N read-only and sets totalSectors from its length and sector size
// (cylinders x heads x sectors when the length cannot be read). A drive whose
// sector size cannot be learned is not opened as a device: the error is returned
// and the handle stays in `out`.
ResultCode OpenPhysicalDrive(int driveNumber, DiskDevice& out);

// Opens an image file read-only; totalSectors = file size / 512.
ResultCode OpenImageFile(const std::string& path, DiskDevice& out);

// Reads sectorCount sectors of sectorSize bytes from firstSector into buffer
// (which holds sectorCount x sectorSize bytes). 87 when the range passes the end
// of the device (nothing read); 30 when the device delivers fewer bytes; 0 when
// all arrived. sectorsRead counts whole sectors read in every case.
ResultCode ReadSectors(int32_t sectorCount, const DiskDevice& device, void* buffer, uint64_t firstSector,
                       uint32_t sectorSize, uint32_t& sectorsRead);

// Reads byteCount bytes from the current position of any open file; 0 when all
// arrived, 30 when a read failed or returned nothing. bytesRead is the total.
ResultCode ReadFully(const FileHandle& handle, void* buffer, size_t byteCount, size_t& bytesRead);

// Logical sector size of the drive behind the handle; 512 when it cannot be asked.
uint32_t GetDriveSectorSize(const DiskDevice& drive);

// Writes the cached data of the file system mounted at mountPoint to its device.
void FlushVolume(const std::string& mountPoint);

// Length of drive N in bytes.
ResultCode GetPhysicalDriveLength(int driveNumber, uint64_t& bytes);

// True for a removable drive or one on a USB or SD bus; false when N is no drive.
bool IsExternalDrive(int driveNumber);

// File system type of a mounted volume ("vfat", "ntfs3", …).
ResultCode GetVolumeFileSystemName(const std::string& mountPoint, std::string& name);

// Free bytes of a mounted volume.
ResultCode GetDriveFreeBytes(const std::string& mountPoint, uint64_t& bytes);

// Size of the file or device at path.
ResultCode GetFileSizeByPath(const std::string& path, uint64_t& size);

}  // namespace selvane
