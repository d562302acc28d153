#include <cstdio>
#include <vector>

#include "cli/arguments.h"
#include "cli/commands.h"
#include "cli/json_writer.h"
#include "engine/byte_reader.h"
#include "engine/file_system_probes.h"
#include "storage/source.h"

namespace selvane::cli {

const char* const kProbeHelp =
    "Usage: selvane probe SOURCE [--json]\n"
    "\n"
    "Tells which file system starts at SOURCE. The first line of the output is one\n"
    "of: ntfs, fat, ext, unknown.\n"
    "\n"
    "SOURCE is a disk image file, a whole disk (/dev/sdb) or a partition (/dev/sdb1).\n"
    "The source is only read, never written.\n"
    "\n"
    "Options:\n"
    "  --json   print one JSON object with the facts of the boot sector instead\n"
    "\n"
    "Exit codes: 0 done, 2 usage error, 3 the source cannot be read (or is shorter\n"
    "than 16 KiB).\n"
    "\n"
    "Example:\n"
    "  selvane probe /dev/sdb1\n";

namespace {

std::string TrimmedText(const ByteReader& r, size_t offset, size_t length) {
  auto bytes = r.Span(offset, length);
  std::string text(bytes.begin(), bytes.end());
  while (!text.empty() && (text.back() == ' ' || text.back() == '\0')) text.pop_back();
  for (char& c : text)
    if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x7F) c = '?';
  return text;
}

void AddBootFacts(FileSystemKind kind, const std::vector<uint8_t>& head, JsonObject& json) {
  ByteReader r(head);
  json.Add("locked", IsLockedVolume(head));
  if (kind == FileSystemKind::Ntfs) {
    json.Add("bytes_per_sector", unsigned{r.U16(0x0B)})
        .Add("sectors_per_cluster", unsigned{r.U8(0x0D)})
        .Add("total_sectors", r.U64(0x28))
        .Add("mft_cluster", r.U64(0x30))
        .Add("mft_mirror_cluster", r.U64(0x38))
        .Add("serial", r.U64(0x48));
  } else if (kind == FileSystemKind::Fat) {
    const bool fat32 = IsFat32BootSector(head) && r.U16(0x16) == 0;
    const uint32_t bytesPerSector = r.U16(0x0B);
    const uint32_t rootSectors = (uint32_t{r.U16(0x11)} * 32 + bytesPerSector - 1) / bytesPerSector;
    const uint32_t sectorsPerFat = r.U16(0x16) ? r.U16(0x16) : r.U32(0x24);
    const uint32_t totalSectors = r.U32(0x20) ? r.U32(0x20) : r.U16(0x13);
    const uint32_t metadata = r.U16(0x0E) + uint32_t{r.U8(0x10)} * sectorsPerFat + rootSectors;
    const uint32_t clusters = totalSectors > metadata ? (totalSectors - metadata) / r.U8(0x0D) : 0;
    const unsigned fatBits = fat32 ? 32 : (clusters < 4085 ? 12 : 16);
    json.Add("fat_bits", fatBits)
        .Add("bytes_per_sector", bytesPerSector)
        .Add("sectors_per_cluster", unsigned{r.U8(0x0D)})
        .Add("reserved_sectors", unsigned{r.U16(0x0E)})
        .Add("fats", unsigned{r.U8(0x10)})
        .Add("root_entries", unsigned{r.U16(0x11)})
        .Add("sectors_per_fat", sectorsPerFat)
        .Add("total_sectors", totalSectors)
        .Add("clusters", clusters)
        .Add("oem", TrimmedText(r, 3, 8))
        .Add("label", TrimmedText(r, fat32 ? 0x47 : 0x2B, 11));
  } else if (kind == FileSystemKind::Ext) {
    ByteReader sb = r.Sub(1024, 1024);
    json.Add("block_size", uint64_t{1024} << (sb.U32(0x18) & 31))
        .Add("blocks", uint64_t{sb.U32(0x04)})
        .Add("inodes", uint64_t{sb.U32(0x00)})
        .Add("label", TrimmedText(sb, 0x78, 16));
  }
}

}  // namespace

int RunProbe(const std::vector<std::string>& args) {
  ParsedArguments parsed;
  std::string error;
  if (!ParseArguments(args, {"--json"}, {}, parsed, error) || parsed.positional.size() != 1) {
    std::fprintf(stderr, "selvane probe: %s\n%s", error.empty() ? "expected exactly one SOURCE" : error.c_str(),
                 "Usage: selvane probe SOURCE [--json]\n");
    return kExitUsage;
  }
  const std::string& path = parsed.positional[0];
  SourceSpec source;
  if (ResultCode rc = ResolveSource(path, source); rc != kSuccess) {
    std::fprintf(stderr, "selvane probe: cannot open %s: %s\n", path.c_str(), ResultMessage(rc).c_str());
    return kExitSourceUnreadable;
  }
  std::vector<uint8_t> head(kProbeBytes);
  if (ResultCode rc = ReadSourceHead(source, head.data(), head.size()); rc != kSuccess) {
    if (rc == kReadFault)
      std::fprintf(stderr, "selvane probe: %s is shorter than 16 KiB or cannot be read to 16 KiB\n", path.c_str());
    else
      std::fprintf(stderr, "selvane probe: cannot read %s: %s\n", path.c_str(), ResultMessage(rc).c_str());
    return kExitSourceUnreadable;
  }
  const FileSystemKind kind = ClassifyVolume(head);
  if (!parsed.Has("--json")) {
    std::printf("%s\n", FileSystemKindName(kind));
    return kExitOk;
  }
  JsonObject json;
  json.Add("kind", FileSystemKindName(kind)).Add("source", path);
  const char* sourceKind = source.kind == SourceKind::Image ? "image"
                           : source.kind == SourceKind::Drive ? "disk"
                                                              : "partition";
  json.Add("source_kind", sourceKind).Add("first_sector", source.firstSector).Add("sector_size", source.sectorSize);
  AddBootFacts(kind, head, json);
  std::printf("%s\n", json.str().c_str());
  return kExitOk;
}

}  // namespace selvane::cli
