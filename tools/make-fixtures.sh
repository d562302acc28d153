#!/usr/bin/env bash
# Rebuild every disk-image fixture in tests/fixtures/ with real tools, then
# check each one against its manifest (tools/check-fixtures.sh).
#
# Needs root: the NTFS images are filled through the ntfs-3g FUSE driver.
# Packages: dosfstools mtools ntfs-3g fdisk e2fsprogs sleuthkit xz-utils python3
#
# usage: tools/make-fixtures.sh [--install]
#   --install   apt-get install the packages first
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)

if [ "${1:-}" = --install ]; then
    apt-get install -y --no-install-recommends \
        dosfstools mtools ntfs-3g fdisk e2fsprogs sleuthkit xz-utils python3
fi
[ "$(id -u)" = 0 ] || echo "warning: not root; mounting NTFS images with ntfs-3g may fail" >&2

"$here/fixtures/make-fat.sh"
"$here/fixtures/make-fat-formatted.sh"
"$here/fixtures/make-ntfs.sh"
"$here/fixtures/make-ntfs-formatted-fat.sh"
"$here/fixtures/make-misc.sh"
"$here/fixtures/make-disk-mbr.sh"
"$here/check-fixtures.sh"
