#include <gtest/gtest.h>

#include "results/scan_log_record.h"

namespace selvane {
namespace {

TEST(ScanLogRecord, EncodesEveryFieldAtItsOffsetAndBack) {
  ScanLogRecord r;
  r.VolumeLetter = 'E';
  r.EngineCode = kEngineFastFat;
  r.IsFolder = 1;
  r.FolderDeleted = 1;
  r.Intact = 1;
  r.RecordNumber = 7;
  r.ItemId = 0x12345678;
  r.ClusterBytes = kNoClusterSize;
  r.CreationTime = 0x01D0000000000001ull;
  r.AccessTime = 2;
  r.WriteTime = 3;
  r.FileSize = 0x100000000ull;
  r.DataAreaSector = 4;
  r.LocationSector = 5;
  r.PartitionStart = 2048;
  r.SetName("Photos");

  RecordBytes bytes{};
  EncodeRecord(r, bytes);
  EXPECT_EQ(bytes[0], 'E');
  EXPECT_EQ(bytes[2], 1);           // EngineCode
  EXPECT_EQ(bytes[6], 1);           // IsFolder
  EXPECT_EQ(bytes[18], 7);          // RecordNumber
  EXPECT_EQ(bytes[22], 0x78);       // ItemId, low byte first
  EXPECT_EQ(bytes[26], 0xFF);       // ClusterBytes
  EXPECT_EQ(bytes[58], 1);          // FileSize high half
  EXPECT_EQ(bytes[78], 0x00);       // PartitionStart 2048 = 0x800
  EXPECT_EQ(bytes[79], 0x08);
  EXPECT_EQ(bytes[86], 'P');        // name
  EXPECT_EQ(bytes[92], 0);

  ScanLogRecord back = DecodeRecord(bytes);
  RecordBytes again{};
  EncodeRecord(back, again);
  EXPECT_EQ(bytes, again);
  EXPECT_EQ(back.NameView(), "Photos");
}

TEST(ScanLogRecord, LongNameIsCutAtACharacterBoundary) {
  ScanLogRecord r;
  std::string name(258, 'a');
  name += "\xC3\xA4\xC3\xA4";  // two two-byte characters; only 259 bytes fit before the NUL
  r.SetName(name);
  EXPECT_EQ(r.NameView().size(), 258u);
  name = std::string(257, 'a') + "\xC3\xA4";
  r.SetName(name);
  EXPECT_EQ(r.NameView(), name);
}

TEST(ScanLogRecord, NameWithoutTerminatorReadsWholeField) {
  ScanLogRecord r;
  r.Name.fill('x');
  EXPECT_EQ(r.NameView().size(), kRecordNameSize);
}

TEST(FolderKey, DepthInHighHalfIdInLowHalf) {
  EXPECT_EQ(MakeFolderKey(1, 2), 4294967298ull);
  EXPECT_EQ(MakeFolderKey(0, 5), 5u);
  EXPECT_EQ(MakeFolderKey(1, 40), 4294967296ull + 40);
  EXPECT_EQ(FolderKeyDepth(4294967298ull), 1u);
  EXPECT_EQ(FolderKeyId(4294967298ull), 2u);
}

}  // namespace
}  // namespace selvane
