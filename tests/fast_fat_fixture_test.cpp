// The fast FAT engine on real volumes made with mkfs.fat and mtools: every
// deleted file whose clusters were not reused comes back byte for byte under
// its name, in its folder, and no live file is listed.
#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "engine/fast_fat_recovery.h"
#include "engine/recovery_factory.h"
#include "platform/text.h"
#include "support/data_dir.h"
#include "support/test_support.h"

namespace selvane {
namespace {

struct ManifestEntry {
  std::string state;
  std::string sha256;
  uint64_t size = 0;
  std::vector<std::string> components;  // "/a/b.txt" -> {"a", "b.txt"}
  std::string path;
};

std::vector<ManifestEntry> ReadManifest(const std::string& path) {
  std::vector<ManifestEntry> entries;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    ManifestEntry e;
    if (!(fields >> e.state >> e.sha256 >> e.size)) continue;
    if (e.state != "live" && e.state != "deleted" && e.state != "deleted-reused") continue;
    std::getline(fields >> std::ws, e.path);
    std::stringstream parts(e.path);
    for (std::string part; std::getline(parts, part, '/');)
      if (!part.empty()) e.components.push_back(part);
    entries.push_back(e);
  }
  return entries;
}

// True for a name that an 8.3 entry holds alone, with no long name beside it:
// it fits 8.3, and its base and its extension are each in one case (the entry
// keeps the case of each part in flags).
bool IsShortOnlyName(const std::string& name) {
  size_t dot = name.find('.');
  std::string base = name.substr(0, dot), ext = dot == std::string::npos ? "" : name.substr(dot + 1);
  if (base.empty() || base.size() > 8 || ext.size() > 3 || ext.find('.') != std::string::npos) return false;
  auto onePart = [](const std::string& part) {
    bool upper = false, lower = false;
    for (char c : part) {
      upper = upper || (c >= 'A' && c <= 'Z');
      lower = lower || (c >= 'a' && c <= 'z');
      if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_' && c != '-') return false;
    }
    return !(upper && lower);
  };
  return onePart(base) && onePart(ext);
}

// The engine's name for an original name: long names as they are; 8.3 names in
// small letters, with "!" for the first letter when that entry was deleted.
bool NameMatches(std::string_view found, const std::string& original) {
  if (!IsShortOnlyName(original)) return found == original;
  const std::string lower = AsciiLower(original);
  return found == lower || found == "!" + lower.substr(1);
}

class FatFixture : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    image = test::Fixture(std::string(GetParam()) + ".img");
    if (image.empty()) GTEST_SKIP() << GetParam() << ".img is not in this build";
    manifest = ReadManifest(test::Fixture(std::string(GetParam()) + ".manifest"));
    ASSERT_FALSE(manifest.empty());
    engine = CreateRecoveryForImage(image, 3, ScanMode::Fast);
    ASSERT_TRUE(dynamic_cast<CFastFatRecovery*>(engine.get())) << "the factory's engine for FAT in fast mode";
    ASSERT_EQ(engine->Scan(""), kSuccess);
    Walk(nullptr, 0, "/");
  }

  // Every record of the scan by its path ("/Fotos/x.png", folders with a trailing "/").
  void Walk(const ScanLogRecord* folder, uint32_t depth, const std::string& path) {
    std::vector<ScanLogRecord> items;
    ASSERT_EQ(engine->QueryFolder(folder, depth, items), kSuccess);
    for (const auto& r : items) {
      std::string itemPath = path + std::string(r.NameView());
      if (r.IsFolderRecord()) {
        folders[itemPath + "/"] = r;
        Walk(&r, depth + 1, itemPath + "/");
      } else {
        files[itemPath] = r;
      }
    }
  }

  // The found record of a manifest path, matching each component by name.
  const ScanLogRecord* Lookup(const ManifestEntry& entry) const {
    std::string path = "/";
    for (size_t i = 0; i < entry.components.size(); ++i) {
      const bool last = i + 1 == entry.components.size();
      const auto& pool = last ? files : folders;
      const ScanLogRecord* match = nullptr;
      for (const auto& [p, r] : pool) {
        std::string_view rest(p);
        if (!rest.starts_with(path)) continue;
        rest.remove_prefix(path.size());
        if (!last) {
          if (rest.empty() || rest.back() != '/' || rest.find('/') != rest.size() - 1) continue;
          rest.remove_suffix(1);
        } else if (rest.find('/') != std::string_view::npos) {
          continue;
        }
        if (NameMatches(rest, entry.components[i])) match = &r;
      }
      if (!match) return nullptr;
      path += std::string(match->NameView()) + (last ? "" : "/");
    }
    return &files.at(path);
  }

  test::DataDirScope data;
  test::TempDir dir;
  std::string image;
  std::vector<ManifestEntry> manifest;
  std::unique_ptr<IFileRecoveryParse> engine;
  std::map<std::string, ScanLogRecord> files, folders;
};

