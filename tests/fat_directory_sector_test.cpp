// What counts as a FAT directory sector (it also ends a carved file).
#include <gtest/gtest.h>

#include <cstring>

#include "engine/fat_directory_sector.h"
#include "engine/signatures/signature_rules.h"

namespace selvane {
namespace {

constexpr uint16_t kDate2020 = ((2020 - 1980) << 9) | (6 << 5) | 15;  // 15 June 2020
constexpr uint16_t kNoon = 12 << 11;

// A short entry with plausible times.
std::array<uint8_t, 32> ShortEntry(const char* name11, uint8_t attributes, uint32_t size, uint16_t cluster) {
  std::array<uint8_t, 32> e{};
  std::memcpy(e.data(), name11, 11);
  e[11] = attributes;
  for (size_t at : {14, 22}) e[at] = kNoon & 0xFF, e[at + 1] = kNoon >> 8;
  for (size_t at : {16, 18, 24}) e[at] = kDate2020 & 0xFF, e[at + 1] = kDate2020 >> 8;
  e[26] = cluster & 0xFF, e[27] = cluster >> 8;
  std::memcpy(e.data() + 28, &size, 4);
  return e;
}

std::array<uint8_t, 32> LongEntry(uint8_t sequence, uint8_t checksum) {
  std::array<uint8_t, 32> e{};
  e[0] = sequence;
  for (size_t i : {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30}) e[i] = 'a';
  e[11] = 0x0F;
  e[13] = checksum;
  return e;
}

std::vector<uint8_t> SectorOf(std::initializer_list<std::array<uint8_t, 32>> entries) {
  std::vector<uint8_t> sector(512, 0);
  size_t at = 0;
  for (const auto& e : entries) std::memcpy(sector.data() + 32 * (at++), e.data(), 32);
  return sector;
}

TEST(FatDirectorySector, AcceptsEntriesAndRejectsLookAlikes) {
  const char* name = "REPORT  DOC";
  const uint8_t sum = ShortNameChecksum(std::span(reinterpret_cast<const uint8_t*>(name), 11));
  auto deleted = ShortEntry("REPORT  DOC", 0x20, 100, 5);
  deleted[0] = 0xE5;

  auto tail = SectorOf({ShortEntry("A       TXT", 0x20, 10, 3)});
  tail[300] = 7;  // data after the end mark
  std::vector<uint8_t> pattern(512);
  for (size_t i = 0; i < 512; i += 4) pattern[i] = 'A', pattern[i + 1] = 0x20, pattern[i + 2] = 0x20, pattern[i + 3] = 0x20;

  const struct {
    const char* what;
    std::vector<uint8_t> sector;
    bool expected;
  } cases[] = {
      {"files and a volume label", SectorOf({ShortEntry("DISK       ", 0x08, 0, 0), ShortEntry("A       TXT", 0x20, 10, 3)}),
       true},
      {"a long name closed by its short entry", SectorOf({LongEntry(0x42, sum), LongEntry(0x01, sum),
                                                          ShortEntry("REPORT  DOC", 0x20, 100, 5)}),
       true},
      {"a long name closed by a deleted entry", SectorOf({LongEntry(0x41, 0x99), deleted}), true},
      {"a long name going on in the next sector", [&] {
         auto s = SectorOf({});
         for (size_t i = 0; i < 16; ++i) std::memcpy(s.data() + 32 * i, LongEntry(static_cast<uint8_t>(16 - i), sum).data(), 32);
         return s;
       }(), true},
      {"a long name with the wrong checksum", SectorOf({LongEntry(0x41, sum ^ 1), ShortEntry("REPORT  DOC", 0x20, 100, 5)}),
       false},
      {"an empty first entry", SectorOf({}), false},
      {"data after the end mark", tail, false},
      {"a single OEM letter in a short name", SectorOf({ShortEntry("GRO\xE1" "ED~1BIN", 0x20, 10, 3)}), true},
      {"a lower-case short name", SectorOf({ShortEntry("a       TXT", 0x20, 10, 3)}), false},
      {"a blank inside a name", SectorOf({ShortEntry("A B     TXT", 0x20, 10, 3)}), false},
      {"a live file dated 1985", [] {
         auto e = ShortEntry("A       TXT", 0x20, 10, 3);
         e[24] = 0x21, e[25] = (5 << 1);
         return SectorOf({e});
       }(), false},
      {"a repeated 4-byte pattern", pattern, false},
  };
  for (const auto& c : cases) EXPECT_EQ(IsFatDirectorySector(c.sector), c.expected) << c.what;
}

TEST(FatDirectorySector, FatTimesConvertLikeSystemTimes) {
  EXPECT_EQ(FatTimeToFileTime((10 << 9) | (1 << 5) | 1, 0), 0x01B41E2A18D64000ull) << "1 January 1990";
  EXPECT_FALSE(FatTimeToFileTime((41 << 9) | (2 << 5) | 30, 0)) << "30 February";
  EXPECT_TRUE(FatTimeToFileTime((40 << 9) | (2 << 5) | 29, 0)) << "29 February 2020";
  EXPECT_FALSE(FatTimeToFileTime((40 << 9) | (1 << 5) | 1, 30)) << "60 seconds";
}

TEST(FileSystemStructure, RecognisesRecordsBootSectorsAndDirectories) {
  auto sector = [](std::string_view head) {
    std::vector<uint8_t> s(512, 0x11);
    std::memcpy(s.data(), head.data(), head.size());
    return s;
  };
  EXPECT_TRUE(IsFileSystemStructure(sector("FILE0")));
  EXPECT_TRUE(IsFileSystemStructure(sector("INDX")));
  EXPECT_TRUE(IsFileSystemStructure(sector(std::string_view("\xEB\x58\x90MSWIN4.1", 11))));
  EXPECT_FALSE(IsFileSystemStructure(sector(std::string_view("\xEB\x58\x90MSWIN4.2", 11))));
  auto restart = sector("RSTR");
  EXPECT_FALSE(IsFileSystemStructure(restart));
  std::memcpy(restart.data() + 100, "N\0T\0F\0S\0", 8);
  EXPECT_TRUE(IsFileSystemStructure(restart));
  EXPECT_TRUE(IsFileSystemStructure(SectorOf({ShortEntry("A       TXT", 0x20, 10, 3)})));
  EXPECT_FALSE(IsFileSystemStructure(std::vector<uint8_t>(512, 0)));
}

}  // namespace
}  // namespace selvane
