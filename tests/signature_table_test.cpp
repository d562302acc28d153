// The signature table: its rows, the dispatch index against the plain
// row-by-row loop, the detectors' corner cases and the content check.
#include <gtest/gtest.h>

#include <random>

#include "engine/signatures/content_match.h"
#include "engine/signatures/signature_table.h"
#include "support/carving_sources.h"
#include "support/test_support.h"

namespace selvane {
namespace {

using namespace std::literals;
using test::CountingSource;
using test::Put;

TEST(SignatureTable, RowsNameTypesAfterTheirFirstRow) {
  const auto rows = FileSignatureTable();
  ASSERT_EQ(rows.size(), 85u);
  EXPECT_EQ(rows.back().type, CarveType::kNone);
  EXPECT_EQ(rows[0].extension, "mpeg");
  EXPECT_EQ(rows[36].extension, "doc");
  EXPECT_EQ(rows[51].extension, "docx");
  EXPECT_EQ(rows[83].extension, "ttf");

  const std::pair<CarveType, std::string_view> names[] = {
      {CarveType::kMpeg, "mpeg"}, {CarveType::kAsf, "wmv"},     {CarveType::kRealMedia, "rmvb"},
      {CarveType::kJpeg, "jpg"},  {CarveType::kTiff, "tif"},    {CarveType::kBmp, "bmp"},
      {CarveType::kGzip, "gz"},   {CarveType::kBdavStream, "mts"}, {CarveType::kOfficePackage, "mso07"},
  };
  for (const auto& [type, extension] : names) EXPECT_EQ(FirstRowOfType(type)->extension, extension);

  // Every type has a row; exactly the backups and programs are recognised but not carved.
  for (int code = 0; code < 49; ++code) {
    const SignatureRow* row = FirstRowOfType(static_cast<CarveType>(code));
    ASSERT_NE(row, nullptr) << code;
    const bool carved = row->measure != nullptr;
    EXPECT_EQ(carved, code != 9 && code != 41 && code != 42 && code != 43) << code;
  }
  EXPECT_EQ(FindRowByExtension("JPEG")->type, CarveType::kJpeg);
  EXPECT_EQ(FindRowByExtension("txt"), nullptr);
  EXPECT_EQ(FindRowByExtension(""), nullptr);
}

// Signatures planted at the start of random sectors, so that both paths see
// every detector answer and refuse.
std::vector<std::vector<uint8_t>> PlantedPrefixes() {
  return {
      {0x00, 0x00, 0x01, 0xBA}, {0x7F, 1, 2, 3, 'f', 't', 'y', 'p', 'i', 's', 'o'}, {9, 9, 9, 9, 'f', 't', 'y', 'p', '3', 'g', 'p'}, {'.', 'R', 'M', 'F'},
      {0x30, 0x26, 0xB2, 0x75}, {'F', 'W', 'S', 4}, {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'A', 'V', 'I', ' '},
      {'F', 'L', 'V', 1}, {0x1A, 0x45, 0xDF, 0xA3}, {'G', 1, 2, 3}, {'I', 'D', '3', 3, 0, 0},
      {'M', 'T', 'h', 'd', 0, 0, 0, 6}, {'M', 'A', 'C', ' '}, {'m', 'o', 'o', 'v'}, {0xFF, 0xFD, 0xE4, 0},
      {'G', 'I', 'F', '8', '9', 'a'}, {'B', 'M'}, {0xFF, 0xD8, 0xFF, 0xE0}, {0x89, 'P', 'N', 'G'},
      {'8', 'B', 'P', 'S'}, {'I', 'I', 0x2A, 0}, {0, 0, 1, 0, 1, 0}, {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1},
      {'P', 'K', 3, 4}, {'%', 'P', 'D', 'F', '-'}, {0x1F, 0x8B, 0x08, 0}, {'7', 'z', 0xBC, 0xAF, 0x27},
      {'R', 'a', 'r', '!', 0x1A, 7, 0}, {'M', 'S', 'C', 'F'}, {'M', 'Z'}, {0xFE, 0xEF, 0, 0},
      {'S', 'Q', 'L', 'i', 't', 'e'}, {0xCF, 0xAD, 0x12, 0xFE}, {'!', 'B', 'D', 'N'}, {0, 1, 0, 0, 0, 1},
      {0x06, 0x0E, 0x2B, 0x34}, {'M', 'M', 'M', 'D'},
  };
}

TEST(SignatureTable, DispatchAgreesWithTheRowByRowLoop) {
  std::mt19937_64 random(12345);
  std::vector<uint8_t> image(512 * 4096);
  for (auto& b : image) b = static_cast<uint8_t>(random());
  const auto prefixes = PlantedPrefixes();
  for (size_t s = 0; s < 4096; ++s) {
    const size_t offset = s * 512;
    switch (s % 4) {
      case 0: break;  // random bytes
      case 1: Put(image, offset, prefixes[s / 4 % prefixes.size()]); break;
      case 2: std::fill_n(image.begin() + static_cast<ptrdiff_t>(offset), 512, 0); break;
      case 3:  // a signature with the bytes right after it made plausible
        Put(image, offset, prefixes[s / 4 % prefixes.size()]);
        for (size_t i = 4; i < 16; ++i) image[offset + i] = 0;
        break;
    }
  }
  // Real sectors: every sector of the carving fixture, when it is there.
  if (const std::string fixture = test::Fixture("carving.img"); !fixture.empty()) {
    const auto real = test::ReadFile(fixture);
    image.insert(image.end(), real.begin(), real.end() - static_cast<ptrdiff_t>(real.size() % 512));
  }
  const MemorySectorSource source(image, 512);
  size_t recognised = 0;
  for (const bool tsCheck : {true, false}) {
    CarveContext fast, rows;
    for (CarveContext* c : {&fast, &rows}) {
      c->source = &source;
      c->tsCheck = tsCheck;
      c->mtsActive = !tsCheck;
    }
    for (uint64_t s = 0; s < source.TotalSectors(); ++s) {
      const ByteReader sector(std::span<const uint8_t>(image).subspan(s * 512, 512));
      fast.candidateStart = fast.sectorUnderTest = rows.candidateStart = rows.sectorUnderTest = s;
      const CarveType expected = DetectByRows(sector, rows);
      ASSERT_EQ(DetectFileStart(sector, fast), expected) << "sector " << s;
      if (expected != CarveType::kNone) ++recognised;
    }
  }
  EXPECT_GT(recognised, 100u);
}

// A sector of 512 bytes that begins with `head`.
std::vector<uint8_t> Sector(std::span<const uint8_t> head) {
  std::vector<uint8_t> sector(512, 0);
  Put(sector, 0, head);
  return sector;
}
std::vector<uint8_t> Sector(std::string_view head) {
  return Sector(std::span(reinterpret_cast<const uint8_t*>(head.data()), head.size()));
}

CarveType Detect(const std::vector<uint8_t>& image, uint64_t sector = 0, bool mtsActive = false) {
  const MemorySectorSource source(image, 512);
  CarveContext context;
  context.source = &source;
  context.candidateStart = context.sectorUnderTest = sector;
  context.mtsActive = mtsActive;
  return DetectFileStart(ByteReader(std::span(image).subspan(sector * 512, 512)), context);
}

// A ZIP local header for `name` at offset.
void LocalHeader(std::vector<uint8_t>& image, size_t offset, std::string_view name) {
  Put(image, offset, "PK\x03\x04\x14\x00\x00\x00\x08\x00"sv);
  image[offset + 26] = static_cast<uint8_t>(name.size());
  Put(image, offset + 30, name);
}

// A compound file header whose directory is at file sector 1 (device sector 2).
std::vector<uint8_t> CompoundFile(std::string_view secondSector, std::span<const uint8_t> rootClass,
                                  std::u16string_view entryName) {
  std::vector<uint8_t> image(512 * 4, 0);
  Put(image, 0, "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1"sv);
  Put(image, 512, secondSector);
  image[48] = 1;  // first directory sector
  Put(image, 1024 + 80, rootClass);
  for (size_t i = 0; i < entryName.size(); ++i) image[1024 + 128 + 2 * i] = static_cast<uint8_t>(entryName[i]);
  return image;
}

TEST(SignatureTable, DetectorsDecideCornerCases) {
  const std::array<uint8_t, 16> wordClass = {0x06, 0x09, 0x02, 0, 0, 0, 0, 0, 0xC0, 0, 0, 0, 0, 0, 0, 0x46};
  const std::array<uint8_t, 16> noClass{};

  std::vector<uint8_t> docx(512 * 20, 0);
  LocalHeader(docx, 0, "[Content_Types].xml");
  LocalHeader(docx, 700, "word/document.xml");
  std::vector<uint8_t> xlsx(512 * 20, 0);
  LocalHeader(xlsx, 0, "xl/workbook.xml");
  std::vector<uint8_t> zip(512 * 20, 0);
  LocalHeader(zip, 0, "a.txt");
  LocalHeader(zip, 600, "wordlist/b.txt");  // "word" with a part beyond: still a Word package
  std::vector<uint8_t> plainZip(512 * 20, 0);
  LocalHeader(plainZip, 0, "a.txt");
  LocalHeader(plainZip, 5000, "notes/xl.txt");
  std::vector<uint8_t> lateWord(512 * 24, 0);
  LocalHeader(lateWord, 0, "a.txt");
  LocalHeader(lateWord, 512 * 21, "word/document.xml");  // beyond the 20 sectors looked at

  std::vector<uint8_t> exe(512, 0), dll, sys, notImage;
  Put(exe, 0, "MZ");
  exe[60] = 0x80;
  Put(exe, 0x80, "PE\0\0"sv);
  exe[0x80 + 22] = 0x02;
  dll = sys = notImage = exe;
  dll[0x80 + 23] = 0x20;
  sys[0x80 + 23] = 0x10;
  notImage[0x80 + 22] = 0x00;

  std::vector<uint8_t> icon = Sector("\x00\x00\x01\x00\x02\x00"sv);
  icon[6 + 8] = 0x10, icon[6 + 12] = 38;          // image 1: 16 bytes at 38
  icon[22 + 8] = 0x20, icon[22 + 12] = 38 + 16;   // image 2: 32 bytes right after it
  std::vector<uint8_t> iconGap = icon;
  iconGap[22 + 12] = 38 + 20;

  std::vector<uint8_t> bdav = Sector("\x11\x22\x33\x44\x47\x40\x00\x10\x00\x00\xB0\x11\x00\x00\xC1\x00"sv);

  const struct {
    const char* what;
    std::vector<uint8_t> image;
    CarveType expected;
    bool mtsActive = false;
  } cases[] = {
      {"Word class id, no Word header in the second sector", CompoundFile("junk", wordClass, u""),
       CarveType::kWordDocument},
      {"Word stream header in the second sector", CompoundFile("\xEC\xA5"sv, noClass, u""), CarveType::kWordDocument},
      {"Excel BOF record", CompoundFile("\x09\x08\x10\x00\x00\x06"sv, noClass, u""), CarveType::kExcelWorkbook},
      {"PowerPoint stream by name", CompoundFile("junk", noClass, u"POWERPOINT DOCUMENT"), CarveType::kPowerPoint},
      {"other compound file", CompoundFile("junk", noClass, u"Contents"), CarveType::kCompoundFile},
      {"FLA: compound start with another version", Sector("\xD0\xCF\x11\xE0\x00\x00\x00\x00"sv), CarveType::kFla},
      {"package naming word/ after [Content_Types].xml", docx, CarveType::kWordPackage},
      {"package naming xl/", xlsx, CarveType::kExcelPackage},
      {"zip whose part begins with word", zip, CarveType::kWordPackage},
      {"zip without Office parts", plainZip, CarveType::kZip},
      {"Office part beyond the 20 sectors", lateWord, CarveType::kZip},
      {"executable", exe, CarveType::kExecutable},
      {"library", dll, CarveType::kDynamicLibrary},
      {"driver", sys, CarveType::kDriver},
      {"PE that is no executable image", notImage, CarveType::kNone},
      {"icon whose images follow the directory", icon, CarveType::kIcon},
      {"icon with a gap between images", iconGap, CarveType::kNone},
      {"BDAV stream", bdav, CarveType::kBdavStream},
      {"BDAV sector inside a measured BDAV stream", bdav, CarveType::kNone, true},
      {"gzip -9", Sector("\x1F\x8B\x08\x00\x00\x00\x00\x00\x02\x03"sv), CarveType::kGzip},
      {"gzip -6 (extra flags 0)", Sector("\x1F\x8B\x08\x00\x00\x00\x00\x00\x00\x03"sv), CarveType::kNone},
      {"ID3v2 tag", Sector("ID3\x04\x00\x00\x00\x00\x01\x7F"sv), CarveType::kMp3},
      {"ID3v2 tag with a size byte of 0x80", Sector("ID3\x04\x00\x00\x00\x00\x01\x80"sv), CarveType::kNone},
      {"GIF89a", Sector("GIF89a"), CarveType::kGif},
      {"GIF with upper case", Sector("GIF89A"), CarveType::kNone},
      {"SWF compressed, version 10", Sector("CWS\x0A"sv), CarveType::kSwf},
      {"SWF uncompressed, version 6", Sector("FWS\x06"sv), CarveType::kNone},
      {"MPEG program stream", Sector("\x00\x00\x01\xBA\x44\x00\x04\x00\x04\x01\x01\x89\xC3\xF8\x00\x00\x01\xBB"sv),
       CarveType::kMpeg},
      {"MPEG pack without a system header", Sector("\x00\x00\x01\xBA\x44\x00\x04\x00\x04\x01\x01\x89\xC3\xF8"sv),
       CarveType::kNone},
      {"a zero sector", Sector(""), CarveType::kNone},
  };
  for (const auto& c : cases) EXPECT_EQ(Detect(c.image, 0, c.mtsActive), c.expected) << c.what;
}

TEST(ContentMatchesExtension, ChecksTheTypeTheExtensionNames) {
  const auto pdf = Sector("%PDF-1.4");
  auto jpeg = Sector("\xFF\xD8\xFF\xE0\x00\x10JFIF\x00"sv);
  const MemorySectorSource pdfSource(pdf, 512), jpegSource(jpeg, 512);
  CarveContext context;
  EXPECT_TRUE(ContentMatchesExtension(context, pdfSource, pdf, "txt", 0)) << "not in the table: nothing to check";
  EXPECT_FALSE(ContentMatchesExtension(context, pdfSource, pdf, "doc", 0));
  EXPECT_TRUE(ContentMatchesExtension(context, pdfSource, pdf, "PDF", 0));
  EXPECT_TRUE(ContentMatchesExtension(context, jpegSource, jpeg, "jfif", 0));
  EXPECT_FALSE(ContentMatchesExtension(context, jpegSource, jpeg, "png", 0));

  // Through a device, as the file-system engines call it.
  test::TempDir dir;
  test::WriteFile(dir / "disk.img", jpeg);
  DiskDevice device;
  ASSERT_EQ(OpenImageFile(dir / "disk.img", device), kSuccess);
  EXPECT_TRUE(ContentMatchesExtension(jpeg, "jpg", device, 512, 0));
  EXPECT_FALSE(ContentMatchesExtension(jpeg, "gif", device, 512, 0));
}

}  // namespace
}  // namespace selvane
