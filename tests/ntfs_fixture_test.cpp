// The scan and recover commands on the NTFS fixture volumes (made with mkntfs
// and filled through ntfs-3g): every deleted file is listed under its folder
// and comes back byte for byte.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <unistd.h>

#include "support/test_support.h"

namespace selvane {
namespace {

namespace fs = std::filesystem;
using test::RunSelvane;

struct ManifestEntry {
  std::string state;  // live, deleted, deleted-reused
  std::string sha256;
  uint64_t size = 0;
  std::string path;  // "/Folder/name"
};

struct Manifest {
  std::vector<ManifestEntry> entries;
  // Folders whose MFT record went to something else after they were deleted:
  // folder path -> record number.
  std::map<std::string, std::string> reusedFolders;
};

Manifest ReadManifest(const std::string& path) {
  Manifest m;
  std::ifstream in(path);
  std::string line;
  const std::regex reused(R"(^# (/[^ ]+) \(MFT record (\d+)\) was deleted)");
  while (std::getline(in, line)) {
    std::smatch match;
    if (std::regex_search(line, match, reused)) m.reusedFolders[match[1]] = match[2];
    if (line.empty() || line[0] == '#') continue;
    std::istringstream fields(line);
    ManifestEntry e;
    fields >> e.state >> e.sha256 >> e.size;
    std::getline(fields >> std::ws, e.path);
    if (e.state == "live" || e.state == "deleted" || e.state == "deleted-reused") m.entries.push_back(e);
  }
  return m;
}

// The path a deleted entry is listed under: a folder whose record was reused
// is gone, and its files are listed in "LostFolder<record>".
std::string ExpectedPath(const Manifest& m, const std::string& path) {
  for (const auto& [folder, record] : m.reusedFolders)
    if (path.rfind(folder + "/", 0) == 0) return "/LostFolder" + record + path.substr(folder.size());
  return path;
}

// The value of a string field of one JSON line (the writer's escapes undone).
std::string JsonString(const std::string& line, const std::string& key) {
  const std::string marker = "\"" + key + "\":\"";
  size_t at = line.find(marker);
  if (at == std::string::npos) return {};
  std::string out;
  for (size_t i = at + marker.size(); i < line.size() && line[i] != '"'; ++i) {
    if (line[i] == '\\' && i + 1 < line.size()) {
      const char c = line[++i];
      if (c == 'u' && i + 4 < line.size()) {
        out.push_back(static_cast<char>(std::stoi(line.substr(i + 1, 4), nullptr, 16)));
        i += 4;
      } else {
        out.push_back(c == 'n' ? '\n' : c == 't' ? '\t' : c == 'r' ? '\r' : c);
      }
    } else {
      out.push_back(line[i]);
    }
  }
  return out;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line))
    if (!line.empty()) lines.push_back(line);
  return lines;
}

class NtfsFixture : public testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    image_ = test::Fixture(std::string(GetParam()) + ".img");
    if (image_.empty()) GTEST_SKIP() << GetParam() << ".img is not in the build tree";
    manifest_ = ReadManifest(test::Fixture(std::string(GetParam()) + ".manifest"));
    ASSERT_FALSE(manifest_.entries.empty());
    env_ = "SELVANE_DATA_DIR=" + (dir_ / "data");
  }

  std::string image_;
  Manifest manifest_;
  test::TempDir dir_;
  std::string env_;
};

TEST_P(NtfsFixture, ScanListsEveryDeletedFileUnderItsFolder) {
  const auto result = RunSelvane({"scan", image_, "--mode", "fast", "--json"}, env_);
  ASSERT_EQ(result.exitCode, 0) << result.err;
  std::map<std::string, std::string> files;  // path -> line
  for (const std::string& line : Lines(result.out)) {
    for (const char* key : {"\"name\":", "\"path\":", "\"size\":", "\"folder\":", "\"intact\":", "\"engine\":\"ntfs\"",
                            "\"created\":", "\"modified\":", "\"record\":"})
      EXPECT_NE(line.find(key), std::string::npos) << key << " in " << line;
    if (line.find("\"folder\":false") != std::string::npos) files[JsonString(line, "path")] = line;
  }
  size_t deleted = 0;
  for (const ManifestEntry& e : manifest_.entries) {
    if (e.state == "live") {
      EXPECT_EQ(files.count(e.path), 0u) << "a live file is listed: " << e.path;
      continue;
    }
    ++deleted;
    const std::string path = ExpectedPath(manifest_, e.path);
    ASSERT_EQ(files.count(path), 1u) << path << " missing from\n" << result.out;
    EXPECT_NE(files[path].find("\"size\":" + std::to_string(e.size) + ","), std::string::npos) << files[path];
  }
  EXPECT_EQ(files.size(), deleted);
}

