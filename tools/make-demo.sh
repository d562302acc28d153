#!/usr/bin/env bash
# Builds samples/demo.img.xz, the sample disk image of "selvane demo", with real
# tools, and samples/demo.manifest, the files on it that a deep scan gets back.
#
# The image is a 61 MiB disk with an MBR partition table (sfdisk):
#   partition 1  FAT32, sectors 2048..83967 (40 MiB): a camera card's photos and
#                a few documents, music and a video in folders (mtools); most of
#                them deleted, a folder of letters with mdeltree.
#   a gap        sectors 83968..92159 (4 MiB) outside any partition holding
#                files without any file system (a picture, a sound, an archive
#                laid at sector boundaries): only carving finds them.
#   partition 2  sectors 92160..124927 (16 MiB): an NTFS volume (mkntfs, filled
#                through ntfs-3g) that was then quick-formatted as FAT32
#                (mkfs.fat): its files are only in the old MFT now.
# The sample files come from tools/demo/samples.py (ImageMagick, LibreOffice,
# ffmpeg, zip).
#
# Needs root (ntfs-3g mounts through FUSE). Packages: dosfstools mtools
# ntfs-3g fdisk sleuthkit xz-utils python3 imagemagick libreoffice ffmpeg zip
#
# Manifest lines: <sha256> <size> <where> <path>
#   where: fat-deleted, fat-live, carved, ntfs-formatted
set -euo pipefail
# shellcheck source=fixtures/common.sh
source "$(dirname "$0")/fixtures/common.sh"
# shellcheck source=fixtures/fat-lib.sh
source "$FIXTURE_TOOLS/fat-lib.sh"
# shellcheck source=fixtures/ntfs-lib.sh
source "$FIXTURE_TOOLS/ntfs-lib.sh"
need sfdisk fdisk
need xz xz-utils
need convert imagemagick
need soffice libreoffice
need ffmpeg ffmpeg
need zip zip

SAMPLES_OUT=$REPO_ROOT/samples
FAT_START=2048 FAT_SECTORS=81920
GAP_START=$((FAT_START + FAT_SECTORS)) GAP_SECTORS=8192
OLD_START=$((GAP_START + GAP_SECTORS)) OLD_SECTORS=32768
DISK_SECTORS=$((OLD_START + OLD_SECTORS))

