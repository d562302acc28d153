#include <gtest/gtest.h>

#include <cstdlib>

#include "results/categories.h"
#include "results/formatting.h"
#include "results/selected_types.h"
#include "results/type_names.h"

namespace selvane {
namespace {

ScanLogRecord Named(const char* name) {
  ScanLogRecord r;
  r.SetName(name);
  return r;
}

TEST(Categories, KnownExtensionsJoinTheFiveListsInTheirOrder) {
  std::string known(KnownExtensions());
  EXPECT_EQ(known, std::string(kPictureList) + "|" + std::string(kAudioList) + "|" + std::string(kDocumentList) +
                       "|" + std::string(kVideoList) + "|" + std::string(kArchiveList));
  EXPECT_TRUE(ListContains(kPictureList, "JP")) << "a leading part counts, in any case";
  EXPECT_TRUE(ListContains(kPictureList, "ra")) << "through *.raf";
  EXPECT_FALSE(ListContains(kPictureList, ""));
  EXPECT_FALSE(ListContains(kArchiveList, "xyz"));
}

TEST(TypeNames, RecordsAreGroupedByNormalisedType) {
  const char* names[] = {"IMG_0001.JPEG", "notes", "a.", "b.jpg", "scan.TIFF", "page.htm", "r.b.DOCX",
                         "x.scr", "x.midi", "x.m4p", "x.xlsx", "x.pptx", "x.rm"};
  std::vector<ScanLogRecord> records;
  for (const char* n : names) records.push_back(Named(n));
  TypeGroups groups;
  groups["stale"].push_back(Named("old"));
  GroupByType(records, groups);
  std::map<std::string, std::vector<std::string>> byName;
  for (const auto& [type, list] : groups)
    for (const auto& r : list) byName[type].emplace_back(r.NameView());
  std::map<std::string, std::vector<std::string>> expected = {
      {"jpg", {"IMG_0001.JPEG", "b.jpg"}},
      {"unknow", {"notes", "a."}},
      {"tif", {"scan.TIFF"}},
      {"html", {"page.htm"}},
      {"doc", {"r.b.DOCX"}},
      {"pcx", {"x.scr"}},
      {"mid", {"x.midi"}},
      {"m4a", {"x.m4p"}},
      {"xls", {"x.xlsx"}},
      {"ppt", {"x.pptx"}},
      {"rm", {"x.rm"}},
  };
  EXPECT_EQ(byName, expected);
}

TEST(SelectedTypes, RegistrationFollowsTheOptionsAndTheirOrder) {
  SelectedTypes selected;
  ResetSelectedTypes(selected);
  std::string filter = BuildCategoryFilter(selected);
  EXPECT_EQ(filter.substr(0, 14), "*.3g2|*.3gp|*.");
  EXPECT_NE(filter.find("|*.other|"), std::string::npos);

  // A key carried by several options belongs to the last of them.
  auto cr2 = FindTypeOption(selected, "cr2");
  ASSERT_TRUE(cr2);
  EXPECT_EQ(TypeOptions()[*cr2].keys, "cr2");
  EXPECT_EQ(*cr2, 33u) << "the option for .dng";
  auto pst = FindTypeOption(selected, "pst");
  ASSERT_TRUE(pst);
  EXPECT_EQ(*pst, 19u + 38 + 29 + 19);

  struct Case {
    const char* type;
    TypeCategory category;
  };
  const Case cases[] = {{"jpg", TypeCategory::Photo}, {"k25", TypeCategory::Other}, {"rm", TypeCategory::Video},
                        {"mid", TypeCategory::Audio}, {"doc", TypeCategory::Office}, {"gz", TypeCategory::Zip},
                        {"unknow", TypeCategory::Other}, {"other", TypeCategory::Other}};
  for (const Case& c : cases) EXPECT_EQ(CategoryOfType(selected, c.type), c.category) << c.type;

  const TypeOption& jpeg = TypeOptions()[2];
  ASSERT_EQ(jpeg.keys, "jpg|jpeg");
  UnregisterTypeOption(selected, jpeg);
  EXPECT_FALSE(FindTypeOption(selected, "jpg"));
  EXPECT_FALSE(FindTypeOption(selected, "jpeg"));
  UnregisterTypeOption(selected, jpeg);  // absent keys are no error

  SelectedTypes few;
  RegisterTypeOption(few, TypeOption{7, TypeCategory::Photo, "b||a"});
  EXPECT_EQ(BuildCategoryFilter(few), "*.|*.a|*.b") << "an empty part is a key too";

  SelectedTypes none;
  EXPECT_EQ(BuildCategoryFilter(none), std::string(kPictureList) + "|" + std::string(kAudioList) + "|" +
                                           std::string(kVideoList) + "|" + std::string(kDocumentList) + "|" +
                                           std::string(kArchiveList));
}

TEST(SelectedTypes, PatternsBecomeSearchFilters) {
  struct Case {
    const char* pattern;
    const char* filter;
  };
  const Case cases[] = {
      {"*.jpg|*.png", ".\\.jpg|.\\.png"},
      {"*.other", ".\\.other"},
      {"a\\*b", "a\\b"},
      {"x+y?^$", "x\\+y\\?\\^\\$"},
      {"{[]}", "\\{\\[\\]\\}"},
      {"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(PatternToFilter(c.pattern), c.filter) << c.pattern;
}

TEST(TypeNames, IconsFollowTypeAndIntactness) {
  struct Case {
    const char* type;
    bool intact;
    const char* icon;
  };
  const Case cases[] = {
      {"JPG", false, "FileIcon/image_error.png"}, {"jpg", true, "FileIcon/image.png"},
      {"folder", false, "FileIcon/folder.png"},   {"Folder", true, "FileIcon/folder.png"},
      {"xyz", true, "FileIcon/default.png"},      {"xyz", false, "FileIcon/default_error.png"},
      {"EXE", false, "FileIcon/exe_error.png"},   {"ra", true, "FileIcon/image.png"},
      {"mp3", true, "FileIcon/music.png"},        {"txt", false, "FileIcon/doc_error.png"},
      {"mkv", true, "FileIcon/video.png"},        {"7z", true, "FileIcon/zip.png"},
      {"", true, "FileIcon/default.png"},
  };
  for (const Case& c : cases) EXPECT_EQ(FileIconPath(c.type, c.intact), c.icon) << c.type << " " << c.intact;
}

TEST(Formatting, FileTimes) {
  EXPECT_EQ(UnixToFileTime(0), kFileTimeUnixEpoch);
  const uint64_t newYear2020 = UnixToFileTime(1577836800);
  EXPECT_EQ(FormatFileTime(newYear2020), "2020-1-1 00:00:00");
  EXPECT_EQ(FormatFileTime(UnixToFileTime(1767596589, 999'999'999)), "2026-1-5 07:03:09");
  EXPECT_EQ(FormatFileTime(0), "1601-1-1 00:00:00");
  EXPECT_EQ(UnixToFileTime(-11644473601), 0u) << "before 1601";

  int64_t seconds = 0;
  uint32_t nanoseconds = 0;
  FileTimeToUnix(newYear2020 + 1234567, seconds, nanoseconds);
  EXPECT_EQ(seconds, 1577836800);
  EXPECT_EQ(nanoseconds, 123456700u);
  EXPECT_EQ(UnixToFileTime(seconds, nanoseconds), newYear2020 + 1234567);
  FileTimeToUnix(UINT64_MAX, seconds, nanoseconds);
  EXPECT_EQ(UnixToFileTime(seconds, nanoseconds), UINT64_MAX);

  const char* oldTz = std::getenv("TZ");
  std::string saved = oldTz ? oldTz : "";
  ::setenv("TZ", "UTC-2", 1);
  ::tzset();
  EXPECT_EQ(FormatFileTime(newYear2020, true), "2020-1-1 02:00:00");
  EXPECT_EQ(FormatFileTime(newYear2020), "2020-1-1 00:00:00") << "stored times are shown as stored";
  if (oldTz) ::setenv("TZ", saved.c_str(), 1);
  else ::unsetenv("TZ");
  ::tzset();
}

TEST(Formatting, DurationsAndSizes) {
  const std::pair<int64_t, const char*> durations[] = {
      {0, "0 Sec"}, {59, "59 Sec"}, {60, "1 Min 0 Sec"}, {3599, "59 Min 59 Sec"},
      {3600, "1 Hour 0 Min"}, {7322, "2 Hour 2 Min"}, {-5, "-5 Sec"},
  };
  for (const auto& [value, text] : durations) EXPECT_EQ(FormatDuration(value), text) << value;

  const std::pair<int64_t, const char*> sizes[] = {
      {0, "0 Bytes"},
      {1023, "1023 Bytes"},
      {1024, "1.00 KB"},
      {1536, "1.50 KB"},
      {(1 << 20) - 1, "1024.00 KB"},
      {1 << 20, "1.00 MB"},
      {int64_t{1} << 30, "1.00 GB"},
      {int64_t{1} << 40, "1.00 TB"},
      {-1, "-1 Bytes"},
  };
  for (const auto& [value, text] : sizes) EXPECT_EQ(FormatSize(value), text) << value;
}

TEST(Formatting, FileNamesAndExtensions) {
  const std::pair<const char*, const char*> names[] = {
      {"", ""}, {"/images/disk.img", "disk.img"}, {"C:\\images\\disk.img", "disk.img"}, {"disk.img", "disk.img"},
      {"/images/", ""},
  };
  for (const auto& [path, name] : names) EXPECT_EQ(FileNameOfPath(path), name) << path;

  std::string extension = "unset";
  EXPECT_EQ(GetExtension("readme", extension), kInvalidParameter);
  EXPECT_EQ(extension, "unset");
  EXPECT_EQ(GetExtension("a.tar.GZ", extension), kSuccess);
  EXPECT_EQ(extension, "GZ");
  EXPECT_EQ(GetExtension("a.", extension), kSuccess);
  EXPECT_EQ(extension, "");
  EXPECT_EQ(ToNarrow(ToWide("Grüße")), "Grüße");
  EXPECT_EQ(ToWide("Ä").size(), 1u);
}

}  // namespace
}  // namespace selvane