TEST_P(NtfsFixture, RecoverGetsEveryDeletedFileBackByteForByte) {
  const std::string out = dir_ / "out";
  const auto result = RunSelvane({"recover", image_, "--mode", "fast", "--to", out}, env_);
  ASSERT_EQ(result.exitCode, 0) << result.out << result.err;
  // Every recovered file, by name, with its content hash.
  std::multimap<std::string, std::string> recovered;
  for (const auto& entry : fs::recursive_directory_iterator(out))
    if (entry.is_regular_file()) recovered.emplace(entry.path().filename().string(), test::Sha256OfFile(entry.path()));
  for (const ManifestEntry& e : manifest_.entries) {
    if (e.state != "deleted") continue;
    const std::string name = fs::path(e.path).filename().string();
    auto [first, last] = recovered.equal_range(name);
    bool same = false;
    for (auto it = first; it != last; ++it) same = same || it->second == e.sha256;
    EXPECT_TRUE(same) << e.path << " did not come back intact";
  }
  EXPECT_NE(result.out.find("0 failed"), std::string::npos) << result.out;
}

TEST_P(NtfsFixture, RecoverOnlyTheChosenCategory) {
  const std::string out = dir_ / "out";
  const auto result = RunSelvane({"recover", image_, "--to", out, "--category", "document"}, env_);
  ASSERT_EQ(result.exitCode, 0) << result.out << result.err;
  std::vector<std::string> folders;
  for (const auto& entry : fs::directory_iterator(out)) folders.push_back(entry.path().filename().string());
  EXPECT_EQ(folders, std::vector<std::string>{"document"});
}

INSTANTIATE_TEST_SUITE_P(Volumes, NtfsFixture, testing::Values("ntfs", "ntfs-4k"),
                         [](const auto& info) { return std::regex_replace(info.param, std::regex("-"), "_"); });

TEST(ScanCommand, Usage) {
  struct Case {
    std::vector<std::string> args;
    int exitCode;
  };
  const Case cases[] = {
      {{"scan"}, 2},
      {{"scan", "a.img", "--mode", "slow"}, 2},
      {{"scan", "/nonexistent/disk.img"}, 3},
      {{"recover", "x.img"}, 2},
      {{"recover", "x.img", "--to", "/tmp/x", "--category", "pictures"}, 2},
  };
  for (const Case& c : cases) {
    const auto result = RunSelvane(c.args);
    EXPECT_EQ(result.exitCode, c.exitCode) << c.args[0] << " " << (c.args.size() > 1 ? c.args[1] : "");
  }
}

TEST(RecoverCommand, RefusesADestinationOnTheScannedVolume) {
  const std::string fixture = test::Fixture("ntfs.img");
  if (fixture.empty()) GTEST_SKIP() << "ntfs.img is not in the build tree";
  if (::geteuid() != 0) GTEST_SKIP() << "mounting needs root";
  test::TempDir dir;
  const std::string image = dir / "mounted.img";
  fs::copy_file(fixture, image);
  const std::string mountPoint = dir / "mnt";
  fs::create_directory(mountPoint);
  if (test::RunShell("ntfs-3g -o ro '" + image + "' '" + mountPoint + "' 2>/dev/null").exitCode != 0)
    GTEST_SKIP() << "ntfs-3g cannot mount here";
  const std::string env = "SELVANE_DATA_DIR=" + (dir / "data");
  const auto refused = RunSelvane({"recover", image, "--to", mountPoint + "/rescued"}, env);
  test::RunShell("umount '" + mountPoint + "'");
  EXPECT_EQ(refused.exitCode, 2) << refused.err;
  EXPECT_NE(refused.err.find("--force"), std::string::npos);
}

}  // namespace
}  // namespace selvane
