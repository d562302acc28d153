// The installed selvane program driven as a user drives it: the demo; a scan
// that list and recover reuse without scanning again; the filters,
// --keep-paths and --preserve-times; --partition of MBR and GPT disk images;
// a destination on the source; a full destination; and the exit codes.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <set>

#include "support/cli_support.h"
#include "support/disk_builder.h"
#include "support/test_support.h"

namespace selvane {
namespace {

namespace fs = std::filesystem;
using test::RunSelvane;

std::string Env(const std::string& dataDir) { return "SELVANE_DATA_DIR=" + test::ShellQuote(dataDir); }

// The names of the files in a list --json output.
std::multiset<std::string> ListedNames(const std::string& out) {
  std::multiset<std::string> names;
  for (const std::string& line : test::Lines(out)) {
    auto fields = test::ParseJsonObject(line);
    if (!fields) {
      ADD_FAILURE() << "not a JSON object: " << line;
      continue;
    }
    if ((*fields)["folder"].text == "false") names.insert((*fields)["name"].text);
  }
  return names;
}

// Names of the regular files below a folder, by path relative to it.
std::set<std::string> FilesBelow(const std::string& folder) {
  std::set<std::string> files;
  std::error_code ec;
  for (const auto& entry : fs::recursive_directory_iterator(folder, ec))
    if (entry.is_regular_file()) files.insert(fs::relative(entry.path(), folder).string());
  return files;
}

// One deep scan of the demo image, made once and shared by the tests that only read it.
class DemoScan : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    image_ = test::DemoImage();
    if (image_.empty()) return;
    data_ = std::make_unique<test::TempDir>();
    scan_ = RunSelvane({"scan", image_, "--json", "--quiet"}, Env(data_->path()));
  }
  static void TearDownTestSuite() { data_.reset(); }
  void SetUp() override {
    if (image_.empty()) GTEST_SKIP() << "samples/demo.img.xz is missing";
    ASSERT_EQ(scan_.exitCode, 0) << scan_.err;
  }
  static std::string DataEnv() { return Env(data_->path()); }

  static inline std::string image_;
  static inline std::unique_ptr<test::TempDir> data_;
  static inline test::CommandResult scan_;
  test::TempDir dir_;
};

TEST(Demo, RecoversEverythingOnTheSampleDiskIntoTheWorkingFolder) {
  test::TempDir dir;
  const std::string cd = "cd " + test::ShellQuote(dir.path()) + " && ";
  const auto demo = RunSelvane({"demo"}, cd + Env(dir / "data"));
  ASSERT_EQ(demo.exitCode, 0) << demo.out << demo.err;
  EXPECT_TRUE(fs::is_regular_file(dir / "selvane-demo/photo/Urlaub 02.jpg"));
  for (const char* category : {"photo", "audio", "video", "document", "archive"})
    EXPECT_NE(demo.out.find(std::string(category) + " "), std::string::npos) << category << " in\n" << demo.out;

  // Every file on the sample disk comes back byte for byte: deleted and live
  // files of the FAT volume, the carved ones, those of the NTFS volume formatted over.
  const auto recovered = test::FilesByHash(dir / "selvane-demo");
  const auto manifest = test::DemoManifest();
  ASSERT_FALSE(manifest.empty());
  for (const test::DemoFile& file : manifest)
    EXPECT_EQ(recovered.count(file.sha256), 1u) << file.where << " " << file.path;

  // The demo keeps its scan like any other, and wants an empty folder.
  const auto scans = RunSelvane({"scans"}, Env(dir / "data"));
  EXPECT_EQ(scans.out.rfind("1 ", 0), 0u) << scans.out;
  const auto again = RunSelvane({"demo"}, cd + Env(dir / "data"));
  EXPECT_EQ(again.exitCode, 2);
  EXPECT_NE(again.err.find("not empty"), std::string::npos) << again.err;

  // A scan that is no longer wanted goes with its logs.
  EXPECT_EQ(RunSelvane({"scans", "--remove", "1"}, Env(dir / "data")).exitCode, 0);
  EXPECT_EQ(RunSelvane({"scans"}, Env(dir / "data")).exitCode, 1);
  EXPECT_EQ(RunSelvane({"list", "--scan", "1"}, Env(dir / "data")).exitCode, 2);
  EXPECT_FALSE(fs::exists(dir / "data/ScanLog/1"));
}

