// The FAT formatted-volume engine on real volumes made with mkfs.fat and
// mtools and then formatted again or robbed of their boot sector
// (tools/fixtures/make-fat-formatted.sh): every old file comes back byte for
// byte under its old folder path, and nothing else is listed.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "platform/text.h"
#include "support/data_dir.h"
#include "support/pro_fat_walk.h"
#include "support/test_support.h"

namespace selvane {
namespace {

struct ManifestFile {
  std::string state, sha256, path;
  uint64_t size = 0;
};

struct Manifest {
  std::vector<ManifestFile> files;  // live and deleted: expected back
  std::map<std::string, uint32_t> topFolderClusters;
  uint64_t dataAreaSector = 0;
  uint32_t clusterBytes = 0;
};

Manifest ReadManifest(const std::string& path) {
  Manifest m;
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);) {
    std::istringstream fields(line);
    std::string first;
    fields >> first;
    if (first == "#") {
      std::string kind, folder;
      uint32_t cluster = 0;
      if (fields >> kind && kind == "old-folder" && fields >> folder >> cluster) m.topFolderClusters[folder] = cluster;
    } else if (first == "data-area-sector") {
      fields >> m.dataAreaSector;
    } else if (first == "cluster-size") {
      fields >> m.clusterBytes;
    } else if (first == "live" || first == "deleted") {
      ManifestFile f;
      f.state = first;
      fields >> f.sha256 >> f.size;
      std::getline(fields >> std::ws, f.path);
      m.files.push_back(f);
    }
  }
  return m;
}

// An 8.3-only name (capitals, no blank) as the engine shows it: in small letters.
std::string ShownName(const std::string& name) {
  const bool shortOnly = name.size() <= 12 && name.find(' ') == std::string::npos &&
                         std::none_of(name.begin(), name.end(), [](char c) { return c >= 'a' && c <= 'z'; });
  return shortOnly ? AsciiLower(name) : name;
}

struct FixtureCase {
  const char* name;
  bool bootGeometry;             // the boot sector still describes a FAT volume
  bool rootWiped;                // top folders become LostFolder<cluster>
  size_t geometries;             // how many the walk ends with
};

void PrintTo(const FixtureCase& c, std::ostream* os) { *os << c.name; }

class ProFatFixture : public ::testing::TestWithParam<FixtureCase> {
 protected:
  void SetUp() override {
    image = test::Fixture(std::string(GetParam().name) + ".img");
    if (image.empty()) GTEST_SKIP() << GetParam().name << ".img is not in this build";
    manifest = ReadManifest(test::Fixture(std::string(GetParam().name) + ".manifest"));
    ASSERT_FALSE(manifest.files.empty());
    test::WalkImageLikeTheCoordinator(engine, image);
    List(nullptr, 0, "/");
  }

  void List(const ScanLogRecord* folder, uint32_t depth, const std::string& path) {
    std::vector<ScanLogRecord> items;
    ASSERT_EQ(engine.QueryFolder(folder, depth, items), kSuccess);
    for (const ScanLogRecord& r : items) {
      const std::string itemPath = path + std::string(r.NameView());
      EXPECT_EQ(r.EngineCode, kEngineProFat);
      EXPECT_EQ(r.VolumeLetter, 7);
      if (r.IsFolderRecord()) {
        ASSERT_TRUE(folders.emplace(itemPath + "/", r).second) << itemPath << " listed twice";
        List(&r, depth + 1, itemPath + "/");
      } else {
        ASSERT_TRUE(files.emplace(itemPath, r).second) << itemPath << " listed twice";
      }
    }
  }

  // Where the engine lists a manifest file.
  std::string ExpectedPath(const std::string& original) const {
    std::string path;
    std::stringstream parts(original);
    std::vector<std::string> components;
    for (std::string part; std::getline(parts, part, '/');)
      if (!part.empty()) components.push_back(part);
    for (size_t i = 0; i < components.size(); ++i) {
      std::string name = ShownName(components[i]);
      if (i == 0 && GetParam().rootWiped && components.size() > 1)
        name = "LostFolder" + std::to_string(manifest.topFolderClusters.at("/" + components[0]));
      path += "/" + name;
    }
    return path;
  }

