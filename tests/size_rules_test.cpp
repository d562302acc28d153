// Identification and the size rules: names, ends found by markers and header
// fields, files cut where the next one begins, limits, progress and cancel.
#include <gtest/gtest.h>

#include "engine/signatures/identify.h"
#include "support/carving_sources.h"

namespace selvane {
namespace {

using namespace std::literals;
using test::CountingSource;
using test::Put;

constexpr std::string_view kJfif = "\xFF\xD8\xFF\xE0\x00\x10JFIF\x00"sv;

struct Result {
  ResultCode code = -1;
  CarvedFile file;
};

Result Identify(CarveContext& context, const SectorSource& source, std::span<const uint8_t> image, uint64_t sector,
                const CarveProgress& progress = {}) {
  Result r;
  std::vector<uint8_t> data(512);
  uint32_t read = 0;
  source.Read(sector, 1, data.data(), read);
  r.code = IdentifyCarvedFile(context, source, data, sector, progress, r.file);
  (void)image;
  return r;
}

std::vector<uint8_t> Filler(size_t sectors, uint8_t byte = 0x11) { return std::vector<uint8_t>(sectors * 512, byte); }

TEST(IdentifyCarvedFile, NamesFilesAfterStartSectorAndFirstRow) {
  auto image = Filler(2);
  Put(image, 512, kJfif);
  image.resize(512 * 123458, 0x11);
  std::copy_n(image.begin() + 512, 512, image.begin() + 512 * 123456);
  Put(image, 512 * 123457, "II\x2A\x00"sv);
  CountingSource source(image);
  CarveContext context;
  EXPECT_EQ(Identify(context, source, image, 123456).file.Name(), "123456.jpg");
  const Result tiff = Identify(context, source, image, 123457);
  EXPECT_EQ(tiff.code, kSuccess);
  EXPECT_EQ(tiff.file.Name(), "123457.tif");
  EXPECT_EQ(tiff.file.type, CarveType::kTiff);
}

TEST(IdentifyCarvedFile, JpegEndsAtAZeroPaddedEndMarker) {
  // End marker in the first sector, followed by zeros: one sector at most, nothing read.
  auto single = Filler(4);
  Put(single, 0, kJfif);
  std::fill_n(single.begin() + 100, 412, 0);
  Put(single, 98, "\xFF\xD9"sv);
  CountingSource singleSource(single);
  CarveContext context;
  Result r = Identify(context, singleSource, single, 0);
  EXPECT_EQ(r.file.length, 100u);
  EXPECT_EQ(singleSource.sectorsReadSoFar, 1u) << "only the sector handed in is read";

  // A thumbnail's end marker in the first sector is followed by more of the
  // file; the file ends at the padded marker before the next file.
  auto thumb = Filler(40);
  Put(thumb, 0, "\xFF\xD8\xFF\xE1\x10\x00" "Exif\x00\x00"sv);
  Put(thumb, 300, "\xFF\xD8\xFF\xDB"sv);
  Put(thumb, 400, "\xFF\xD9"sv);  // thumbnail end, more data after it
  Put(thumb, 512 * 9 + 10, "\xFF\xD9"sv);
  std::fill_n(thumb.begin() + 512 * 9 + 12, 500, 0);
  Put(thumb, 512 * 10, kJfif);  // the next file
  CountingSource thumbSource(thumb);
  r = Identify(context, thumbSource, thumb, 0);
  EXPECT_EQ(r.file.length, 512u * 9 + 12);
}

TEST(IdentifyCarvedFile, HeaderFieldsMeasureWithoutReadingAhead) {
  auto avi = Filler(8);
  Put(avi, 0, "RIFF\x10\x27\x00\x00" "AVI LIST"sv);  // RIFF size 10,000
  CountingSource source(avi);
  CarveContext context;
  const Result r = Identify(context, source, avi, 0);
  EXPECT_EQ(r.file.type, CarveType::kAvi);
  EXPECT_EQ(r.file.length, 10008u);
  EXPECT_EQ(source.sectorsReadSoFar, 1u);
}

TEST(IdentifyCarvedFile, ExecutableEndsTheFileBeforeItButIsNotCarved) {
  auto image = Filler(12);
  Put(image, 0, "II\x2A\x00"sv);  // TIFF: no end marker
  std::vector<uint8_t> exe(512, 0);
  Put(exe, 0, "MZ");
  exe[60] = 0x80;
  Put(exe, 0x80, "PE\0\0"sv);
  exe[0x80 + 22] = 0x02;
  Put(image, 512 * 5, exe);
  CountingSource source(image);
  CarveContext context;
  EXPECT_EQ(Identify(context, source, image, 0).file.length, 512u * 5);
  EXPECT_EQ(Identify(context, source, image, 5).code, kInvalidParameter);
}

TEST(IdentifyCarvedFile, FileSystemStructuresEndFiles) {
  auto image = Filler(12);
  Put(image, 0, "II\x2A\x00"sv);
  Put(image, 512 * 3, "FILE0");
  CountingSource source(image);
  CarveContext context;
  EXPECT_EQ(Identify(context, source, image, 0).file.length, 512u * 3);
}

TEST(IdentifyCarvedFile, FileReachingTheEndOfTheSourceIsReadToTheEnd) {
  auto image = Filler(5);
  Put(image, 512 * 2, "\x89PNG\r\n\x1A\n"sv);
  Put(image, 512 * 4 + 100, "IEND\xAE\x42\x60\x82"sv);
  std::fill_n(image.begin() + 512 * 4 + 108, 404, 0);
  CountingSource source(image);
  CarveContext context;
  EXPECT_EQ(Identify(context, source, image, 2).file.length, 512u * 2 + 108);
}

TEST(IdentifyCarvedFile, MarkersOfTheNextFileDoNotEndThisOne) {
  // Two PDFs in one read-ahead chunk: the first ends at its own "%%EOF" and
  // the line end after it, not at the second one's.
  auto image = Filler(12, 0x20);
  Put(image, 0, "%PDF-1.4\n");
  Put(image, 512 * 2, "trailer\n<<>>\n%%EOF\r\n");
  std::fill_n(image.begin() + 512 * 2 + 20, 492, 0);
  Put(image, 512 * 3, "%PDF-1.5\n");
  Put(image, 512 * 4, "%%EOF\n");
  CountingSource source(image);
  CarveContext context;
  EXPECT_EQ(Identify(context, source, image, 0).file.length, 512u * 2 + 20);
  EXPECT_EQ(Identify(context, source, image, 3).file.length, 512u + 6);
}

// Transport stream sectors: 'G' at every 188-byte packet of the stream that
// begins at byte `start` of the image.
void TransportStream(std::vector<uint8_t>& image, size_t start, size_t packets) {
  for (size_t k = 0; k < packets; ++k) Put(image, start + 188 * k, "G\x40\x11\x10"sv);
}

TEST(IdentifyCarvedFile, SecondTransportStreamNeedsAFreshStart) {
  // Stream A: 47 sectors worth of packets (sector-aligned end), then stream B.
  auto image = Filler(200, 0);
  TransportStream(image, 512, 128);     // ends at byte 512 + 24,064 = sector 48
  TransportStream(image, 512 * 48, 128);  // B right after A: A's last sector ends in packets
  TransportStream(image, 512 * 120, 64);  // C after zeros
  CountingSource source(image);
  CarveContext context;
  Result a = Identify(context, source, image, 1);
  ASSERT_EQ(a.code, kSuccess);
  EXPECT_EQ(a.file.type, CarveType::kTransportStream);
  EXPECT_EQ(a.file.length, 188u * 256) << "A and B share one packet grid, so they are measured as one";
  ASSERT_EQ(context.tsRanges.size(), 1u);
  EXPECT_EQ(context.tsRanges[0].firstSector, 1u);

  EXPECT_EQ(Identify(context, source, image, 48).code, kInvalidParameter) << "inside a measured stream";
  context.ClearTsRanges();
  EXPECT_EQ(Identify(context, source, image, 48).code, kInvalidParameter)
      << "the sector before ends in packets of the same grid";
  EXPECT_EQ(Identify(context, source, image, 120).file.type, CarveType::kTransportStream);
}

TEST(IdentifyCarvedFile, GifWithoutTrailerIsCutAtTheLimit) {
  std::vector<uint8_t> head(512, 0x11);
  Put(head, 0, "GIF89a");
  constexpr uint64_t kLimit = 0x8000000;
  const test::GeneratedSource device(head, kLimit / 512 + 300, 0x11);
  CarveContext context;
  std::vector<uint8_t> sector(head);
  CarvedFile file;
  ASSERT_EQ(IdentifyCarvedFile(context, device, sector, 0, {}, file), kSuccess);
  EXPECT_EQ(file.length, kLimit + 512);
}

TEST(IdentifyCarvedFile, ProgressIsReportedAndCanStopTheMeasuring) {
  auto image = Filler(600);
  Put(image, 0, "II\x2A\x00"sv);
  CountingSource source(image);
  CarveContext context;
  std::vector<std::pair<int32_t, uint64_t>> reports;
  int32_t answer = 0;
  context.SetProgressCallback(
      [&](int32_t percent, int32_t scale, int32_t, uint64_t done, uint64_t total, uint64_t found) {
        EXPECT_EQ(scale, 90);
        EXPECT_EQ(total, 1000u);
        EXPECT_EQ(found, 7u);
        reports.emplace_back(percent, done);
        return answer;
      },
      90);
  const CarveProgress progress{500, 1000, -1, 7};
  Result r = Identify(context, source, image, 0, progress);
  ASSERT_EQ(r.code, kSuccess);
  EXPECT_EQ(r.file.length, 600u * 512);
  ASSERT_EQ(reports.size(), 5u);  // 599 sectors in chunks of 128
  EXPECT_EQ(reports[0], std::make_pair(500 * 0 + (500 + 128) * 100 / 1000 + 10, uint64_t{628}));

  reports.clear();
  answer = kScanStopCode;
  r = Identify(context, source, image, 0, progress);
  EXPECT_EQ(r.code, kScanStopCode);
  EXPECT_EQ(r.file.Name(), "0.tif");
  EXPECT_EQ(r.file.length, 512u) << "stopped before the first chunk counted";
  EXPECT_EQ(reports.size(), 1u);

  answer = 1;  // any other answer ends the measuring but keeps the file
  EXPECT_EQ(Identify(context, source, image, 0, progress).code, kSuccess);
}

}  // namespace
}  // namespace selvane