TEST_F(DemoScan, ListAndRecoverWorkFromTheScanWithoutScanningAgain) {
  const auto scans = RunSelvane({"scans"}, DataEnv());
  ASSERT_EQ(test::Lines(scans.out).size(), 1u) << scans.out;
  EXPECT_EQ(scans.out.rfind("1    " + image_ + "  deep  ", 0), 0u) << scans.out;
  EXPECT_NE(scans.out.find("  24 files"), std::string::npos) << scans.out;

  // The same records as the scan printed, without a scan.
  const auto listed = RunSelvane({"list", "--scan", "1", "--json"}, DataEnv());
  ASSERT_EQ(listed.exitCode, 0) << listed.err;
  EXPECT_EQ(listed.out, scan_.out);
  EXPECT_EQ(listed.err, "");

  const auto recovered = RunSelvane({"recover", "--scan", "1", "--to", dir_ / "out"}, DataEnv());
  ASSERT_EQ(recovered.exitCode, 0) << recovered.err;
  EXPECT_EQ(recovered.err.find("Deep scan"), std::string::npos) << recovered.err;
  EXPECT_NE(recovered.out.find("Recovered 24 of 24 files"), std::string::npos) << recovered.out;
  const auto hashes = test::FilesByHash(dir_ / "out");
  for (const test::DemoFile& file : test::DemoManifest()) EXPECT_EQ(hashes.count(file.sha256), 1u) << file.path;

  // Still the one scan.
  EXPECT_EQ(RunSelvane({"scans"}, DataEnv()).out, scans.out);
  // Without --scan, list takes the newest scan and says which.
  const auto newest = RunSelvane({"list"}, DataEnv());
  EXPECT_EQ(newest.exitCode, 0);
  EXPECT_NE(newest.err.find("scan 1"), std::string::npos) << newest.err;
}

TEST(ReusedScan, SurvivesATouchedImageAndWarnsOfAChangedOne) {
  const std::string demo = test::DemoImage();
  if (demo.empty()) GTEST_SKIP() << "samples/demo.img.xz is missing";
  test::TempDir dir;
  const std::string image = dir / "card.img";
  fs::copy_file(demo, image);
  const std::string env = Env(dir / "data");
  const auto scan = RunSelvane({"scan", image, "--json", "--quiet"}, env);
  ASSERT_EQ(scan.exitCode, 0) << scan.err;

  // A new modification time would make a deep scan start afresh (and drop the
  // earlier one); listing the scan neither drops it nor needs it unchanged.
  fs::last_write_time(image, fs::file_time_type::clock::now() + std::chrono::hours(1));
  const auto touched = RunSelvane({"list", "--scan", "1", "--json"}, env);
  EXPECT_EQ(touched.exitCode, 0) << touched.err;
  EXPECT_EQ(touched.out, scan.out);
  EXPECT_EQ(touched.err, "");

  // Changed bytes at the start of the volume: a warning, and the list still.
  {
    std::fstream file(image, std::ios::in | std::ios::out | std::ios::binary);
    file.seekp(100);
    file.put('\x55');
  }
  const auto changed = RunSelvane({"list", "--scan", "1", "--json"}, env);
  EXPECT_EQ(changed.exitCode, 0) << changed.err;
  EXPECT_NE(changed.err.find("changed since scan 1"), std::string::npos) << changed.err;

  // A different file under the same name is refused.
  fs::resize_file(image, fs::file_size(image) + 512);
  const auto other = RunSelvane({"list", "--scan", "1"}, env);
  EXPECT_EQ(other.exitCode, 3);
  EXPECT_NE(other.err.find("size changed"), std::string::npos) << other.err;
  EXPECT_EQ(test::Lines(RunSelvane({"scans"}, env).out).size(), 1u);
}

