#include "platform/block_probe.h"

#include <blkid/blkid.h>

#include <memory>

namespace selvane {
namespace {

struct ProbeDeleter {
  void operator()(blkid_probe probe) const { blkid_free_probe(probe); }
};
using ProbePtr = std::unique_ptr<std::remove_pointer_t<blkid_probe>, ProbeDeleter>;

ProbePtr NewProbe(const FileHandle& device, uint64_t offset, uint64_t size, uint32_t sectorSize) {
  if (!device.IsOpen()) return nullptr;
  ProbePtr probe(blkid_new_probe());
  if (!probe) return nullptr;
  if (blkid_probe_set_device(probe.get(), device.fd(), static_cast<blkid_loff_t>(offset),
                             static_cast<blkid_loff_t>(size)) != 0)
    return nullptr;
  if (sectorSize) blkid_probe_set_sectorsize(probe.get(), sectorSize);
  return probe;
}

std::string Value(blkid_probe probe, const char* name) {
  const char* data = nullptr;
  size_t length = 0;
  if (blkid_probe_lookup_value(probe, name, &data, &length) != 0 || !data) return {};
  std::string text(data, length);
  while (!text.empty() && text.back() == '\0') text.pop_back();
  return text;
}

}  // namespace

bool ProbePartitionTable(const FileHandle& disk, uint32_t sectorSize, PartitionTable& out) {
  out = PartitionTable{};
  ProbePtr probe = NewProbe(disk, 0, 0, sectorSize);
  if (!probe) return false;
  blkid_partlist list = blkid_probe_get_partitions(probe.get());
  if (!list) return true;  // no table (or one libblkid does not know)
  blkid_parttable table = blkid_partlist_get_table(list);
  if (const char* type = table ? blkid_parttable_get_type(table) : nullptr) out.type = type;
  const bool dos = out.type == "dos";
  const int count = blkid_partlist_numof_partitions(list);
  for (int i = 0; i < count; ++i) {
    blkid_partition part = blkid_partlist_get_partition(list, i);
    if (!part) continue;
    PartitionTableEntry entry;
    const int number = blkid_partition_get_partno(part);
    const blkid_loff_t start = blkid_partition_get_start(part);
    const blkid_loff_t size = blkid_partition_get_size(part);
    if (number < 0 || start < 0 || size < 0) continue;
    entry.number = static_cast<uint32_t>(number);
    entry.start512 = static_cast<uint64_t>(start);
    entry.size512 = static_cast<uint64_t>(size);
    // Entries of nested tables (BSD labels inside an MBR slice) have their own
    // table type; only entries of the MBR itself carry an MBR type byte.
    blkid_parttable own = blkid_partition_get_table(part);
    const char* ownType = own ? blkid_parttable_get_type(own) : nullptr;
    if (dos && ownType && std::string(ownType) == "dos")
      entry.mbrType = static_cast<uint8_t>(blkid_partition_get_type(part));
    entry.extended = blkid_partition_is_extended(part) != 0;
    out.entries.push_back(entry);
  }
  return true;
}

bool ProbeFileSystem(const FileHandle& device, uint64_t offset, uint64_t size, uint32_t sectorSize,
                     FileSystemInfo& out) {
  out = FileSystemInfo{};
  ProbePtr probe = NewProbe(device, offset, size, sectorSize);
  if (!probe) return false;
  blkid_probe_enable_partitions(probe.get(), 0);
  blkid_probe_enable_superblocks(probe.get(), 1);
  blkid_probe_set_superblocks_flags(probe.get(), BLKID_SUBLKS_TYPE | BLKID_SUBLKS_LABEL | BLKID_SUBLKS_VERSION);
  int rc = blkid_do_safeprobe(probe.get());
  if (rc == -2) {
    // Two signatures (a volume formatted over another): take the first one
    // libblkid recognises rather than calling the volume empty.
    blkid_reset_probe(probe.get());
    rc = blkid_do_probe(probe.get());
  }
  if (rc < 0) return false;
  if (rc == 1) return true;  // nothing recognised
  out.type = Value(probe.get(), "TYPE");
  out.version = Value(probe.get(), "VERSION");
  out.label = Value(probe.get(), "LABEL");
  return true;
}

std::string FileSystemDisplayName(const FileSystemInfo& info) {
  if (info.type == "ntfs") return "NTFS";
  if (info.type == "vfat" || info.type == "msdos") return info.version == "FAT32" ? "FAT32" : "FAT";
  if (info.type == "exfat") return "exFAT";
  return info.type;
}

}  // namespace selvane
