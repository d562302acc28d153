#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "engine/file_system_probes.h"

namespace selvane {
namespace {

using Bytes = std::vector<uint8_t>;

void Put16(Bytes& b, size_t at, uint16_t v) {
  b[at] = v & 0xFF;
  b[at + 1] = v >> 8;
}
void Put32(Bytes& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = (v >> (8 * i)) & 0xFF;
}
void Put64(Bytes& b, size_t at, uint64_t v) {
  for (int i = 0; i < 8; ++i) b[at + i] = (v >> (8 * i)) & 0xFF;
}
void PutText(Bytes& b, size_t at, const char* text) {
  for (size_t i = 0; text[i]; ++i) b[at + i] = static_cast<uint8_t>(text[i]);
}

Bytes NtfsBoot(uint8_t sectorsPerCluster = 8) {
  Bytes b(kProbeBytes, 0);
  b[0] = 0xEB;
  b[1] = 0x52;
  b[2] = 0x90;
  PutText(b, 3, "NTFS    ");
  Put16(b, 0x0B, 512);
  b[0x0D] = sectorsPerCluster;
  b[0x15] = 0xF8;
  Put64(b, 0x28, 32767);
  Put64(b, 0x30, 4);
  b[510] = 0x55;
  b[511] = 0xAA;
  return b;
}

Bytes Fat32Boot(uint8_t sectorsPerCluster = 8, uint32_t totalSectors = 2000000) {
  Bytes b(kProbeBytes, 0);
  PutText(b, 3, "mkfs.fat");
  Put16(b, 0x0B, 512);
  b[0x0D] = sectorsPerCluster;
  Put16(b, 0x0E, 32);
  b[0x10] = 2;
  Put32(b, 0x20, totalSectors);
  Put32(b, 0x24, 2000);
  Put32(b, 0x2C, 2);
  PutText(b, 0x52, "FAT32   ");
  b[510] = 0x55;
  b[511] = 0xAA;
  return b;
}

Bytes Fat12Floppy() {
  Bytes b(kProbeBytes, 0);
  PutText(b, 3, "mkfs.fat");
  Put16(b, 0x0B, 512);
  b[0x0D] = 1;
  Put16(b, 0x0E, 1);
  b[0x10] = 2;
  Put16(b, 0x11, 224);
  Put16(b, 0x13, 2880);
  Put16(b, 0x16, 9);
  PutText(b, 0x36, "FAT12   ");
  b[510] = 0x55;
  b[511] = 0xAA;
  return b;
}

Bytes ExtVolume() {
  Bytes b(kProbeBytes, 0);
  Bytes sb(1024, 0);
  Put32(sb, 0x00, 2048);   // inodes
  Put32(sb, 0x04, 8192);   // blocks (1 KiB)
  Put32(sb, 0x14, 1);      // first data block
  Put32(sb, 0x18, 0);      // log block size: 1 KiB
  Put32(sb, 0x20, 8192);   // blocks per group
  Put32(sb, 0x28, 2048);   // inodes per group
  Put16(sb, 0x38, 0xEF53);
  Put32(sb, 0x54, 11);     // first non-reserved inode
  std::copy(sb.begin(), sb.end(), b.begin() + 1024);
  return b;
}

struct ProbeCase {
  const char* what;
  std::function<Bytes()> make;
  FileSystemKind expected;
};

TEST(FileSystemProbes, ClassifiesTheFirst16KiB) {
  const ProbeCase cases[] = {
      {"NTFS, 8 sectors per cluster", [] { return NtfsBoot(8); }, FileSystemKind::Ntfs},
      {"NTFS, 128 sectors per cluster is refused", [] { return NtfsBoot(128); }, FileSystemKind::Unknown},
      {"NTFS with a reserved sector count",
       [] {
         auto b = NtfsBoot();
         Put16(b, 0x0E, 1);
         return b;
       },
       FileSystemKind::Unknown},
      {"NTFS with bytes per sector 0 still passes that test",
       [] {
         auto b = NtfsBoot();
         Put16(b, 0x0B, 0);
         return b;
       },
       FileSystemKind::Ntfs},
      {"NTFS without total sectors",
       [] {
         auto b = NtfsBoot();
         Put64(b, 0x28, 0);
         return b;
       },
       FileSystemKind::Unknown},
      {"NTFS with a nonzero FAT field",
       [] {
         auto b = NtfsBoot();
         b[0x16] = 1;
         return b;
       },
       FileSystemKind::Unknown},
      {"NTFS without the boot signature",
       [] {
         auto b = NtfsBoot();
         b[511] = 0;
         return b;
       },
       FileSystemKind::Unknown},
      {"FAT32", [] { return Fat32Boot(8); }, FileSystemKind::Fat},
      {"FAT32 with 128 sectors per cluster", [] { return Fat32Boot(128); }, FileSystemKind::Fat},
      {"FAT12 floppy", Fat12Floppy, FileSystemKind::Fat},
      {"BitLocker signature over a FAT32 boot sector",
       [] {
         auto b = Fat32Boot();
         PutText(b, 3, "-FVE-FS-");
         return b;
       },
       FileSystemKind::Unknown},
      {"locked-volume pattern at 0x1E0",
       [] {
         auto b = Fat32Boot();
         for (int i = 0; i < 8; ++i) b[0x1E0 + i] = 0x78;
         for (int i = 0; i < 19; ++i) b[0x1E8 + i] = 0xFF;
         b[0x1FB] = 0x00;
         b[0x1FC] = 0x1F;
         b[0x1FD] = 0x2C;
         return b;
       },
       FileSystemKind::Unknown},
      {"FAT with bytes per sector not a multiple of 512",
       [] {
         auto b = Fat32Boot();
         Put16(b, 0x0B, 500);
         return b;
       },
       FileSystemKind::Unknown},
      {"FAT with 0 sectors per cluster",
       [] {
         auto b = Fat32Boot();
         b[0x0D] = 0;
         return b;
       },
       FileSystemKind::Unknown},
      {"FAT whose metadata exceeds its size (cluster count wraps)", [] { return Fat32Boot(1, 100); },
       FileSystemKind::Unknown},
      {"ext superblock", ExtVolume, FileSystemKind::Ext},
      {"ext superblock with inconsistent group counts",
       [] {
         auto b = ExtVolume();
         Put32(b, 1024 + 0x28, 1024);
         return b;
       },
       FileSystemKind::Unknown},
      {"ext with 4 KiB blocks must start at block 0",
       [] {
         auto b = ExtVolume();
         Put32(b, 1024 + 0x18, 2);
         return b;
       },
       FileSystemKind::Unknown},
      {"all zero", [] { return Bytes(kProbeBytes, 0); }, FileSystemKind::Unknown},
  };
  for (const auto& c : cases) EXPECT_EQ(ClassifyVolume(c.make()), c.expected) << c.what;
}

TEST(FileSystemProbes, ShortBuffersAreNeverAccepted) {
  auto ntfs = NtfsBoot();
  auto fat = Fat32Boot();
  EXPECT_FALSE(IsNtfsBootSector(std::span(ntfs).first(511)));
  EXPECT_FALSE(IsFatBootSector(std::span(fat).first(100)));
  EXPECT_FALSE(IsExtSuperblock(std::span(fat).first(10)));
  EXPECT_EQ(ClassifyVolume(std::span(ntfs).first(0)), FileSystemKind::Unknown);
}

}  // namespace
}  // namespace selvane