TEST_F(DemoScan, FiltersSelectTheFilesOfListAndRecover) {
  const std::multiset<std::string> urlaub = {"Urlaub 01.jpg", "Urlaub 02.jpg", "Urlaub 03.jpg", "Urlaub 04.jpg",
                                             "Urlaub 05.jpg", "Urlaub 06.jpg", "Urlaub 07.jpg", "Urlaub 08.jpg"};
  std::multiset<std::string> jpegs = urlaub;
  jpegs.insert({"Sommer_2015_01.jpg", "Sommer_2015_02.jpg", "Sommer_2015_03.jpg", "83984.jpg"});
  std::multiset<std::string> photos = jpegs;
  photos.insert({"84035.png", "84177.gif"});
  std::multiset<std::string> urlaubAll = urlaub;
  urlaubAll.insert("Urlaub.mp4");
  struct Case {
    std::vector<std::string> filter;
    std::multiset<std::string> names;
  };
  const Case cases[] = {
      {{"--category", "photo"}, photos},
      {{"--type", "jpg"}, jpegs},
      {{"--type", "JPEG"}, jpegs},
      {{"--type", "doc"}, {"Bewerbung.docx", "Notizen.doc"}},
      {{"--type", "pdf,wav"}, {"Brief an Frau Beispiel.pdf", "Rechnung 2015.pdf", "84203.wav"}},
      {{"--type", "pdf", "--type", "mp3"}, {"Brief an Frau Beispiel.pdf", "Rechnung 2015.pdf", "Melodie.mp3"}},
      {{"--name", "urlaub*"}, urlaubAll},
      {{"--path", "/Dokumente/*"}, {"Brief an Frau Beispiel.pdf", "Bewerbung.docx", "Notizen.doc", "Haushalt 2023.xlsx"}},
      {{"--path", "/dokumente/briefe/*", "--type", "pdf"}, {"Brief an Frau Beispiel.pdf"}},
      {{"--min-size", "50K"}, {"84035.png"}},
      {{"--max-size", "1k"}, {"84177.gif", "Einkaufsliste.txt"}},
      {{"--min-size", "19000", "--max-size", "19040"}, {"Urlaub 06.jpg", "Urlaub 07.jpg", "Urlaub 08.jpg"}},
      {{"--min-size", "18.5K", "--max-size", "19KiB"},
       {"Urlaub 02.jpg", "Urlaub 05.jpg", "Urlaub 06.jpg", "Urlaub 07.jpg", "Urlaub 08.jpg"}},
      {{"--category", "video,audio", "--intact"}, {"Urlaub.mp4", "Melodie.mp3", "84203.wav"}},
      {{"--category", "others"}, {}},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = {"list", "--scan", "1", "--json"};
    args.insert(args.end(), c.filter.begin(), c.filter.end());
    const auto listed = RunSelvane(args, DataEnv());
    EXPECT_EQ(listed.exitCode, c.names.empty() ? 1 : 0) << c.filter[0] << " " << c.filter[1] << listed.err;
    EXPECT_EQ(ListedNames(listed.out), c.names) << c.filter[0] << " " << c.filter[1];
  }

  // recover takes the same filters.
  const auto recovered = RunSelvane({"recover", "--scan", "1", "--to", dir_ / "out", "--type", "doc"}, DataEnv());
  ASSERT_EQ(recovered.exitCode, 0) << recovered.err;
  EXPECT_EQ(FilesBelow(dir_ / "out"), (std::set<std::string>{"document/Bewerbung.docx", "document/Notizen.doc"}));

  for (const std::vector<std::string>& bad :
       {std::vector<std::string>{"--category", "pictures"}, {"--min-size", "lots"}, {"--max-size", "-5"}}) {
    std::vector<std::string> args = {"list", "--scan", "1"};
    args.insert(args.end(), bad.begin(), bad.end());
    EXPECT_EQ(RunSelvane(args, DataEnv()).exitCode, 2) << bad[0] << " " << bad[1];
  }
}

