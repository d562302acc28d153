// "selvane scan" and "selvane recover" in deep mode on real images: every old
// file of a formatted volume, of both partitions of a whole-disk image and of
// a volume with an unknown file system comes back byte for byte (and under
// its old folder path); a file found twice is listed once; a stopped scan is
// resumed with --resume, started afresh with --restart, and stopped by Ctrl-C.
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

#include "engine/professional_recovery.h"
#include "engine/recovery_factory.h"
#include "support/carving_support.h"
#include "support/data_dir.h"
#include "support/test_support.h"

namespace selvane {
namespace {

using test::RunSelvane;

struct ExpectedFile {
  std::string sha256, path;  // path empty for carved files, which have no name to keep
  bool deleted = false;
};

// The files a deep scan must give back: live and deleted files of a volume
// manifest, or the exactly measured samples of the carving image.
std::vector<ExpectedFile> ExpectedFiles(const std::string& fixture) {
  std::vector<ExpectedFile> files;
  const std::string manifest = test::Fixture(fixture + ".manifest");
  if (fixture == "carving") {
    for (const auto& sample : test::ReadCarvingManifest(manifest))
      if (sample.rule == "exact") files.push_back({sample.sha256, ""});
    return files;
  }
  std::ifstream in(manifest);
  for (std::string line; std::getline(in, line);) {
    std::istringstream fields(line);
    std::string state, sha256, path;
    uint64_t size = 0;
    fields >> state >> sha256 >> size;
    std::getline(fields >> std::ws, path);
    if (state == "live" || state == "deleted") files.push_back({sha256, path, state == "deleted"});
  }
  return files;
}

// sha256 -> how many recovered files have it.
std::map<std::string, int> RecoveredHashes(const std::string& folder) {
  std::map<std::string, int> hashes;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(folder))
    if (entry.is_regular_file()) ++hashes[test::Sha256OfFile(entry.path().string())];
  return hashes;
}

// The lines of --json output without their record numbers, which depend on
// the order logs were written in.
std::multiset<std::string> JsonLines(const std::string& out) {
  std::multiset<std::string> lines;
  std::istringstream in(out);
  for (std::string line; std::getline(in, line);) lines.insert(line.substr(0, line.find(",\"record\":")));
  return lines;
}

class DeepScanCli : public testing::TestWithParam<const char*> {
 protected:
  test::DataDirScope data_;
  test::TempDir dir_;
};

// The old files of a volume quick-formatted again and of an NTFS volume
// formatted as FAT32, the files of both partitions of an MBR disk image, and
// the carvable files of a volume whose file system is unknown.
TEST_P(DeepScanCli, RecoversEveryFileByteForByte) {
  const std::string fixture = GetParam();
  const std::string image = test::Fixture(fixture + ".img");
  if (image.empty()) GTEST_SKIP() << fixture << ".img is not in the build tree";
  const auto expected = ExpectedFiles(fixture);
  ASSERT_FALSE(expected.empty());

  const auto recovered = RunSelvane({"recover", image, "--mode", "deep", "--to", dir_ / "out"});
  ASSERT_EQ(recovered.exitCode, 0) << recovered.err;
  const auto hashes = RecoveredHashes(dir_ / "out");
  for (const ExpectedFile& file : expected) {
    EXPECT_TRUE(hashes.count(file.sha256)) << fixture << ": " << (file.path.empty() ? file.sha256 : file.path);
    // A file that a file-system engine found is not carved a second time.
    if (hashes.count(file.sha256)) {
      EXPECT_EQ(hashes.at(file.sha256), 1) << fixture << ": " << file.path;
    }
  }

  // Old folder paths are kept (deep is the default mode).
  const auto listed = RunSelvane({"scan", image, "--json"});
  ASSERT_EQ(listed.exitCode, 0) << listed.err;
  for (const ExpectedFile& file : expected) {
    if (file.path.empty()) continue;
    std::string shown = file.path;
    // An 8.3-only name is shown in small letters; a deleted one has lost its first letter.
    const size_t start = shown.rfind('/') + 1;
    const std::string name = shown.substr(start);
    if (name.find(' ') == std::string::npos && std::none_of(name.begin(), name.end(), ::islower)) {
      for (size_t i = start; i < shown.size(); ++i) shown[i] = static_cast<char>(std::tolower(shown[i]));
      if (file.deleted && fixture != "ntfs-as-fat32") shown[start] = '!';
    }
    EXPECT_NE(listed.out.find("\"path\":\"" + shown + "\""), std::string::npos) << fixture << ": " << shown;
  }
}

INSTANTIATE_TEST_SUITE_P(Images, DeepScanCli,
                         testing::Values("fat32-reformatted", "ntfs-as-fat32", "disk-mbr", "carving"),
                         [](const auto& info) {
                           std::string name = info.param;
                           std::replace(name.begin(), name.end(), '-', '_');
                           return name;
                         });

// A whole drive: each partition gets its deleted-file phase and a walk of its
// free space, and the history keeps one entry per partition.
TEST(DeepScanDrive, ScansEachPartitionOfTheDrive) {
  const std::string fixture = test::Fixture("disk-mbr.img");
  if (fixture.empty()) GTEST_SKIP() << "disk-mbr.img is not in the build tree";
  test::DataDirScope data;
  test::TempDir dir;
  test::FakeSysfs sysfs{dir.path() / "root"};
  sysfs.AddDisk("sdb", fixture, 116736, 512, true, "usb1/1-1/1-1:1.0/host6/target6:0:0/6:0:0:0");
  sysfs.AddPartition("sdb", "sdb1", 1, 2048, 81920);
  sysfs.AddPartition("sdb", "sdb2", 2, 83968, 32768);

  const auto recovered = RunSelvane({"recover", sysfs.DevPath("sdb"), "--to", dir / "out"});
  ASSERT_EQ(recovered.exitCode, 0) << recovered.err;
  const auto hashes = RecoveredHashes(dir / "out");
  for (const ExpectedFile& file : ExpectedFiles("disk-mbr")) {
    if (file.deleted) {
      EXPECT_EQ(hashes.count(file.sha256), 1u) << file.path;
    }
  }

  CScanHistory::ResetForTests();
  const auto& entries = CScanHistory::Instance().Entries();
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].firstSector, 2048u);
  EXPECT_EQ(entries[1].firstSector, 83968u);
  EXPECT_EQ(entries[0].walk.runLength, 0u);

  const auto again = RunSelvane({"scan", sysfs.DevPath("sdb"), "--resume", "--json"});
  ASSERT_EQ(again.exitCode, 0) << again.err;
  EXPECT_NE(again.err.find("Resuming the deep scan of " + sysfs.DevPath("sdb1")), std::string::npos) << again.err;
  EXPECT_NE(again.err.find("Resuming the deep scan of " + sysfs.DevPath("sdb2")), std::string::npos) << again.err;
  EXPECT_NE(again.out.find("\"path\":\"/Dokumente/Entwurf.txt\""), std::string::npos) << again.out;
}

