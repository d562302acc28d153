#!/bin/sh
# Throughput of the deep scan, as ratios measured in one run on one image: the
# scan against reading the same image with cat, and against PhotoRec (all file
# types, paranoid checks) when photorec is installed (apt-get install testdisk).
#
#   bench/deep-scan-vs-cat.sh [SELVANE] [SIZE_MIB] [CARVING_IMAGE]
#
# SELVANE defaults to build/selvane, SIZE_MIB to 1024. The image is made in a
# scratch folder below /tmp: random data with the samples of CARVING_IMAGE
# (default: the build's fixtures/carving.img, about 1.2 MiB of real files of
# 40 kinds) written at eight places. Every program reads the image once before
# the measured runs, so all of them read it from the page cache: the ratios
# compare the work done per byte, not the disk.
set -eu

selvane=${1:-build/selvane}
size_mib=${2:-1024}
samples=${3:-$(dirname "$selvane")/fixtures/carving.img}
[ -x "$selvane" ] || { echo "no selvane program at $selvane" >&2; exit 2; }
[ -f "$samples" ] || { echo "no sample image at $samples" >&2; exit 2; }

work=$(mktemp -d /tmp/selvane-deep-bench.XXXXXX)
trap 'rm -rf "$work"' EXIT INT TERM
image=$work/disk.img

echo "Making a ${size_mib} MiB image of random data with planted files in $work ..." >&2
head -c $((size_mib * 1048576)) /dev/urandom >"$image"
sample_bytes=$(stat -c %s "$samples")
copies=8
for i in $(seq 0 $((copies - 1))); do
  # Spread over the image, each copy at a sector boundary.
  offset_sectors=$((size_mib * 2048 * i / copies + 7 * i))
  dd if="$samples" of="$image" bs=512 seek=$offset_sectors conv=notrunc status=none
done

# Seconds (with fractions) that a command takes.
seconds() {
  start=$(date +%s.%N)
  "$@" >/dev/null 2>&1 || true
  end=$(date +%s.%N)
  awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f", b - a }'
}
# a / b with two decimals.
div() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }

cat "$image" >/dev/null  # into the page cache

cat_s=$(seconds cat "$image")
export SELVANE_DATA_DIR="$work/data"
scan_s=$(seconds "$selvane" scan "$image" --mode deep --restart)
found=$("$selvane" scan "$image" --mode deep --resume 2>/dev/null | head -n 1)
mib=$size_mib

printf 'image: %s MiB of random data, %d copies of %s (%s bytes each)\n' "$mib" "$copies" "$(basename "$samples")" \
  "$sample_bytes"
printf 'selvane deep scan: %s\n' "$found"
printf 'cat:               %6.2f s  %7.1f MiB/s\n' "$cat_s" "$(div "$mib" "$cat_s")"
printf 'selvane deep scan: %6.2f s  %7.1f MiB/s  time ratio to cat %s\n' "$scan_s" "$(div "$mib" "$scan_s")" \
  "$(div "$scan_s" "$cat_s")"

if command -v photorec >/dev/null 2>&1; then
  mkdir -p "$work/photorec"
  cd "$work"  # PhotoRec writes photorec.log into the current folder
  cat "$image" >/dev/null
  photorec_s=$(seconds photorec /log /d "$work/photorec/recup" /cmd "$image" \
    options,paranoid,fileopt,everything,enable,wholespace,search)
  recovered=$(find "$work/photorec" -type f -path '*recup*' | wc -l)
  printf 'photorec:          %6.2f s  %7.1f MiB/s  time ratio to cat %s, to selvane %s (%s files written)\n' \
    "$photorec_s" "$(div "$mib" "$photorec_s")" "$(div "$photorec_s" "$cat_s")" \
    "$(div "$photorec_s" "$scan_s")" "$recovered"
else
  echo 'photorec:          not installed (apt-get install testdisk)'
fi
