// Sources are only ever read: "scan" (fast and deep), "recover" and "image" run
// under strace, and every open of the source (by its own path or the file it
// links to) must ask for reading alone — no O_WRONLY, O_RDWR, O_CREAT or O_TRUNC.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "support/data_dir.h"
#include "support/test_support.h"

namespace selvane {
namespace {

bool HaveStrace() { return test::RunShell("command -v strace >/dev/null 2>&1").exitCode == 0; }

struct OpenCall {
  std::string line;
  bool writable = false;
};

// The open calls of a strace log that name one of `paths`.
std::vector<OpenCall> OpensOf(const std::string& log, const std::vector<std::string>& paths) {
  std::vector<OpenCall> calls;
  std::ifstream in(log);
  for (std::string line; std::getline(in, line);) {
    if (line.find("open") == std::string::npos && line.find("creat(") == std::string::npos) continue;
    bool named = false;
    for (const std::string& path : paths) named = named || line.find("\"" + path + "\"") != std::string::npos;
    if (!named) continue;
    OpenCall call{line, false};
    for (const char* flag : {"O_WRONLY", "O_RDWR", "O_CREAT", "O_TRUNC"})
      call.writable = call.writable || line.find(flag) != std::string::npos;
    call.writable = call.writable || line.find("creat(") != std::string::npos;
    calls.push_back(call);
  }
  return calls;
}

class ReadOnlySources : public testing::Test {
 protected:
  void SetUp() override {
    if (!HaveStrace()) GTEST_SKIP() << "strace is not installed (tools/install-deps.sh installs it)";
  }

  // Runs selvane under strace and checks every open of the source paths.
  void ExpectOnlyReads(const std::vector<std::string>& args, const std::vector<std::string>& sourcePaths,
                       const std::string& what) {
    const std::string log = dir_ / ("strace-" + std::to_string(++runs_) + ".log");
    const auto result = test::RunSelvane(args, "strace -f -qq -s 4096 -e trace=open,openat,openat2,creat -o '" + log + "'");
    EXPECT_TRUE(result.exitCode == 0 || result.exitCode == 1) << what << ": exit " << result.exitCode << "\n"
                                                             << result.err;
    const auto calls = OpensOf(log, sourcePaths);
    EXPECT_FALSE(calls.empty()) << what << ": the source was never opened (strace log " << log << ")";
    for (const OpenCall& call : calls) EXPECT_FALSE(call.writable) << what << ": " << call.line;
  }

  test::DataDirScope data_;
  test::TempDir dir_;
  int runs_ = 0;
};

TEST_F(ReadOnlySources, ScanRecoverAndImageOpenTheSourceForReadingOnly) {
  const std::string fixture = test::Fixture("fat12.img");
  if (fixture.empty()) GTEST_SKIP() << "fat12.img is not in the build tree";
  const std::string image = dir_ / "source.img";
  std::filesystem::copy_file(fixture, image);
  const std::string before = test::Sha256OfFile(image);

  ExpectOnlyReads({"scan", image, "--mode", "fast", "--json"}, {image}, "scan --mode fast");
  ExpectOnlyReads({"scan", image, "--mode", "deep", "--restart", "--json"}, {image}, "scan --mode deep");
  ExpectOnlyReads({"recover", image, "--mode", "fast", "--to", dir_ / "fast"}, {image}, "recover --mode fast");
  ExpectOnlyReads({"recover", image, "--restart", "--to", dir_ / "deep"}, {image}, "recover --mode deep");

  // A whole drive (its node links to the image) copied by "image".
  test::FakeSysfs sysfs{dir_.path() / "root"};
  sysfs.AddDisk("sdb", image, std::filesystem::file_size(image) / 512, 512, true, "usb1/1-1/1-1:1.0/host6");
  ExpectOnlyReads({"image", sysfs.DevPath("sdb"), dir_ / "copy.img"}, {sysfs.DevPath("sdb"), image}, "image");
  EXPECT_EQ(test::Sha256OfFile(dir_ / "copy.img"), before);

  EXPECT_EQ(test::Sha256OfFile(image), before);
}

}  // namespace
}  // namespace selvane