TEST_P(FatFixture, RecoversEveryDeletedFileWhoseClustersWereNotReused) {
  size_t checked = 0;
  for (const auto& entry : manifest) {
    if (entry.state != "deleted") continue;
    SCOPED_TRACE(entry.path);
    const ScanLogRecord* record = Lookup(entry);
    if (entry.path == "/SCHREIB.GSC") {  // read-only, without the archive bit
      EXPECT_EQ(record, nullptr) << "a file without the archive bit is not logged";
      continue;
    }
    ASSERT_NE(record, nullptr) << "not found in its folder";
    EXPECT_EQ(record->FileSize, entry.size);
    const std::string out = dir / ("file" + std::to_string(checked));
    ASSERT_EQ(engine->RecoverItem(*record, out, 0), kSuccess);
    EXPECT_EQ(test::Sha256OfFile(out), entry.sha256);
    ++checked;
  }
  EXPECT_GE(checked, 15u);
}

TEST_P(FatFixture, ListsNoLiveFile) {
  for (const auto& [path, record] : files) {
    bool known = false;
    for (const auto& entry : manifest) {
      if (entry.state == "live") continue;
      const ScanLogRecord* match = Lookup(entry);
      // A reused file may have lost part of its long name to the file that took its slots.
      known = known || match == &record || (entry.state == "deleted-reused" && record.FileSize == entry.size);
    }
    EXPECT_TRUE(known) << path << " is no deleted file";
  }
  // Folders appear only above deleted files: a live folder with one deleted
  // file does, a live folder with none does not.
  EXPECT_TRUE(folders.contains("/Archiv/"));
  EXPECT_FALSE(folders.contains("/Alles da/"));
  EXPECT_EQ(folders.at("/Archiv/").FolderDeleted, 0u);
  EXPECT_EQ(folders.at("/Verwaist/").FolderDeleted, 1u);
  EXPECT_EQ(folders.at("/Verwaist/Unterordner/").FolderDeleted, 1u) << "inside a deleted folder";
  EXPECT_TRUE(files.contains("/!eport.doc")) << "8.3 name with its lost first letter";
  EXPECT_TRUE(files.contains("/Verwaist/messung.dat")) << "entry inside a deleted folder keeps its first letter";
}

TEST_P(FatFixture, RecoversADeletedFolderTree) {
  const auto& tree = folders.at("/Projekt/");
  const std::string out = dir / "Projekt";
  ASSERT_EQ(engine->RecoverItem(tree, out, 0), kSuccess);
  for (const auto& entry : manifest) {
    if (entry.state != "deleted" || !entry.path.starts_with("/Projekt/")) continue;
    const ScanLogRecord* record = Lookup(entry);
    ASSERT_NE(record, nullptr) << entry.path;
    std::string path;
    ASSERT_EQ(engine->QueryFolderPath(*record, path), kSuccess);
    ASSERT_TRUE(path.starts_with("Projekt/")) << path;
    const std::string written = dir / (path + std::string(record->NameView()));
    EXPECT_EQ(test::Sha256OfFile(written), entry.sha256) << written;
  }
}

// The value of a string field of one JSON line (the writer escapes only quotes,
// backslashes and control characters).
std::string JsonString(const std::string& line, const std::string& key) {
  const std::string marker = "\"" + key + "\":\"";
  size_t at = line.find(marker);
  if (at == std::string::npos) return {};
  std::string value;
  for (at += marker.size(); at < line.size() && line[at] != '"'; ++at) {
    if (line[at] == '\\' && at + 1 < line.size()) ++at;
    value += line[at];
  }
  return value;
}

bool PathMatches(const std::string& found, const std::vector<std::string>& components) {
  std::vector<std::string> parts;
  std::stringstream stream(found);
  for (std::string part; std::getline(stream, part, '/');)
    if (!part.empty()) parts.push_back(part);
  if (parts.size() != components.size()) return false;
  for (size_t i = 0; i < parts.size(); ++i)
    if (!NameMatches(parts[i], components[i])) return false;
  return true;
}

