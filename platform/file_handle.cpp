#include "platform/file_handle.h"

#include "platform/read_faults.h"

#include <cerrno>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace selvane {

FileHandle& FileHandle::operator=(FileHandle&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = other.fd_;
    path_ = std::move(other.path_);
    other.fd_ = -1;
  }
  return *this;
}

void FileHandle::Close() {
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
}

ssize_t FileHandle::ReadAt(void* buffer, size_t count, uint64_t offset) const {
  // A simulated bad area delivers what lies before it, then fails like a bad sector.
  if (size_t readable = ReadableBeforeFault(fd_, offset, count); readable < count) {
    if (readable == 0) {
      errno = EIO;
      return -1;
    }
    count = readable;
  }
  ssize_t n;
  do {
    n = ::pread(fd_, buffer, count, static_cast<off_t>(offset));
  } while (n < 0 && errno == EINTR);
  return n;
}

ssize_t FileHandle::WriteAt(const void* buffer, size_t count, uint64_t offset) const {
  ssize_t n;
  do {
    n = ::pwrite(fd_, buffer, count, static_cast<off_t>(offset));
  } while (n < 0 && errno == EINTR);
  return n;
}

ssize_t FileHandle::Read(void* buffer, size_t count) const {
  ssize_t n;
  do {
    n = ::read(fd_, buffer, count);
  } while (n < 0 && errno == EINTR);
  return n;
}

ssize_t FileHandle::Write(const void* buffer, size_t count) const {
  ssize_t n;
  do {
    n = ::write(fd_, buffer, count);
  } while (n < 0 && errno == EINTR);
  return n;
}

ResultCode FileHandle::Seek(uint64_t offset) const {
  if (::lseek(fd_, static_cast<off_t>(offset), SEEK_SET) < 0) return LastResult();
  return kSuccess;
}

ResultCode FileHandle::SeekToEnd(uint64_t* position) const {
  off_t end = ::lseek(fd_, 0, SEEK_END);
  if (end < 0) return LastResult();
  if (position) *position = static_cast<uint64_t>(end);
  return kSuccess;
}

bool FileHandle::IsBlockDevice() const {
  struct stat st {};
  return fd_ >= 0 && ::fstat(fd_, &st) == 0 && S_ISBLK(st.st_mode);
}

ResultCode FileHandle::Size(uint64_t& size) const {
  struct stat st {};
  if (::fstat(fd_, &st) != 0) return LastResult();
  if (S_ISBLK(st.st_mode)) {
    uint64_t bytes = 0;
    if (::ioctl(fd_, BLKGETSIZE64, &bytes) != 0) return LastResult();
    size = bytes;
  } else {
    size = static_cast<uint64_t>(st.st_size);
  }
  return kSuccess;
}

ResultCode FileHandle::Truncate(uint64_t size) const {
  if (::ftruncate(fd_, static_cast<off_t>(size)) != 0) return LastResult(true);
  return kSuccess;
}

ResultCode FileHandle::Sync() const {
  if (::fsync(fd_) != 0) return LastResult(true);
  return kSuccess;
}

ResultCode OpenFile(const std::string& path, OpenMode mode, FileHandle& out) {
  out.Close();
  int flags = O_CLOEXEC;
  switch (mode) {
    case OpenMode::ReadOnly: flags |= O_RDONLY; break;
    case OpenMode::ReadWrite: flags |= O_RDWR | O_CREAT; break;
    case OpenMode::CreateAlways: flags |= O_RDWR | O_CREAT | O_TRUNC; break;
    case OpenMode::CreateNew: flags |= O_RDWR | O_CREAT | O_EXCL; break;
  }
  int fd;
  do {
    fd = ::open(path.c_str(), flags, 0644);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return LastResult(mode != OpenMode::ReadOnly);
  out = FileHandle(fd, path);
  return kSuccess;
}

ResultCode WriteAll(const FileHandle& handle, const void* buffer, size_t count) {
  const auto* p = static_cast<const uint8_t*>(buffer);
  while (count > 0) {
    ssize_t n = handle.Write(p, count);
    if (n < 0) return LastResult(true);
    if (n == 0) return kWriteFault;
    p += n;
    count -= static_cast<size_t>(n);
  }
  return kSuccess;
}

bool IsSameFile(const std::string& a, const std::string& b) {
  struct stat sa {}, sb {};
  if (::stat(a.c_str(), &sa) != 0 || ::stat(b.c_str(), &sb) != 0) return false;
  const bool deviceA = S_ISBLK(sa.st_mode) || S_ISCHR(sa.st_mode);
  const bool deviceB = S_ISBLK(sb.st_mode) || S_ISCHR(sb.st_mode);
  if (deviceA || deviceB)
    return deviceA && deviceB && (sa.st_mode & S_IFMT) == (sb.st_mode & S_IFMT) && sa.st_rdev == sb.st_rdev;
  return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

int OpenFlagsOf(const FileHandle& handle) { return ::fcntl(handle.fd(), F_GETFL); }

}  // namespace selvane
