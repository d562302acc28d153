// Carving a raw image of real sample files, sector by sector, as the deep scan
// walks a volume: every sample that has a size rule is found at its first
// sector, and measured exactly wherever its format marks its end.
#include <gtest/gtest.h>

#include <map>

#include "engine/signatures/carve_type.h"
#include "engine/signatures/identify.h"
#include "storage/disk_device.h"
#include "support/carving_support.h"
#include "support/test_support.h"

namespace selvane {
namespace {

struct Found {
  std::string name;
  CarveType type;
  uint64_t length;
};

// Walks the whole image: a carved file is skipped over unless its kind goes on
// with the next sector.
std::map<uint64_t, Found> CarveImage(const std::string& path) {
  DiskDevice device;
  EXPECT_EQ(OpenImageFile(path, device), kSuccess);
  const DeviceSectorSource source(device, 512);
  CarveContext context;
  std::map<uint64_t, Found> found;
  std::vector<uint8_t> sector(512);
  for (uint64_t s = 0; s < device.totalSectors;) {
    uint32_t read = 0;
    if (ReadSectors(1, device, sector.data(), s, 512, read) != kSuccess) break;
    CarvedFile file;
    uint64_t consumed = 1;
    if (IdentifyCarvedFile(context, source, sector, s, {}, file) == kSuccess) {
      found[s] = {std::string(file.Name()), file.type, file.length};
      if (!ContinuesWithNextSector(file.type)) consumed = std::max<uint64_t>(1, (file.length + 511) / 512);
    }
    s += consumed;
  }
  return found;
}

TEST(CarvingFixture, EverySampleIsFoundAndMeasured) {
  const std::string image = test::Fixture("carving.img");
  if (image.empty()) GTEST_SKIP() << "fixture carving.img is missing";
  const auto samples = test::ReadCarvingManifest(test::Fixture("carving.manifest"));
  ASSERT_GE(samples.size(), 40u);
  const auto found = CarveImage(image);

  for (const auto& sample : samples) {
    SCOPED_TRACE(sample.extension + " at byte " + std::to_string(sample.offset) + " (" + sample.origin + ")");
    const uint64_t sector = sample.offset / 512;
    const auto it = found.find(sector);
    if (sample.rule == "none") {
      EXPECT_EQ(it, found.end()) << "recognised kinds without a size rule are not carved";
      continue;
    }
    ASSERT_NE(it, found.end()) << "not found";
    EXPECT_EQ(it->second.name, std::to_string(sector) + "." + sample.extension);
    if (sample.rule == "exact") {
      EXPECT_EQ(it->second.length, sample.length);
    } else {
      EXPECT_GE(it->second.length, sample.length);
    }
  }
}

}  // namespace
}  // namespace selvane
