// Partition tables read by the deep scan of a whole disk: MBR primary entries
// and GPT entries, and tables that are not to be trusted.
#include <gtest/gtest.h>

#include <vector>

#include "engine/partition_table.h"

namespace selvane {
namespace {

void Put(std::vector<uint8_t>& bytes, size_t offset, uint64_t value, int width) {
  for (int i = 0; i < width; ++i) bytes[offset + i] = static_cast<uint8_t>(value >> (8 * i));
}

struct MbrEntry {
  uint8_t status, type;
  uint32_t start, count;
};

std::vector<uint8_t> Mbr(const std::vector<MbrEntry>& entries, bool signature = true) {
  std::vector<uint8_t> sector(512, 0);
  for (size_t i = 0; i < entries.size(); ++i) {
    const size_t at = 446 + 16 * i;
    sector[at] = entries[i].status;
    sector[at + 4] = entries[i].type;
    Put(sector, at + 8, entries[i].start, 4);
    Put(sector, at + 12, entries[i].count, 4);
  }
  if (signature) sector[510] = 0x55, sector[511] = 0xAA;
  return sector;
}

TEST(PartitionTable, MbrEntries) {
  struct Case {
    const char* name;
    std::vector<uint8_t> sector;
    std::vector<uint64_t> starts;
  } cases[] = {
      {"two primaries", Mbr({{0x80, 0x0C, 2048, 81920}, {0, 0x07, 83968, 32768}}), {2048, 83968}},
      {"empty and extended entries are left out", Mbr({{0, 0, 0, 0}, {0, 0x05, 100, 10}, {0, 0x83, 200, 10}}), {200}},
      {"no signature", Mbr({{0, 0x0C, 2048, 100}}, false), {}},
      {"a boot flag other than 0 or 0x80", Mbr({{0x12, 0x0C, 2048, 100}}), {}},
      {"a GPT's protective entry", Mbr({{0, 0xEE, 1, 0xFFFFFFFF}}), {}},
      {"shorter than a sector", std::vector<uint8_t>(300, 0), {}},
  };
  for (const Case& c : cases) {
    std::vector<uint64_t> starts;
    for (const auto& p : ParseMbrPartitions(c.sector)) starts.push_back(p.firstSector);
    EXPECT_EQ(starts, c.starts) << c.name;
  }
  EXPECT_TRUE(IsProtectiveMbr(Mbr({{0, 0xEE, 1, 0xFFFFFFFF}})));
}

std::vector<uint8_t> GptHeader(uint32_t count, uint32_t entrySize) {
  std::vector<uint8_t> header(512, 0);
  const char signature[] = "EFI PART";
  std::copy(signature, signature + 8, header.begin());
  Put(header, 72, 2, 8);
  Put(header, 80, count, 4);
  Put(header, 84, entrySize, 4);
  return header;
}

TEST(PartitionTable, GptEntries) {
  std::vector<uint8_t> entries(128 * 4, 0);
  auto entry = [&](size_t i, uint64_t first, uint64_t last) {
    entries[i * 128] = 0xAF;  // any type GUID that is not zero
    Put(entries, i * 128 + 32, first, 8);
    Put(entries, i * 128 + 40, last, 8);
  };
  entry(0, 2048, 4095);
  entry(2, 4096, 8191);
  entry(3, 9000, 100);  // ends before it begins
  const auto found = ParseGptPartitions(GptHeader(4, 128), entries);
  ASSERT_EQ(found.size(), 2u);
  EXPECT_EQ(found[0].firstSector, 2048u);
  EXPECT_EQ(found[0].sectorCount, 2048u);
  EXPECT_EQ(found[1].firstSector, 4096u);

  // Claims the entries cannot back: more than there are bytes, entries too small or too large.
  EXPECT_EQ(ParseGptPartitions(GptHeader(1000000, 128), entries).size(), 2u);
  EXPECT_TRUE(ParseGptPartitions(GptHeader(4, 64), entries).empty());
  EXPECT_TRUE(ParseGptPartitions(GptHeader(4, 1u << 20), entries).empty());
  EXPECT_TRUE(ParseGptPartitions(std::vector<uint8_t>(512, 0), entries).empty());
}

}  // namespace
}  // namespace selvane
