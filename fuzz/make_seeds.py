#!/usr/bin/env python3
"""Cuts seed inputs for the fuzz targets out of the unpacked test fixtures."""
import os
import struct
import sys

fixtures, seeds = sys.argv[1], sys.argv[2]


def target(name):
    path = os.path.join(seeds, name)
    os.makedirs(path, exist_ok=True)
    return path


def put(folder, name, data):
    with open(os.path.join(folder, name), "wb") as out:
        out.write(data)


images = sorted(f for f in os.listdir(fixtures) if f.endswith(".img"))

# Probes: the first 16 KiB of every volume.
probes = target("probes_fuzz")
for image in images:
    with open(os.path.join(fixtures, image), "rb") as f:
        put(probes, image, f.read(16384))

# Signatures: 64 KiB windows of the carving image at each sample's start, and
# the head of every other image.
signatures = target("signatures_fuzz")
carving = os.path.join(fixtures, "carving.img")
manifest = os.path.join(fixtures, "carving.manifest")
if os.path.exists(carving) and os.path.exists(manifest):
    with open(carving, "rb") as img, open(manifest) as m:
        for line in m:
            fields = line.split()
            if not fields or line.startswith("#") or not fields[0].isdigit():
                continue
            offset = int(fields[0])
            img.seek(offset)
            put(signatures, f"carving-{offset}", img.read(65536))
for image in images:
    with open(os.path.join(fixtures, image), "rb") as f:
        f.seek(16384)
        put(signatures, image, f.read(65536))

# Formatted-volume NTFS engine: the first 256 KiB of each NTFS volume (boot
# sector and the MFT's first records).
pntfs = target("professional_ntfs_fuzz")
for image in ("ntfs.img", "ntfs-4k.img", "ntfs-as-fat32.img"):
    path = os.path.join(fixtures, image)
    if os.path.exists(path):
        with open(path, "rb") as f:
            put(pntfs, image, f.read(262144))

# Scan log: a small log of two records in one folder.
def record(number, item, folder, name):
    rec = struct.pack("<HIIIIIII", 1, 1, folder, 0, 1, number, item, 512)
    rec += struct.pack("<QQQQQQQ", 0, 0, 0, 100, 0, 0, 0)
    rec += name.encode() + b"\0" * (260 - len(name))
    return rec

relation = b" | 0 - [1,2] | 4294967299 - [3]"
dirinfo = struct.pack("<II", 3, 2) + b"Fotos" + b"\0" * 255
main = record(1, 0, 0, "a.jpg") + record(2, 3, 1, "Fotos") + record(3, 0, 0, "b.doc")
put(target("scan_log_fuzz"), "small", struct.pack("<HH", len(relation), len(dirinfo)) + relation + dirinfo + main)

# History: a counter and one entry naming an image.
entry = bytearray(1120)
struct.pack_into("<IIQQ", entry, 0, 0, 0, 0, 100)
path = "/tmp/disk.img".encode("utf-16-le")
entry[80:80 + len(path)] = path
folder = "/tmp/ScanLog/1/".encode("utf-16-le")
entry[600:600 + len(folder)] = folder
put(target("history_fuzz"), "one", struct.pack("<Q", 1) + bytes(entry))

# FAT: each FAT volume's boot sector followed by 16 KiB of its root directory.
fat = target("fat_fuzz")
for image in images:
    with open(os.path.join(fixtures, image), "rb") as f:
        boot = f.read(512)
        if len(boot) < 512 or boot[510:512] != b"\x55\xaa":
            continue
        bps, spc = struct.unpack_from("<H", boot, 11)[0], boot[13]
        reserved, fats, root_entries = struct.unpack_from("<HBH", boot, 14)
        fat16_size = struct.unpack_from("<H", boot, 22)[0]
        fat_size = fat16_size or struct.unpack_from("<I", boot, 36)[0]
        if not bps or not spc or not fat_size or b"NTFS" in boot[3:11]:
            continue
        root = (reserved + fats * fat_size) * bps
        if not fat16_size:  # FAT32: the root directory's cluster
            root_cluster = struct.unpack_from("<I", boot, 44)[0]
            root += (root_cluster - 2) * spc * bps
        f.seek(root)
        put(fat, image, boot + f.read(16384))

# Formatted FAT walk: the stretch of each formatted volume that holds its old
# directories (from the old data area on), and the head of the small volumes.
walk = target("pro_fat_walk_fuzz")
for image in images:
    name = image[:-len(".img")]
    manifest = os.path.join(fixtures, name + ".manifest")
    start = 0
    if name.startswith("fat32-") and os.path.exists(manifest):
        for line in open(manifest, encoding="utf-8"):
            if line.startswith("data-area-sector "):
                start = int(line.split()[1]) * 512
    elif name not in ("fat12", "fat16"):
        continue
    with open(os.path.join(fixtures, image), "rb") as f:
        f.seek(start)
        put(walk, image, f.read(131072))

# NTFS: the head of each NTFS volume (boot sector and the records in use of
# its MFT) for the scan, and its MFT records one by one for the record parser.
scan = target("fast_ntfs_scan_fuzz")
records = target("ntfs_record_fuzz")
for image in images:
    with open(os.path.join(fixtures, image), "rb") as f:
        head = f.read(262144)
    if len(head) < 512 or head[3:11] != b"NTFS    ":
        continue
    put(scan, image, head)
    bps = struct.unpack_from("<H", head, 11)[0] or 512
    cluster = bps * head[13]
    mft = struct.unpack_from("<Q", head, 48)[0] * cluster
    size = 1024 if bps == 512 else bps
    for n in range(0, 96):
        rec = head[mft + n * size:mft + (n + 1) * size]
        if rec[:4] == b"FILE":
            put(records, f"{image}-{n}", bytes([0 if size == 1024 else 1]) + rec)

# Partition tables: the first 64 KiB of every image (MBR disks among them), and
# a GPT: protective MBR, header at sector 1, one entry at sector 2.
tables = target("partition_table_fuzz")
for image in images:
    with open(os.path.join(fixtures, image), "rb") as f:
        put(tables, image, f.read(65536))
mbr = bytearray(512)
mbr[446 + 4] = 0xEE
struct.pack_into("<II", mbr, 446 + 8, 1, 0xFFFFFFFF)
mbr[510:512] = b"\x55\xaa"
header = bytearray(512)
header[0:8] = b"EFI PART"
struct.pack_into("<QII", header, 72, 2, 128, 128)
gpt_entry = bytearray(128)
gpt_entry[0] = 0xAF
struct.pack_into("<QQ", gpt_entry, 32, 2048, 4095)
put(tables, "gpt", bytes(mbr) + bytes(header) + bytes(gpt_entry))
