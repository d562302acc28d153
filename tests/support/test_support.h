// Helpers shared by the tests: scratch folders, files, fixtures, a fake sysfs
// tree, and running the selvane program.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace selvane::test {

// A fresh folder below the system's temporary folder, removed with its contents.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::string operator/(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes);
std::vector<uint8_t> ReadFile(const std::string& path);
std::string Sha256OfFile(const std::string& path);

// Path of an unpacked fixture image ("fat32.img"); empty when it is missing.
std::string Fixture(const std::string& name);

// A fake sysfs and /dev tree whose drives are image files. Sets
// SELVANE_SYSFS_ROOT and SELVANE_DEV_ROOT for the object's lifetime.
class FakeSysfs {
 public:
  explicit FakeSysfs(const std::filesystem::path& root);
  ~FakeSysfs();
  // Adds a disk whose node is a copy of (or link to) `image`. busPath is the part
  // of the device path that tells the bus ("usb1/1-1", "mmc_host/mmc0", "ata1").
  void AddDisk(const std::string& name, const std::string& image, uint64_t size512, uint32_t logicalBlockSize,
               bool removable, const std::string& busPath);
  void AddPartition(const std::string& disk, const std::string& name, uint32_t number, uint64_t start512,
                    uint64_t size512);
  std::string DevPath(const std::string& name) const;
  // Unplugs a disk: its sysfs folder, its link and the nodes of it and its partitions.
  void RemoveDisk(const std::string& name);
  // Writes an attribute file below the disk's sysfs folder ("diskseq", "device/model").
  void SetDiskAttribute(const std::string& disk, const std::string& attribute, const std::string& value);

 private:
  std::filesystem::path root_;
  std::string oldSysfs_, oldDev_;
  bool hadSysfs_ = false, hadDev_ = false;
};

struct CommandResult {
  int exitCode = -1;
  std::string out;
  std::string err;
};

// The installed selvane program the tests run (ctest installs it into the
// build tree first); "" after a failed check (a missing or outdated install),
// which the check reports as a test failure.
std::string SelvanePath();

// Runs the installed selvane program with arguments, capturing both streams.
// extraEnv is put in front of the command ("SELVANE_DATA_DIR=/tmp/x").
CommandResult RunSelvane(const std::vector<std::string>& args, const std::string& extraEnv = "");

// Quotes a text for the shell.
std::string ShellQuote(const std::string& text);

// Runs a shell command, returning its exit code and standard output.
CommandResult RunShell(const std::string& command);

}  // namespace selvane::test