TEST_F(DemoScan, KeepPathsRecreatesTheFoldersAndPreserveTimesTheTimes) {
  const auto recovered = RunSelvane({"recover", "--scan", "1", "--to", dir_ / "out", "--category", "photo",
                                     "--keep-paths", "--preserve-times"},
                                    DataEnv());
  ASSERT_EQ(recovered.exitCode, 0) << recovered.err;
  const auto files = FilesBelow(dir_ / "out");
  for (const char* path : {"photo/Fotos/Urlaub 2023/Urlaub 02.jpg", "photo/Fotos/Sommer 2015/Sommer_2015_01.jpg",
                           "photo/83984.jpg"})
    EXPECT_EQ(files.count(path), 1u) << path;
  EXPECT_EQ(files.size(), 14u);

  // The FAT volume's files were written at 2019-07-01 12:00:00 UTC; carved
  // files have no times and keep the time they were written.
  const auto stamp = [&](const std::string& path) {
    struct stat st {};
    EXPECT_EQ(::stat((dir_ / path).c_str(), &st), 0) << path;
    return st.st_mtim.tv_sec;
  };
  EXPECT_EQ(stamp("out/photo/Fotos/Urlaub 2023/Urlaub 02.jpg"), 1561982400);
  EXPECT_GT(stamp("out/photo/83984.jpg"), 1561982400 + 86400);

  // Without the options: category folders only, times of the recovery.
  const auto plain = RunSelvane({"recover", "--scan", "1", "--to", dir_ / "plain", "--name", "Urlaub 02.jpg"}, DataEnv());
  ASSERT_EQ(plain.exitCode, 0) << plain.err;
  EXPECT_EQ(FilesBelow(dir_ / "plain"), std::set<std::string>{"photo/Urlaub 02.jpg"});
  EXPECT_GT(stamp("plain/photo/Urlaub 02.jpg"), 1561982400 + 86400);
}

TEST(Partition, ScansOnePartitionOfAnMbrDiskImageLikeAPartitionOfADrive) {
  const std::string image = test::DemoImage();
  if (image.empty()) GTEST_SKIP() << "samples/demo.img.xz is missing";
  test::TempDir dir;
  const std::string env = Env(dir / "data");

  // The FAT32 volume in partition 1: its deleted files, with their folders,
  // found by the FAT engine as on a drive's partition.
  const auto first = RunSelvane({"scan", image, "--partition", "1", "--mode", "fast", "--json"}, env);
  ASSERT_EQ(first.exitCode, 0) << first.err;
  EXPECT_NE(first.out.find("\"path\":\"/Fotos/Urlaub 2023/Urlaub 02.jpg\""), std::string::npos) << first.out;
  EXPECT_NE(first.out.find("\"engine\":\"fat\""), std::string::npos);
  EXPECT_EQ(first.out.find("Sommer"), std::string::npos);

  // Partition 2 in deep mode: the files of the NTFS volume that was formatted over.
  const auto second = RunSelvane({"scan", image, "--partition", "2", "--json", "--quiet"}, env);
  ASSERT_EQ(second.exitCode, 0) << second.err;
  EXPECT_NE(second.out.find("\"path\":\"/Fotos/Sommer 2015/Sommer_2015_01.jpg\""), std::string::npos) << second.out;
  EXPECT_EQ(second.out.find("Urlaub"), std::string::npos);

  // Recovering from a partition's scan opens the partition again.
  const auto recovered = RunSelvane({"recover", "--scan", "2", "--to", dir / "out"}, env);
  ASSERT_EQ(recovered.exitCode, 0) << recovered.err;
  const auto hashes = test::FilesByHash(dir / "out");
  for (const test::DemoFile& file : test::DemoManifest())
    EXPECT_EQ(hashes.count(file.sha256), file.where == "ntfs-formatted" ? 1u : 0u) << file.path;

  const auto missing = RunSelvane({"scan", image, "--partition", "3"}, env);
  EXPECT_EQ(missing.exitCode, 2);
  EXPECT_NE(missing.err.find("partitions 1 and 2"), std::string::npos) << missing.err;
  // The whole disk in fast mode holds no file system at its start: a hint names the partitions.
  const auto whole = RunSelvane({"scan", image, "--mode", "fast"}, env);
  EXPECT_EQ(whole.exitCode, 3);
  EXPECT_NE(whole.err.find("--partition"), std::string::npos) << whole.err;
}

