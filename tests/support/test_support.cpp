#include "support/test_support.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace selvane::test {

TempDir::TempDir() {
  std::random_device rd;
  for (;;) {
    fs::path candidate = fs::temp_directory_path() / ("selvane-test-" + std::to_string(rd()));
    std::error_code ec;
    if (fs::create_directory(candidate, ec)) {
      path_ = candidate;
      return;
    }
  }
}

TempDir::~TempDir() {
  std::error_code ec;
  fs::remove_all(path_, ec);
}

void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  fs::create_directories(fs::path(path).parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::vector<uint8_t> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

std::string Sha256OfFile(const std::string& path) {
  auto result = RunShell("sha256sum '" + path + "'");
  return result.out.substr(0, 64);
}

std::string Fixture(const std::string& name) {
  fs::path path = fs::path(SELVANE_FIXTURE_DIR) / name;
  return fs::exists(path) ? path.string() : std::string();
}

namespace {
void WriteText(const fs::path& path, const std::string& text) {
  fs::create_directories(path.parent_path());
  std::ofstream(path) << text << "\n";
}
void SaveEnv(const char* name, std::string& old, bool& had) {
  const char* value = std::getenv(name);
  had = value != nullptr;
  if (had) old = value;
}
void RestoreEnv(const char* name, const std::string& old, bool had) {
  if (had) ::setenv(name, old.c_str(), 1);
  else ::unsetenv(name);
}
}  // namespace

FakeSysfs::FakeSysfs(const fs::path& root) : root_(root) {
  fs::create_directories(root_ / "sys" / "block");
  fs::create_directories(root_ / "sys" / "devices");
  fs::create_directories(root_ / "dev");
  SaveEnv("SELVANE_SYSFS_ROOT", oldSysfs_, hadSysfs_);
  SaveEnv("SELVANE_DEV_ROOT", oldDev_, hadDev_);
  ::setenv("SELVANE_SYSFS_ROOT", (root_ / "sys").c_str(), 1);
  ::setenv("SELVANE_DEV_ROOT", (root_ / "dev").c_str(), 1);
}

FakeSysfs::~FakeSysfs() {
  RestoreEnv("SELVANE_SYSFS_ROOT", oldSysfs_, hadSysfs_);
  RestoreEnv("SELVANE_DEV_ROOT", oldDev_, hadDev_);
}

void FakeSysfs::AddDisk(const std::string& name, const std::string& image, uint64_t size512,
                        uint32_t logicalBlockSize, bool removable, const std::string& busPath) {
  // Like the kernel: /sys/block/<name> links to the device's folder, whose path
  // runs through its bus.
  fs::path device = root_ / "sys" / "devices" / "pci0000:00" / busPath / "block" / name;
  fs::create_directories(device / "queue");
  WriteText(device / "size", std::to_string(size512));
  WriteText(device / "removable", removable ? "1" : "0");
  WriteText(device / "queue" / "logical_block_size", std::to_string(logicalBlockSize));
  fs::create_directory_symlink(device, root_ / "sys" / "block" / name);
  if (!image.empty()) fs::create_symlink(fs::absolute(image), root_ / "dev" / name);
}

void FakeSysfs::AddPartition(const std::string& disk, const std::string& name, uint32_t number, uint64_t start512,
                             uint64_t size512) {
  fs::path folder = fs::canonical(root_ / "sys" / "block" / disk) / name;
  WriteText(folder / "partition", std::to_string(number));
  WriteText(folder / "start", std::to_string(start512));
  WriteText(folder / "size", std::to_string(size512));
  std::ofstream(root_ / "dev" / name).put('\0');
}

void FakeSysfs::RemoveDisk(const std::string& name) {
  std::error_code ec;
  fs::path folder = fs::canonical(root_ / "sys" / "block" / name, ec);
  if (!ec) {
    for (const auto& entry : fs::directory_iterator(folder, ec))
      if (fs::exists(entry.path() / "partition")) fs::remove(root_ / "dev" / entry.path().filename(), ec);
    fs::remove_all(folder, ec);
  }
  fs::remove(root_ / "sys" / "block" / name, ec);
  fs::remove(root_ / "dev" / name, ec);
}

void FakeSysfs::SetDiskAttribute(const std::string& disk, const std::string& attribute, const std::string& value) {
  WriteText(fs::canonical(root_ / "sys" / "block" / disk) / attribute, value);
}

std::string FakeSysfs::DevPath(const std::string& name) const { return (root_ / "dev" / name).string(); }

CommandResult RunShell(const std::string& command) {
  CommandResult result;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) return result;
  std::array<char, 4096> buffer;
  size_t n;
  while ((n = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0) result.out.append(buffer.data(), n);
  int status = ::pclose(pipe);
  result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

std::string ShellQuote(const std::string& arg) {
  std::string out = "'";
  for (char c : arg) {
    if (c == '\'') out += "'\\''";
    else out.push_back(c);
  }
  return out + "'";
}

std::string SelvanePath() {
  std::error_code ec;
  const auto installed = fs::last_write_time(SELVANE_CLI_PATH, ec);
  if (ec) {
    ADD_FAILURE() << SELVANE_CLI_PATH << " is not installed: run the tests through ctest, which installs first, or "
                  << "cmake --install <build> --prefix " << SELVANE_TEST_PREFIX;
    return {};
  }
  // Installing keeps the build's time, to the second.
  if (installed + std::chrono::seconds(1) < fs::last_write_time(SELVANE_BUILT_CLI_PATH, ec)) {
    ADD_FAILURE() << SELVANE_CLI_PATH << " is older than the program built: run the tests through ctest, or "
                  << "cmake --install <build> --prefix " << SELVANE_TEST_PREFIX;
    return {};
  }
  return SELVANE_CLI_PATH;
}

CommandResult RunSelvane(const std::vector<std::string>& args, const std::string& extraEnv) {
  const std::string program = SelvanePath();
  if (program.empty()) return {};
  TempDir scratch;
  std::string errPath = scratch / "stderr";
  std::string command = extraEnv + (extraEnv.empty() ? "" : " ") + ShellQuote(program);
  for (const auto& arg : args) {
    command += ' ';
    command += ShellQuote(arg);
  }
  command += " 2>";
  command += ShellQuote(errPath);
  command += " </dev/null";
  CommandResult result = RunShell(command);
  auto err = ReadFile(errPath);
  result.err.assign(err.begin(), err.end());
  return result;
}

}  // namespace selvane::test
