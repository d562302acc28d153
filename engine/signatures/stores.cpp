// Disk image backups, SQLite databases and the Outlook Express and Outlook
// mail stores.
#include "engine/signatures/signature_families.h"

namespace selvane {
namespace {

using namespace std::literals;

CarveType DetectDiskImageBackup(ByteReader r, CarveContext&) {
  return r.size() >= 4 && r.U32(0) == 0x0000EFFE ? CarveType::kDiskImageBackup : CarveType::kNone;
}

CarveType DetectSqlite(ByteReader r, CarveContext&) {
  return r.size() >= 16 && r.Equals(0, "SQLite format 3\x00"sv) ? CarveType::kSqlite : CarveType::kNone;
}

CarveType DetectDbx(ByteReader r, CarveContext&) {
  return r.size() >= 16 && r.Equals(0, "\xCF\xAD\x12\xFE"sv) ? CarveType::kDbx : CarveType::kNone;
}

CarveType DetectPst(ByteReader r, CarveContext&) {
  return r.size() >= 16 && r.Equals(0, "!BDN") && r.Equals(8, "SM") ? CarveType::kPst : CarveType::kNone;
}

}  // namespace

extern const DetectorSpec kDiskImageBackupDetector{DetectDiskImageBackup, {{{0, 0xFE}}}, 1};
extern const DetectorSpec kSqliteDetector{DetectSqlite, {{{0, 'S'}}}, 1};
extern const DetectorSpec kDbxDetector{DetectDbx, {{{0, 0xCF}}}, 1};
extern const DetectorSpec kPstDetector{DetectPst, {{{0, '!'}}}, 1};

}  // namespace selvane