TEST(Partition, ReadsAGptDiskImage) {
  const std::string volume = test::Fixture("fat16.img");
  if (volume.empty()) GTEST_SKIP() << "fat16.img is not in the build tree";
  test::TempDir dir;
  const uint64_t sectors = fs::file_size(volume) / 512;
  test::DiskImageBuilder disk(dir / "gpt.img", 2048 + sectors + 2048);
  disk.WriteGpt({{0, 2048, sectors}});
  disk.WriteAtSector(2048, test::ReadFile(volume));

  const std::string env = Env(dir / "data");
  const auto direct = RunSelvane({"scan", volume, "--mode", "fast", "--json"}, env);
  const auto inside = RunSelvane({"scan", disk.path(), "--mode", "fast", "--partition", "1", "--json"}, env);
  ASSERT_EQ(inside.exitCode, 0) << inside.err;
  // The same files as the volume on its own (the scan numbers differ).
  auto withoutScan = [](const std::string& out) {
    std::multiset<std::string> lines;
    for (const std::string& line : test::Lines(out)) lines.insert(line.substr(line.find(',')));
    return lines;
  };
  EXPECT_EQ(withoutScan(inside.out), withoutScan(direct.out));
  EXPECT_GT(withoutScan(inside.out).size(), 5u);
}

TEST(Recover, RefusesADestinationOnTheSourceOfAnEarlierScan) {
  const std::string fixture = test::Fixture("ntfs.img");
  if (fixture.empty()) GTEST_SKIP() << "ntfs.img is not in the build tree";
  if (::geteuid() != 0) GTEST_SKIP() << "mounting needs root";
  test::TempDir dir;
  const std::string image = dir / "stick.img";
  fs::copy_file(fixture, image);
  const std::string env = Env(dir / "data");
  ASSERT_EQ(RunSelvane({"scan", image, "--mode", "fast", "--quiet"}, env).exitCode, 0);

  const std::string mountPoint = dir / "mnt";
  fs::create_directory(mountPoint);
  if (test::RunShell("ntfs-3g -o ro " + test::ShellQuote(image) + " " + test::ShellQuote(mountPoint) + " 2>/dev/null")
          .exitCode != 0)
    GTEST_SKIP() << "ntfs-3g cannot mount here";
  const auto refused = RunSelvane({"recover", "--scan", "1", "--to", mountPoint + "/rescued"}, env);
  const auto forced = RunSelvane({"recover", "--scan", "1", "--to", mountPoint + "/rescued", "--force"}, env);
  test::RunShell("umount " + test::ShellQuote(mountPoint));
  EXPECT_EQ(refused.exitCode, 2) << refused.err;
  EXPECT_NE(refused.err.find("--force"), std::string::npos) << refused.err;
  EXPECT_EQ(refused.out, "");
  // Forced, it tries (and the read-only mount makes every file fail).
  EXPECT_EQ(forced.exitCode, 4) << forced.err;
}

