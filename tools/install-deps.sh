#!/usr/bin/env bash
# Installs the Debian packages needed to build and test Selvane, only those
# missing. Quiet when everything is already there.
set -euo pipefail

packages=(g++ cmake make pkg-config xz-utils python3 clang libclang-rt-14-dev libgtest-dev libbenchmark-dev libblkid-dev libudev-dev liblzma-dev strace)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}" >&2
sudo_cmd=()
[ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
