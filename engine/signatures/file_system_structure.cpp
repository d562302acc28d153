// Sectors that belong to a file system: a carved file ends before them.
#include "engine/fat_directory_sector.h"
#include "engine/signatures/signature_rules.h"

namespace selvane {

bool IsFileSystemStructure(std::span<const uint8_t> sector) {
  const ByteReader r(sector);
  if (sector.size() < 32) return false;
  // NTFS file and index records.
  if (r.Equals(0, "FILE") || r.Equals(0, "INDX")) return true;
  // NTFS log restart page.
  if (r.Equals(0, "RSTR") && FindFirst(sector, Pattern("N\0T\0F\0S\0", 8)) != kNotFound) return true;
  // A sector that begins with "$STA" in UTF-16 (NTFS metadata names).
  if (r.Equals(0, Pattern("$\0S\0T\0A\0", 8))) return true;
  // Boot sectors of FAT, NTFS and exFAT volumes.
  if (r.U8(0) == 0xEB && r.U8(2) == 0x90) {
    for (Pattern oem : {Pattern("MSDOS5.0"), Pattern("MSWIN4.0"), Pattern("MSWIN4.1"), Pattern("NTFS    "),
                        Pattern("EXFAT   ")})
      if (r.Equals(3, oem)) return true;
  }
  return IsFatDirectorySector(sector);
}

}  // namespace selvane