TEST_F(DemoScan, AFullDestinationKeepsAndCountsTheFilesWritten) {
  if (::geteuid() != 0) GTEST_SKIP() << "mounting a small file system needs root";
  const std::string small = dir_ / "small";
  fs::create_directory(small);
  if (::mount("tmpfs", small.c_str(), "tmpfs", 0, "size=96k") != 0) GTEST_SKIP() << "tmpfs cannot be mounted here";
  const auto full = RunSelvane({"recover", "--scan", "1", "--to", small + "/out", "--category", "photo"}, DataEnv());
  const size_t written = FilesBelow(small + "/out").size();
  ::umount(small.c_str());
  EXPECT_EQ(full.exitCode, 4) << full.err;
  EXPECT_NE(full.err.find("destination is full"), std::string::npos) << full.err;
  EXPECT_GT(written, 0u);
  EXPECT_LT(written, 14u);
  // The summary counts the files written whole; the last one may be there, cut short.
  const size_t at = full.out.find("Recovered ");
  ASSERT_NE(at, std::string::npos) << full.out;
  const size_t counted = std::stoul(full.out.substr(at + 10));
  EXPECT_TRUE(counted == written || counted + 1 == written) << full.out << " with " << written << " files there";
  EXPECT_NE(full.out.find(" of 14 files"), std::string::npos) << full.out;
}

TEST(ExitCodes, TellWhatHappened) {
  test::TempDir dir;
  const std::string env = Env(dir / "data");
  const std::string zeros = dir / "zeros.img";
  test::WriteFile(zeros, std::vector<uint8_t>(1 << 20, 0));
  const std::string text = dir / "notes.txt";
  test::WriteFile(text, std::vector<uint8_t>(100, 'a'));
  struct Case {
    std::vector<std::string> args;
    int exitCode;
    const char* message;  // in stderr
  };
  const Case cases[] = {
      {{}, 2, "Usage"},
      {{"frobnicate"}, 2, "unknown command"},
      {{"scan"}, 2, "SOURCE"},
      {{"scan", zeros, "--mode", "slow"}, 2, "deep or fast"},
      {{"scan", zeros, "--partition", "x"}, 2, "--partition"},
      {{"scan", zeros, "--resume", "--restart"}, 2, "exclude"},
      {{"scan", dir / "missing.img"}, 3, "no such file"},
      {{"scan", "/dev/selvane-no-such-disk"}, 3, "selvane disks"},
      {{"scan", zeros, "--mode", "fast"}, 3, "no NTFS or FAT"},
      {{"scan", zeros, "--quiet"}, 1, ""},
      {{"list", "--scan", "99"}, 2, "no scan 99"},
      {{"recover", "--scan", "1"}, 2, "--to"},
      {{"recover", zeros}, 2, "--to"},
      {{"recover", zeros, "--scan", "1", "--to", dir / "out"}, 2, "not both"},
      {{"identify", text}, 1, ""},
      {{"identify", dir / "missing.jpg"}, 3, "no such file"},
  };
  for (const Case& c : cases) {
    const auto result = RunSelvane(c.args, env);
    const std::string shown = c.args.empty() ? "(none)" : c.args[0] + (c.args.size() > 1 ? " " + c.args[1] : "");
    EXPECT_EQ(result.exitCode, c.exitCode) << shown << "\n" << result.err;
    EXPECT_NE(result.err.find(c.message), std::string::npos) << shown << "\n" << result.err;
  }
  // An unreadable source names the way out.
  if (::geteuid() == 0 && test::RunShell("command -v setpriv >/dev/null").exitCode == 0) {
    const std::string locked = dir / "locked.img";
    test::WriteFile(locked, std::vector<uint8_t>(1 << 16, 0));
    fs::permissions(locked, fs::perms::owner_read | fs::perms::owner_write);
    fs::permissions(dir.path(), fs::perms::all);
    const auto denied = RunSelvane({"scan", locked}, "setpriv --reuid=65534 --regid=65534 --clear-groups env " + env);
    EXPECT_EQ(denied.exitCode, 3) << denied.err;
    EXPECT_NE(denied.err.find("permission denied"), std::string::npos) << denied.err;
  }
}

}  // namespace
}  // namespace selvane