  test::DataDirScope data;
  test::TempDir out;
  std::string image;
  Manifest manifest;
  CProfessionalFatRecovery engine;
  std::map<std::string, ScanLogRecord> files, folders;
};

TEST_P(ProFatFixture, EveryOldFileComesBackUnderItsOldPath) {
  std::set<std::string> expected;
  for (const ManifestFile& f : manifest.files) {
    const std::string path = ExpectedPath(f.path);
    SCOPED_TRACE(f.path + " as " + path);
    expected.insert(path);
    auto found = files.find(path);
    EXPECT_NE(found, files.end());
    if (found == files.end()) continue;
    const ScanLogRecord& r = found->second;
    EXPECT_EQ(r.FileSize, f.size);
    EXPECT_EQ(r.ClusterBytes, manifest.clusterBytes);
    EXPECT_EQ(r.DataAreaSector, manifest.dataAreaSector);
    EXPECT_EQ(r.PartitionStart, 0u);
    const std::string written = out / ("file" + std::to_string(expected.size()));
    ASSERT_EQ(engine.RecoverItem(r, written, 0), kSuccess);
    EXPECT_EQ(test::Sha256OfFile(written), f.sha256);
  }
  std::set<std::string> listed;
  for (const auto& [path, r] : files) listed.insert(path);
  EXPECT_EQ(listed, expected) << "files listed that the old volume did not hold there";
  EXPECT_EQ(engine.PendingFileCount(), 0u);
}

TEST_P(ProFatFixture, GeometriesFromTheBootSectorAndFromSubdirectories) {
  const auto& geometries = engine.Geometries();
  EXPECT_EQ(engine.BootGeometryFound(), GetParam().bootGeometry);
  ASSERT_EQ(geometries.size(), GetParam().geometries);
  // The old volume's geometry is the last one: learned, or the boot sector's own.
  const FatGeometry& old = geometries.back();
  EXPECT_EQ(old.sectorsPerCluster * 512, manifest.clusterBytes);
  EXPECT_EQ(old.dataAreaSector, manifest.dataAreaSector);
  EXPECT_EQ(engine.RootCluster(), 2u);
}

TEST_P(ProFatFixture, RecoversAFolderTreeAndGivesFolderPaths) {
  // The top folder of the last file that lies in one.
  std::string topName;
  for (const ManifestFile& f : manifest.files) {
    const std::string path = ExpectedPath(f.path);
    if (path.find('/', 1) != std::string::npos) topName = path.substr(1, path.find('/', 1) - 1);
  }
  const auto folder = folders.find("/" + topName + "/");
  ASSERT_NE(folder, folders.end()) << topName;
  const std::string destination = out / "tree";
  ASSERT_EQ(engine.RecoverItem(folder->second, destination, 0), kSuccess);
  size_t checked = 0;
  for (const ManifestFile& f : manifest.files) {
    const std::string path = ExpectedPath(f.path);
    if (!path.starts_with("/" + topName + "/")) continue;
    const ScanLogRecord& r = files.at(path);
    std::string folderPath;
    ASSERT_EQ(engine.QueryFolderPath(r, folderPath), kSuccess);
    EXPECT_EQ("/" + folderPath + std::string(r.NameView()), path);
    EXPECT_EQ(test::Sha256OfFile(destination + path.substr(topName.size() + 1)), f.sha256) << path;
    ++checked;
  }
  EXPECT_GE(checked, 2u);
}

INSTANTIATE_TEST_SUITE_P(Volumes, ProFatFixture,
                         ::testing::Values(FixtureCase{"fat32-reformatted", true, false, 2},
                                           FixtureCase{"fat32-reformatted-same", true, true, 1},
                                           FixtureCase{"fat32-noboot", false, false, 1}),
                         [](const auto& info) {
                           std::string name = info.param.name;
                           for (char& c : name)
                             if (c == '-') c = '_';
                           return name;
                         });

}  // namespace
}  // namespace selvane
