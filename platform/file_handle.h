// An owned file descriptor. Every file, block device and image the program
// touches is held by one of these, so it is closed on every path.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <sys/types.h>

#include "platform/result_codes.h"

namespace selvane {

enum class OpenMode {
  ReadOnly,       // sources: drives, partitions, images. Never opened for writing.
  ReadWrite,      // open an existing file or create it (log files)
  CreateAlways,   // create or truncate
  CreateNew,      // create, fail with kAlreadyExists when present
};

class FileHandle {
 public:
  FileHandle() = default;
  FileHandle(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;
  FileHandle(FileHandle&& other) noexcept { *this = std::move(other); }
  FileHandle& operator=(FileHandle&& other) noexcept;
  ~FileHandle() { Close(); }

  bool IsOpen() const { return fd_ >= 0; }
  int fd() const { return fd_; }
  const std::string& path() const { return path_; }
  void Close();

  // Positioned I/O; return the byte count or -1 with errno set, like pread/pwrite.
  ssize_t ReadAt(void* buffer, size_t count, uint64_t offset) const;
  ssize_t WriteAt(const void* buffer, size_t count, uint64_t offset) const;
  // Sequential I/O from the current position.
  ssize_t Read(void* buffer, size_t count) const;
  ssize_t Write(const void* buffer, size_t count) const;
  ResultCode Seek(uint64_t offset) const;
  ResultCode SeekToEnd(uint64_t* position = nullptr) const;

  // Size in bytes: the length of a block device, the size of anything else.
  ResultCode Size(uint64_t& size) const;
  bool IsBlockDevice() const;
  // Cuts or extends the file to `size` bytes.
  ResultCode Truncate(uint64_t size) const;
  // Flushes written data to the medium.
  ResultCode Sync() const;

 private:
  int fd_ = -1;
  std::string path_;
};

// Opens `path`; returns the result code and leaves `out` closed on failure.
ResultCode OpenFile(const std::string& path, OpenMode mode, FileHandle& out);

// Writes all `count` bytes at the current position, continuing after short writes.
ResultCode WriteAll(const FileHandle& handle, const void* buffer, size_t count);

// Whether two paths (links followed) name the same file, or nodes of the same
// device. std::filesystem::equivalent refuses to compare device nodes.
bool IsSameFile(const std::string& a, const std::string& b);

// Flags of an open descriptor as the kernel reports them (for tests and checks).
int OpenFlagsOf(const FileHandle& handle);

}  // namespace selvane