class DeepScanResumeCli : public testing::Test {
 protected:
  void SetUp() override {
    const std::string fixture = test::Fixture("disk-mbr.img");
    if (fixture.empty()) GTEST_SKIP() << "disk-mbr.img is not in the build tree";
    image_ = dir_ / "disk.img";
    std::filesystem::copy_file(fixture, image_);
  }
  test::DataDirScope data_;
  test::TempDir dir_;
  std::string image_;
};

// A scan stopped part-way (here through the library, as the program's Ctrl-C
// does) is taken up by "--resume" and then lists what a scan that ran through
// lists; without an answer given in advance and without a terminal, the scan
// starts afresh.
TEST_F(DeepScanResumeCli, ResumeAndRestart) {
  {
    // The command line numbers image sources from 1001 and knows them by their absolute path.
    auto engine = CreateRecoveryForImage(image_, 1001, ScanMode::Professional);
    ASSERT_TRUE(engine);
    int reports = 0;
    engine->SetCallbacks(
        [&](int32_t, int32_t scale, int32_t, uint64_t, uint64_t, uint64_t) -> int32_t {
          return scale == CProfessionalRecovery::kWalkScale && ++reports == 300 ? kScanStopCode : 0;
        },
        nullptr, 100);
    ASSERT_EQ(engine->Scan(""), kScanStopCode);
  }
  const auto resumed = RunSelvane({"scan", image_, "--json", "--resume"});
  ASSERT_EQ(resumed.exitCode, 0) << resumed.err;
  EXPECT_NE(resumed.err.find("Resuming the deep scan"), std::string::npos) << resumed.err;

  const auto fresh = RunSelvane({"scan", image_, "--json", "--restart"});
  ASSERT_EQ(fresh.exitCode, 0) << fresh.err;
  EXPECT_EQ(fresh.err.find("Resuming"), std::string::npos) << fresh.err;
  EXPECT_EQ(JsonLines(resumed.out), JsonLines(fresh.out));
  EXPECT_GE(JsonLines(fresh.out).size(), 9u);

  // The finished scan is in the history; nobody is there to answer, so the scan starts afresh.
  const auto unattended = RunSelvane({"scan", image_, "--json"});
  ASSERT_EQ(unattended.exitCode, 0) << unattended.err;
  EXPECT_NE(unattended.err.find("is not resumed"), std::string::npos) << unattended.err;
  EXPECT_EQ(JsonLines(unattended.out), JsonLines(fresh.out));

  EXPECT_EQ(RunSelvane({"scan", image_, "--resume", "--restart"}).exitCode, 2);
  EXPECT_EQ(RunSelvane({"recover", image_, "--to", dir_ / "out", "--resume", "--restart"}).exitCode, 2);
}

