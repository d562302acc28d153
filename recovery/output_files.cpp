#include "recovery/output_files.h"

#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/text.h"

namespace selvane {
namespace {

constexpr size_t kMaxNameBytes = 255;         // the limit of Linux file systems
constexpr size_t kMaxKeptExtensionBytes = 32;  // a longer "extension" is cut like the rest

// Bytes that no name may hold: the separator, NUL and other control
// characters, and the characters Windows file systems reject (a FAT, exFAT or
// NTFS stick is a common destination).
bool IsForbiddenByte(unsigned char c) {
  if (c < 0x20 || c == 0x7F) return true;
  switch (c) {
    case '/': case '\\': case ':': case '*': case '?': case '"': case '<': case '>': case '|': return true;
    default: return false;
  }
}

// Length of the valid UTF-8 sequence at text[i], 0 when none starts there.
size_t Utf8SequenceLength(std::string_view text, size_t i) {
  auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
  unsigned char b = byte(i);
  if (b < 0x80) return 1;
  size_t length = (b & 0xE0) == 0xC0 ? 2 : (b & 0xF0) == 0xE0 ? 3 : (b & 0xF8) == 0xF0 ? 4 : 0;
  if (length == 0 || i + length > text.size()) return 0;
  for (size_t k = 1; k < length; ++k)
    if ((byte(i + k) & 0xC0) != 0x80) return 0;
  // Overlong forms, surrogates and values past U+10FFFF are not characters.
  uint32_t cp = length == 2 ? (b & 0x1F) : length == 3 ? (b & 0x0F) : (b & 0x07);
  for (size_t k = 1; k < length; ++k) cp = (cp << 6) | (byte(i + k) & 0x3F);
  static constexpr uint32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
  if (cp < kSmallest[length] || (cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) return 0;
  return length;
}

bool IsClimbingComponent(std::string_view component) { return component == "." || component == ".."; }

// Checks that no component of path is "." or "..".
bool HasClimbingComponent(std::string_view path) {
  size_t start = 0;
  while (start <= path.size()) {
    size_t slash = path.find('/', start);
    std::string_view component = path.substr(start, slash == std::string_view::npos ? path.npos : slash - start);
    if (IsClimbingComponent(component)) return true;
    if (slash == std::string_view::npos) break;
    start = slash + 1;
  }
  return false;
}

ResultCode MakeOneFolder(const std::string& folder) {
  if (::mkdir(folder.c_str(), 0755) == 0) return kSuccess;
  int err = errno;
  struct stat st {};
  if (err == EEXIST && ::stat(folder.c_str(), &st) == 0) return S_ISDIR(st.st_mode) ? kSuccess : kAlreadyExists;
  return ResultFromErrno(err, true);
}

std::string WithoutTrailingSlashes(std::string text) {
  while (text.size() > 1 && text.back() == '/') text.pop_back();
  return text;
}

}  // namespace

std::string SanitizeName(std::string_view nameFromDisk) {
  std::string name;
  name.reserve(nameFromDisk.size());
  for (size_t i = 0; i < nameFromDisk.size();) {
    size_t length = Utf8SequenceLength(nameFromDisk, i);
    if (length == 0 || (length == 1 && IsForbiddenByte(static_cast<unsigned char>(nameFromDisk[i])))) {
      name += '_';
      i += 1;
    } else {
      name.append(nameFromDisk.substr(i, length));
      i += length;
    }
  }
  if (name.empty()) return "_";
  if (IsClimbingComponent(name)) return std::string(name.size(), '_');

  if (name.size() > kMaxNameBytes) {
    size_t dot = name.rfind('.');
    size_t extension = (dot != std::string::npos && dot > 0 && name.size() - dot <= kMaxKeptExtensionBytes)
                           ? name.size() - dot
                           : 0;
    size_t stem = Utf8PrefixLength(std::string_view(name).substr(0, name.size() - extension), kMaxNameBytes - extension);
    name = name.substr(0, stem) + name.substr(name.size() - extension);
  }
  return name;
}

std::string JoinBelow(const std::string& folder, std::string_view nameFromDisk) {
  std::string base = WithoutTrailingSlashes(folder);
  if (base != "/") base += '/';
  return base + SanitizeName(nameFromDisk);
}

ResultCode CreateFolders(const std::string& folder) {
  if (folder.empty()) return kInvalidParameter;
  if (HasClimbingComponent(folder)) return kInvalidParameter;
  std::string path = WithoutTrailingSlashes(folder);
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0) return S_ISDIR(st.st_mode) ? kSuccess : kAlreadyExists;
  // Create each missing component from the top down.
  for (size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1)) {
    if (path[slash - 1] == '/') continue;  // "a//b"
    if (ResultCode rc = MakeOneFolder(path.substr(0, slash)); rc != kSuccess) return rc;
  }
  return MakeOneFolder(path);
}

ResultCode CreateOutputFile(const std::string& path, FileHandle& out) {
  out.Close();
  if (path.empty() || path.back() == '/' || HasClimbingComponent(path)) return kInvalidParameter;
  size_t slash = path.rfind('/');
  if (slash != std::string::npos && slash > 0) {
    if (ResultCode rc = CreateFolders(path.substr(0, slash)); rc != kSuccess) return rc;
  }
  // O_NONBLOCK keeps a FIFO in the way from blocking the open; only a regular
  // file is ever written (O_TRUNC does nothing to FIFOs and devices).
  int fd;
  do {
    fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0644);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return (errno == ELOOP || errno == ENXIO) ? kAccessDenied : LastResult(true);
  FileHandle file(fd, path);
  struct stat st {};
  if (::fstat(fd, &st) != 0) return LastResult();
  if (!S_ISREG(st.st_mode)) return kAccessDenied;
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  out = std::move(file);
  return kSuccess;
}

bool IsBelow(const std::string& path, const std::string& folder) {
  namespace fs = std::filesystem;
  std::error_code ec;
  std::string inner = fs::weakly_canonical(fs::absolute(path, ec), ec).string();
  if (ec) return false;
  std::string outer = fs::weakly_canonical(fs::absolute(folder, ec), ec).string();
  if (ec) return false;
  inner = WithoutTrailingSlashes(inner);
  outer = WithoutTrailingSlashes(outer);
  if (outer == "/") return true;
  return inner == outer || (inner.size() > outer.size() && inner.compare(0, outer.size(), outer) == 0 &&
                            inner[outer.size()] == '/');
}

}  // namespace selvane