S=$WORK/samples
log "making the sample files"
"$PYTHON" "$REPO_ROOT/tools/demo/samples.py" "$S"
for f in "$S"/*; do touch -d "$FIXED_DATE" "$f"; done
MANIFEST=$WORK/demo.manifest
: > "$MANIFEST"
expect() {  # expect WHERE FILE PATH
    printf '%s %s %s %s\n' "$(sha256 "$2")" "$(filesize "$2")" "$1" "$3" >> "$MANIFEST"
}

log "building demo.img"
DISK=$WORK/demo.img
truncate -s $((DISK_SECTORS * 512)) "$DISK"
printf 'label: dos\nlabel-id: 0x5e1a0de0\nunit: sectors\n\nstart=%d, size=%d, type=c\nstart=%d, size=%d, type=c\n' \
    "$FAT_START" "$FAT_SECTORS" "$OLD_START" "$OLD_SECTORS" | sfdisk --quiet "$DISK"

# Partition 1: the camera card.
IMG=$WORK/part1.img
LEDGER=$WORK/part1.ledger
: > "$LEDGER"
truncate -s $((FAT_SECTORS * 512)) "$IMG"
mkfs.fat --invariant -i 5e1a0de1 -F 32 -h "$FAT_START" -n KAMERA "$IMG" >/dev/null
fput() {  # fput SAMPLE PATH
    mcopy -m -i "$IMG" "$S/$1" "::$2"
    ledger_add "$LEDGER" live "$S/$1" - "$2"
}
# The folders first, as a camera or a computer makes them long before the
# files: their clusters lie at the start of the data area.
for f in /Fotos "/Fotos/Urlaub 2023" /Dokumente /Dokumente/Briefe /Musik /Videos; do folder "$f"; done
for i in 1 2 3 4 5 6 7 8; do fput "Urlaub 0$i.jpg" "/Fotos/Urlaub 2023/Urlaub 0$i.jpg"; done
fput "Brief an Frau Beispiel.pdf" "/Dokumente/Briefe/Brief an Frau Beispiel.pdf"
fput Bewerbung.docx /Dokumente/Briefe/Bewerbung.docx
fput Notizen.doc /Dokumente/Notizen.doc
fput "Haushalt 2023.xlsx" "/Dokumente/Haushalt 2023.xlsx"
fput Einkaufsliste.txt /Einkaufsliste.txt
fput Melodie.mp3 /Musik/Melodie.mp3
fput Urlaub.mp4 /Videos/Urlaub.mp4
for i in 2 4 5 6 7; do delete "/Fotos/Urlaub 2023/Urlaub 0$i.jpg"; done
delete_tree /Dokumente/Briefe
delete "/Dokumente/Haushalt 2023.xlsx"
delete /Musik/Melodie.mp3
delete /Videos/Urlaub.mp4
fsck.fat -n "$IMG" >/dev/null || die "fsck.fat found problems in partition 1"
while IFS=$'\t' read -r state _ _ _ path; do
    case $state in
        deleted) expect fat-deleted "$S/$(basename "$path")" "$path" ;;
        live) expect fat-live "$S/$(basename "$path")" "$path" ;;
        *) die "$path: $state" ;;
    esac
done < "$LEDGER"
dd if="$IMG" of="$DISK" bs=512 seek="$FAT_START" conv=notrunc status=none

# The gap: files without a file system, each at a sector boundary after a
# stretch of zeros.
at=$((GAP_START + 16))
for f in Strand.jpg Skizze.png Logo.gif Klingelton.wav Sicherung.zip; do
    dd if="$S/$f" of="$DISK" bs=512 seek="$at" conv=notrunc status=none
    expect carved "$S/$f" "/$f"
    at=$((at + ($(filesize "$S/$f") + 511) / 512 + 24))
done
[ "$at" -lt "$OLD_START" ] || die "the carving area is too small"

# Partition 2: an old NTFS volume, formatted as FAT32 since.
IMG=$WORK/part2.img
LEDGER=$WORK/part2.ledger
: > "$LEDGER"
truncate -s $((OLD_SECTORS * 512)) "$IMG"
mkntfs -F -Q -q -c 32768 -p "$OLD_START" -H 255 -S 63 -L ALT "$IMG" 2>"$WORK/mkntfs.log" \
    || { cat "$WORK/mkntfs.log" >&2; die "mkntfs failed"; }
ntfs_mount
mkdir -p "$NTFS_MNT/Fotos/Sommer 2015" "$NTFS_MNT/Rechnungen"
for i in 1 2 3; do cp "$S/Sommer_2015_0$i.jpg" "$NTFS_MNT/Fotos/Sommer 2015/"; done
cp "$S/Rechnung 2015.pdf" "$NTFS_MNT/Rechnungen/"
ntfs_umount
for i in 1 2 3; do expect ntfs-formatted "$S/Sommer_2015_0$i.jpg" "/Fotos/Sommer 2015/Sommer_2015_0$i.jpg"; done
expect ntfs-formatted "$S/Rechnung 2015.pdf" "/Rechnungen/Rechnung 2015.pdf"
ntfsfix -n "$IMG" >/dev/null || die "ntfsfix reports problems in partition 2"
MFT_OFFSET=$("$PYTHON" -c 'import struct,sys; b=open(sys.argv[1],"rb").read(512); print(struct.unpack_from("<Q",b,0x30)[0]*struct.unpack_from("<H",b,11)[0]*b[13])' "$IMG")
cp "$IMG" "$WORK/before.img"
mkfs.fat -F 32 -s 8 -i 5e1a0de2 --invariant -h "$OLD_START" -n NEU "$IMG" >/dev/null 2>"$WORK/mkfs.log" \
    || { cat "$WORK/mkfs.log" >&2; die "mkfs.fat failed"; }
"$PYTHON" - "$WORK/before.img" "$IMG" "$MFT_OFFSET" <<'PY' || die "the format wrote into the old MFT"
import sys
a, b, mft = open(sys.argv[1], "rb").read(), open(sys.argv[2], "rb").read(), int(sys.argv[3])
last = max((i for i in range(0, len(a), 512) if a[i:i + 512] != b[i:i + 512]), default=-1)
sys.exit(0 if last + 512 <= mft else 1)
PY
dd if="$IMG" of="$DISK" bs=512 seek="$OLD_START" conv=notrunc status=none

mkdir -p "$SAMPLES_OUT"
OUT_DIR=$SAMPLES_OUT compress "$DISK" demo
{
    echo "# demo.img: built by tools/make-demo.sh"
    echo "# <sha256> <size> <where> <path>; where: fat-deleted, fat-live, carved, ntfs-formatted"
    cat "$MANIFEST"
} > "$SAMPLES_OUT/demo.manifest"
log "samples/demo.img.xz and samples/demo.manifest written"
