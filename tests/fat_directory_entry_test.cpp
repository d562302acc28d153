#include <gtest/gtest.h>

#include <vector>

#include "engine/fat_directory_entry.h"
#include "engine/fat_time.h"
#include "support/fat_image_builder.h"

namespace selvane {
namespace {

using test::FatEntryBytes;
using test::LongNameEntries;
using test::ShortEntry;

FatEntryBytes WithDate(FatEntryBytes e, size_t offset, uint16_t value) {
  e[offset] = static_cast<uint8_t>(value);
  e[offset + 1] = static_cast<uint8_t>(value >> 8);
  return e;
}

TEST(FatTime, DecodesDateAndTimeWords) {
  EXPECT_EQ(CalendarToFileTime(1990, 1, 1, 0, 0, 0), kFileTime1990);
  EXPECT_EQ(CalendarToFileTime(2050, 1, 1, 0, 0, 0), kFileTime2050);
  EXPECT_EQ(CalendarToFileTime(1601, 1, 1, 0, 0, 0), 0u);
  // 2021-06-15 12:30:10 plus 1.50 s of creation hundredths.
  const uint64_t base = CalendarToFileTime(2021, 6, 15, 12, 30, 10);
  EXPECT_EQ(FatDateTimeToFileTime(test::kTestDate, test::kTestTime), base);
  EXPECT_EQ(FatCreationTimeToFileTime(test::kTestDate, test::kTestTime, 150), base + 15'000'000);
  EXPECT_EQ(FatDateTimeToFileTime(test::kTestDate, 0), CalendarToFileTime(2021, 6, 15, 0, 0, 0));
  // Leap days, and fields no calendar has.
  EXPECT_NE(CalendarToFileTime(2020, 2, 29, 0, 0, 0), 0u);
  const struct {
    uint16_t date, time;
  } invalid[] = {
      {0, 0},                                          // day 0, month 0
      {((2021 - 1980) << 9) | (2 << 5) | 30, 0},       // 30 February
      {((2021 - 1980) << 9) | (13 << 5) | 1, 0},       // month 13
      {test::kTestDate, 24 << 11},                     // hour 24
      {test::kTestDate, (12 << 11) | (60 << 5)},       // minute 60
      {test::kTestDate, (12 << 11) | 30},              // second 60
  };
  for (const auto& c : invalid) EXPECT_EQ(FatDateTimeToFileTime(c.date, c.time), 0u) << c.date << " " << c.time;
  EXPECT_EQ(FatCreationTimeToFileTime(0, 0, 150), 0u) << "no hundredths on an invalid date";
}

TEST(IsPlausibleEntry, TellsEntriesFromStrayBytes) {
  const uint16_t date1985 = (5 << 9) | (1 << 5) | 1;
  const uint16_t date2060 = (80 << 9) | (1 << 5) | 1;
  FatEntryBytes volumeWithCluster = ShortEntry("MYDISK     ", 0x08, 5, 0);
  FatEntryBytes lowerCase = ShortEntry("report  doc", 0x20, 5, 10);
  FatEntryBytes firstByte05 = ShortEntry("\x05ULE    TXT", 0x20, 5, 10);
  FatEntryBytes longSeq20 = LongNameEntries(std::u16string(255, u'a')).front();
  FatEntryBytes longSeq21 = longSeq20;
  longSeq21[0] = 0x40 | 21;
  FatEntryBytes longWithCluster = LongNameEntries(u"name.txt").front();
  longWithCluster[26] = 7;
  struct Case {
    const char* what;
    FatEntryBytes entry;
    bool plausible;
  };
  const Case cases[] = {
      {"live file", ShortEntry("REPORT  DOC", 0x20, 5, 10), true},
      {"deleted file", ShortEntry("REPORT  DOC", 0x20, 5, 10, true), true},
      {"read-only file with archive bit", ShortEntry("REPORT  DOC", 0x21, 5, 10), true},
      {"read-only file without archive bit", ShortEntry("REPORT  DOC", 0x01, 5, 10), false},
      {"live directory", ShortEntry("PHOTOS     ", 0x10, 5, 0), true},
      {"live directory with a size", ShortEntry("PHOTOS     ", 0x10, 5, 512), false},
      {"read-only directory", ShortEntry("PHOTOS     ", 0x11, 5, 0), false},
      {"volume label", ShortEntry("MYDISK     ", 0x08, 0, 0), true},
      {"volume label with a cluster", volumeWithCluster, false},
      {"label bit on a file", ShortEntry("REPORT  DOC", 0x28, 5, 10), false},
      {"attribute 0x40", ShortEntry("REPORT  DOC", 0x60, 5, 10), false},
      {"empty file with a cluster", ShortEntry("EMPTY   TXT", 0x20, 5, 0), false},
      {"empty file without a cluster", ShortEntry("EMPTY   TXT", 0x20, 0, 0), true},
      {"small letters in an 8.3 name", lowerCase, false},
      {"forbidden character", ShortEntry("RE*ORT  DOC", 0x20, 5, 10), false},
      {"control byte", ShortEntry("RE\x01ORT  DOC", 0x20, 5, 10), false},
      {"first byte 0x05 stands for 0xE5", firstByte05, true},
      {"live file created in 1985", WithDate(ShortEntry("OLD     TXT", 0x20, 5, 10), 16, date1985), false},
      {"live file with creation date 0", WithDate(ShortEntry("OLD     TXT", 0x20, 5, 10), 16, 0), false},
      {"live file accessed in 2060", WithDate(ShortEntry("OLD     TXT", 0x20, 5, 10), 18, date2060), false},
      {"live file written in 1985", WithDate(ShortEntry("OLD     TXT", 0x20, 5, 10), 24, date1985), false},
      {"deleted file dated 0 is kept", WithDate(ShortEntry("OLD     TXT", 0x20, 5, 10, true), 16, 0), true},
      {"long-name part 20 of the longest name", longSeq20, true},
      {"long-name part 21", longSeq21, false},
      {"long-name part with a cluster", longWithCluster, false},
  };
  for (const Case& c : cases) EXPECT_EQ(IsPlausibleEntry(c.entry, {}), c.plausible) << c.what;

  // "." followed by ".." passes as a pair, though "." alone is no 8.3 name.
  const FatEntryBytes dot = ShortEntry(".", 0x10, 5, 0), dotDot = ShortEntry("..", 0x10, 0, 0);
  EXPECT_TRUE(IsPlausibleEntry(dot, dotDot));
  EXPECT_FALSE(IsPlausibleEntry(dot, ShortEntry("FILE    TXT", 0x20, 6, 1)));
  EXPECT_FALSE(IsPlausibleEntry(std::span<const uint8_t>(dot).first(31), {})) << "short buffer";
}

TEST(ShortEntryName, EightDotThreeNamesInSmallLetters) {
  struct Case {
    FatEntryBytes entry;
    const char* name;
  };
  const Case cases[] = {
      {ShortEntry("REPORT  DOC", 0x20, 5, 10), "report.doc"},
      {ShortEntry("REPORT  DOC", 0x20, 5, 10, true), "!eport.doc"},
      {ShortEntry("README     ", 0x20, 5, 10), "readme"},
      {ShortEntry("PHOTOS     ", 0x10, 5, 0), "photos"},
      {ShortEntry("DATA    OLD", 0x10, 5, 0), "data.old"},
      {ShortEntry("A       B  ", 0x20, 5, 10, true), "!.b"},
      {ShortEntry("\x05ULE    TXT", 0x20, 5, 10), "\xCF\x83ule.txt"},  // 0xE5 in code page 437: σ
      {ShortEntry("CAF\x82    TXT", 0x20, 5, 10), "caf\xC3\xA9.txt"},  // é
  };
  for (const Case& c : cases) {
    ByteReader r(c.entry);
    EXPECT_EQ(ShortEntryName(ParseDirectoryEntry(r, 0)), c.name);
  }
}

TEST(LongNameRun, GathersPartsStoredLastFirst) {
  auto gather = [](const std::vector<FatEntryBytes>& entries) {
    LongNameRun run;
    for (const auto& e : entries) run.Add(ByteReader(e), 0);
    return run;
  };
  EXPECT_EQ(gather(LongNameEntries(u"Quarterly report 2019.docx")).Name(), "Quarterly report 2019.docx");
  EXPECT_EQ(gather(LongNameEntries(u"exactly13char")).Name(), "exactly13char");
  EXPECT_EQ(gather(LongNameEntries(u"Grüße aus Köln.jpg", true)).Name(), "Grüße aus Köln.jpg");
  const std::u16string longest(255, u'x');
  EXPECT_EQ(gather(LongNameEntries(longest)).Name(), std::string(255, 'x')) << "20 parts";

  // A run longer than any name is dropped, not cut.
  auto tooLong = LongNameEntries(longest);
  tooLong.insert(tooLong.begin(), tooLong.front());
  LongNameRun run = gather(tooLong);
  EXPECT_FALSE(run.HasName());
  run.Reset();
  run.Add(ByteReader(LongNameEntries(u"a.txt").front()), 0);
  EXPECT_EQ(run.Name(), "a.txt") << "a reset run starts over";
}

}  // namespace
}  // namespace selvane