TEST_P(FatFixture, ScanCommandShowsEachDeletedFileInItsFolder) {
  const std::string env = "SELVANE_DATA_DIR='" + (dir / "cli-data") + "'";
  const auto result = test::RunSelvane({"scan", image, "--mode", "fast", "--json"}, env);
  ASSERT_EQ(result.exitCode, 0) << result.err;
  std::vector<std::string> paths;
  std::stringstream lines(result.out);
  for (std::string line; std::getline(lines, line);) {
    EXPECT_NE(line.find("\"engine\":\"fat\""), std::string::npos) << line;
    if (line.find("\"folder\":false") != std::string::npos) paths.push_back(JsonString(line, "path"));
  }
  for (const auto& entry : manifest) {
    size_t matches = 0;
    for (const auto& path : paths) matches += PathMatches(path, entry.components) ? 1 : 0;
    if (entry.state == "live") {
      EXPECT_EQ(matches, 0u) << "a live file is listed: " << entry.path;
    } else if (entry.state == "deleted" && entry.path != "/SCHREIB.GSC") {
      EXPECT_EQ(matches, 1u) << entry.path << " in\n" << result.out;
    }
  }
}

TEST_P(FatFixture, RecoverCommandGetsEveryDeletedFileBackByteForByte) {
  const std::string env = "SELVANE_DATA_DIR='" + (dir / "cli-data") + "'";
  const std::string out = dir / "out";
  const auto result = test::RunSelvane({"recover", image, "--mode", "fast", "--to", out}, env);
  ASSERT_EQ(result.exitCode, 0) << result.out << result.err;
  std::multimap<std::string, std::string> recovered;  // name -> content hash
  for (const auto& file : std::filesystem::recursive_directory_iterator(out))
    if (file.is_regular_file()) recovered.emplace(file.path().filename().string(), test::Sha256OfFile(file.path()));
  for (const auto& entry : manifest) {
    if (entry.state != "deleted" || entry.path == "/SCHREIB.GSC") continue;
    bool same = false;
    for (const auto& [name, sha] : recovered)
      same = same || (NameMatches(name, entry.components.back()) && sha == entry.sha256);
    EXPECT_TRUE(same) << entry.path << " did not come back under its name, intact";
  }
  EXPECT_NE(result.out.find(" 0 failed"), std::string::npos) << result.out;
}

// A FAT32 partition at sector 2048 of a disk: every sector the engine reads is
// offset by the partition's start, and the records say where it lies.
TEST(FatPartitionOnADisk, FindsAndRecoversItsDeletedFiles) {
  const std::string image = test::Fixture("disk-mbr.img");
  if (image.empty()) GTEST_SKIP() << "disk-mbr.img is not in this build";
  test::DataDirScope data;
  test::TempDir dir;
  test::FakeSysfs sysfs{dir.path() / "root"};
  sysfs.AddDisk("sdb", image, 116736, 512, true, "usb1/1-1/1-1:1.0/host6/target6:0:0/6:0:0:0");
  sysfs.AddPartition("sdb", "sdb1", 1, 2048, 81920);
  auto engine = CreateRecoveryForDisk(0, 2048, 81920, 'E', ScanMode::Fast);
  ASSERT_TRUE(dynamic_cast<CFastFatRecovery*>(engine.get()));
  ASSERT_EQ(engine->Scan(""), kSuccess);

  std::vector<ScanLogRecord> root, pictures;
  ASSERT_EQ(engine->QueryFolder(nullptr, 0, root), kSuccess);
  const ScanLogRecord *old = nullptr, *folder = nullptr;
  for (const auto& r : root) {
    if (r.NameView() == "!lt.txt") old = &r;
    if (r.NameView() == "Bilder") folder = &r;
  }
  ASSERT_TRUE(old && folder);
  ASSERT_EQ(engine->QueryFolder(folder, 1, pictures), kSuccess);
  ASSERT_EQ(pictures.size(), 1u);
  EXPECT_EQ(pictures[0].NameView(), "Gelöscht.bin");
  EXPECT_EQ(old->PartitionStart, 2048u);
  EXPECT_GT(old->LocationSector, 2048u);
  EXPECT_EQ(old->VolumeLetter, 'E');

  ASSERT_EQ(engine->RecoverItem(*old, dir / "alt.txt", 0), kSuccess);
  EXPECT_EQ(test::Sha256OfFile(dir / "alt.txt"), "8620222dc622af234823b938b3f0288324cedda3f2936e7356c3305853c57576");
  ASSERT_EQ(engine->RecoverItem(pictures[0], dir / "geloescht.bin", 0), kSuccess);
  EXPECT_EQ(test::Sha256OfFile(dir / "geloescht.bin"),
            "0e9ce1da997ddbc1bf47499eaba915a47c7c6244e41c5a852256c5697d614e34");
}

INSTANTIATE_TEST_SUITE_P(Volumes, FatFixture, ::testing::Values("fat12", "fat16", "fat32", "fat32-128spc"),
                         [](const auto& info) {
                           std::string name = info.param;
                           for (char& c : name)
                             if (c == '-') c = '_';
                           return name;
                         });

}  // namespace
}  // namespace selvane