// On a terminal the command asks whether to resume an earlier scan.
TEST_F(DeepScanResumeCli, AsksOnATerminal) {
  if (test::RunShell("command -v script >/dev/null").exitCode != 0) GTEST_SKIP() << "script(1) is not installed";
  ASSERT_EQ(RunSelvane({"scan", image_}).exitCode, 0);
  auto onTerminal = [&](const char* answer) {
    // script(1) runs the command on a pseudo-terminal fed with the answer.
    return test::RunShell(std::string("printf '") + answer + "\\n' | script -qec \"" + SELVANE_CLI_PATH + " scan '" +
                          image_ + "'\" /dev/null 2>&1");
  };
  const auto yes = onTerminal("y");
  EXPECT_NE(yes.out.find("Resume it? [Y/n]"), std::string::npos) << yes.out;
  EXPECT_NE(yes.out.find("Resuming the deep scan"), std::string::npos) << yes.out;
  const auto no = onTerminal("n");
  EXPECT_NE(no.out.find("Resume it? [Y/n]"), std::string::npos) << no.out;
  EXPECT_EQ(no.out.find("Resuming the deep scan"), std::string::npos) << no.out;
  EXPECT_NE(no.out.find("Deep scan of"), std::string::npos) << no.out;
}

// Ctrl-C during the walk: the walks are finished, what was found is listed,
// the position is saved with a word on how to go on, and the exit code is 130.
TEST_F(DeepScanResumeCli, InterruptedByCtrlC) {
  // A large, mostly empty image: the carving samples at its start and at its end.
  const std::string carving = test::Fixture("carving.img");
  if (carving.empty()) GTEST_SKIP() << "carving.img is not in the build tree";
  const std::string image = dir_ / "large.img";
  constexpr uint64_t kSize = uint64_t{512} << 20;
  {
    const auto samples = test::ReadFile(carving);
    std::ofstream out(image, std::ios::binary);
    out.write(reinterpret_cast<const char*>(samples.data()), static_cast<std::streamsize>(samples.size()));
    out.seekp(static_cast<std::streamoff>(kSize - samples.size()));
    out.write(reinterpret_cast<const char*>(samples.data()), static_cast<std::streamsize>(samples.size()));
  }

  int err[2];
  ASSERT_EQ(::pipe(err), 0);
  const std::string outPath = dir_ / "stdout";
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::dup2(err[1], STDERR_FILENO);
    const int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ::dup2(out, STDOUT_FILENO);
    const int null = ::open("/dev/null", O_RDONLY);
    ::dup2(null, STDIN_FILENO);
    ::close(err[0]);
    ::execl(SELVANE_CLI_PATH, SELVANE_CLI_PATH, "scan", image.c_str(), "--json", static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ::close(err[1]);
  // Progress lines come as the bar moves; the signal follows the first line
  // beyond 15 %, when the walk is well past the samples at the start.
  std::string stderrText;
  bool signalled = false;
  char buffer[4096];
  for (ssize_t n; (n = ::read(err[0], buffer, sizeof buffer)) > 0;) {
    stderrText.append(buffer, static_cast<size_t>(n));
    for (size_t at = stderrText.find('%'); !signalled && at != std::string::npos; at = stderrText.find('%', at + 1)) {
      size_t digits = at;
      while (digits > 0 && std::isdigit(static_cast<unsigned char>(stderrText[digits - 1]))) --digits;
      if (digits < at && std::stoi(stderrText.substr(digits, at - digits)) > 15) {
        ::kill(child, SIGINT);
        signalled = true;
      }
    }
  }
  ::close(err[0]);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status)) << stderrText;
  if (WEXITSTATUS(status) == 0) GTEST_SKIP() << "the scan ended before the signal arrived";
  EXPECT_EQ(WEXITSTATUS(status), 130) << stderrText;
  EXPECT_NE(stderrText.find("--resume"), std::string::npos) << stderrText;

  // The samples at the start were found and listed; the position is saved.
  const std::vector<uint8_t> printed = test::ReadFile(outPath);
  const auto listedBefore = JsonLines(std::string(printed.begin(), printed.end()));
  EXPECT_GE(listedBefore.size(), 40u);
  CScanHistory::ResetForTests();
  const auto& entries = CScanHistory::Instance().Entries();
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_NE(entries[0].walk.runLength, 0u);
  EXPECT_LT(entries[0].walk.sectorsDone, kSize / 512);

  // Resumed, it finds the samples at the end too.
  const auto resumed = RunSelvane({"scan", image, "--json", "--resume"});
  ASSERT_EQ(resumed.exitCode, 0) << resumed.err;
  const auto listedAfter = JsonLines(resumed.out);
  EXPECT_TRUE(std::includes(listedAfter.begin(), listedAfter.end(), listedBefore.begin(), listedBefore.end()));
  EXPECT_GE(listedAfter.size(), 2 * listedBefore.size() - 2);
}

}  // namespace
}  // namespace selvane
