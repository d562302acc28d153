#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sys/stat.h>

#include "platform/text.h"
#include "recovery/destination_rules.h"
#include "recovery/output_files.h"
#include "support/test_support.h"

namespace selvane {
namespace {

namespace fs = std::filesystem;

bool IsValidUtf8(const std::string& text) { return Utf16ToUtf8(Utf8ToUtf16(text)) == text; }

TEST(SanitizeName, HostileNamesStayOneRecognisableComponent) {
  std::string longStem(300, 'n');
  std::string longUmlauts;
  for (int i = 0; i < 150; ++i) longUmlauts += "\xC3\xA4";  // 300 bytes
  struct Case {
    std::string name;
    std::string expected;  // empty: only the general properties are checked
  };
  const Case cases[] = {
      {"../../etc/passwd", ".._.._etc_passwd"},
      {"..", "__"},
      {".", "_"},
      {"", "_"},
      {std::string("a\0b.txt", 7), "a_b.txt"},
      {"tab\there\n.txt", "tab_here_.txt"},
      {"con:tent?<x>|\"*\\.txt", "con_tent__x_____.txt"},
      {"\xFF\xFEphoto.jpg", "__photo.jpg"},
      {"\xC3(bad.jpg", "_(bad.jpg"},
      {"\xED\xA0\x80surrogate", "___surrogate"},
      {"Grüße 2019.jpg", "Grüße 2019.jpg"},
      {"...", "..."},
      {".hidden", ".hidden"},
      {longStem + ".jpg", std::string(251, 'n') + ".jpg"},
      {longUmlauts, ""},
      {longStem + "." + std::string(40, 'e'), ""},
  };
  test::TempDir dir;
  for (const Case& c : cases) {
    std::string safe = SanitizeName(c.name);
    if (!c.expected.empty()) {
      EXPECT_EQ(safe, c.expected) << c.name;
    }
    EXPECT_FALSE(safe.empty());
    EXPECT_LE(safe.size(), 255u) << c.name;
    EXPECT_NE(safe, ".");
    EXPECT_NE(safe, "..");
    EXPECT_EQ(safe.find('/'), std::string::npos);
    EXPECT_EQ(safe.find('\0'), std::string::npos);
    EXPECT_TRUE(IsValidUtf8(safe)) << c.name;

    std::string joined = JoinBelow(dir.path().string(), c.name);
    EXPECT_EQ(fs::path(joined).parent_path(), dir.path()) << c.name;
    FileHandle file;
    EXPECT_EQ(CreateOutputFile(joined, file), kSuccess) << c.name;
    EXPECT_TRUE(IsBelow(joined, dir.path().string()));
  }
  EXPECT_EQ(SanitizeName(longUmlauts).size(), 254u) << "cut between two characters";
  EXPECT_EQ(JoinBelow("/out/", "a"), "/out/a");
  EXPECT_EQ(JoinBelow("/", "a"), "/a");
}

TEST(CreateOutputFile, WritesOnlyWhereItIsMeantTo) {
  test::TempDir dir;
  const std::string target = dir / "photo/2019/a.jpg";
  FileHandle file;
  ASSERT_EQ(CreateOutputFile(target, file), kSuccess) << "missing parents are made";
  ASSERT_EQ(WriteAll(file, "0123456789", 10), kSuccess);
  file.Close();
  ASSERT_EQ(CreateOutputFile(target, file), kSuccess);
  ASSERT_EQ(WriteAll(file, "abc", 3), kSuccess);
  file.Close();
  EXPECT_EQ(fs::file_size(target), 3u) << "an existing file is written from its start, no stale tail";

  std::ofstream(dir / "secret") << "keep";
  fs::create_symlink(dir / "secret", dir / "photo/link.jpg");
  EXPECT_EQ(CreateOutputFile(dir / "photo/link.jpg", file), kAccessDenied) << "a link is never followed";
  EXPECT_EQ(fs::file_size(dir / "secret"), 4u);

  ASSERT_EQ(::mkfifo((dir / "photo/pipe.jpg").c_str(), 0600), 0);
  EXPECT_EQ(CreateOutputFile(dir / "photo/pipe.jpg", file), kAccessDenied) << "only regular files, without blocking";
  EXPECT_EQ(CreateOutputFile("/dev/null", file), kAccessDenied);

  struct Case {
    std::string path;
    ResultCode expected;
  };
  const Case refused[] = {
      {dir / "photo/../escape.jpg", kInvalidParameter},
      {dir / "photo/./a.jpg", kInvalidParameter},
      {dir / "photo/", kInvalidParameter},
      {"", kInvalidParameter},
      {dir / "secret/inside.jpg", kAlreadyExists},  // a file stands where a folder must be
  };
  for (const Case& c : refused) EXPECT_EQ(CreateOutputFile(c.path, file), c.expected) << c.path;
  EXPECT_FALSE(fs::exists(dir / "escape.jpg"));
  EXPECT_EQ(CreateFolders(dir / "a/../b"), kInvalidParameter);
  EXPECT_EQ(CreateFolders(dir / "x//y/z/"), kSuccess);
  EXPECT_TRUE(fs::is_directory(dir / "x/y/z"));
}

TEST(IsBelow, ComparesWholeComponentsAfterResolvingLinks) {
  test::TempDir dir;
  fs::create_directories(dir / "out/photo");
  fs::create_directories(dir / "outside");
  fs::create_directory_symlink(dir / "outside", dir / "out/jump");
  struct Case {
    std::string path;
    bool below;
  };
  const Case cases[] = {
      {dir / "out", true},           {dir / "out/photo/new.jpg", true}, {dir / "out/../outside", false},
      {dir / "outside/x", false},    {dir / "out/jump/x", false},       {dir / "out2", false},
  };
  for (const Case& c : cases) EXPECT_EQ(IsBelow(c.path, dir / "out"), c.below) << c.path;
}

TEST(DestinationRules, CategoryFoldersTestTheListsInOrder) {
  const std::pair<const char*, const char*> cases[] = {
      {"song.rm", "audio"},      {"readme", "others"},   {"movie.rmvb", "video"}, {"IMG_1.JPG", "photo"},
      {"report.DOCX", "document"}, {"backup.7z", "archive"}, {"a.xyz", "others"},   {"a.", "others"},
      {"x.jp", "photo"},         {"clip.3gp", "video"},  {"t.txt", "document"},
  };
  for (const auto& [name, folder] : cases) EXPECT_EQ(CategoryFolderOf(name), folder) << name;
}

TEST(DestinationRules, SeparatorsAndDestinationText) {
  const std::pair<const char*, int32_t> cases[] = {
      {"", 0}, {"/", 0}, {"/mnt/out", 2}, {"/mnt/out/", 2}, {"/mnt/out/photo/a.jpg", 4},
  };
  for (const auto& [path, count] : cases) EXPECT_EQ(CountSeparators(path), count) << path;
  EXPECT_EQ(DestinationText("/mnt/out/"), "/mnt/out");
  EXPECT_EQ(DestinationText("/"), "") << "paths below the root still begin with /";
}

TEST(DestinationRules, UniquePathsAndRecoveryPaths) {
  test::TempDir dir;
  const std::string destination = dir.path().string();
  ScanLogRecord record;
  record.SetName("IMG_1.JPG");
  std::string first = RecoveryPathOf(destination, record);
  EXPECT_EQ(first, destination + "/photo/IMG_1.JPG");
  FileHandle file;
  ASSERT_EQ(CreateOutputFile(first, file), kSuccess);
  EXPECT_EQ(RecoveryPathOf(destination, record), destination + "/photo/IMG_1(1).JPG");
  ASSERT_EQ(CreateOutputFile(destination + "/photo/IMG_1(1).JPG", file), kSuccess);
  EXPECT_EQ(RecoveryPathOf(destination, record), destination + "/photo/IMG_1(2).JPG");

  fs::create_directories(dir / "a.b");
  std::ofstream(dir / "a.b/readme") << "x";
  EXPECT_EQ(MakeUniquePath(dir / "a.b/readme"), dir / "a.b/readme(1)") << "a dot in a folder is no extension";
  fs::create_symlink(dir / "nowhere", dir / "dangling.txt");
  EXPECT_EQ(MakeUniquePath(dir / "dangling.txt"), dir / "dangling(1).txt");
  std::ofstream(dir / ".profile") << "x";
  EXPECT_EQ(MakeUniquePath(dir / ".profile"), dir / "(1).profile");

  record.SetName("../../escape.jpg");
  std::string hostile = RecoveryPathOf(destination, record);
  EXPECT_EQ(hostile, destination + "/photo/.._.._escape.jpg");

  // The original folders kept below the category folder: each made safe, none followed.
  record.SetName("IMG_2.JPG");
  const struct {
    const char* folders;
    const char* path;
  } kept[] = {
      {"DCIM/100CANON/", "/photo/DCIM/100CANON/IMG_2.JPG"},
      {"", "/photo/IMG_2.JPG"},
      {"../../etc/", "/photo/__/__/etc/IMG_2.JPG"},
      {"a//./b/", "/photo/a/_/b/IMG_2.JPG"},
  };
  for (const auto& c : kept) {
    const std::string path = RecoveryPathOf(destination, record, c.folders);
    EXPECT_EQ(path.substr(destination.size()), c.path) << c.folders;
  }
}

}  // namespace
}  // namespace selvane
