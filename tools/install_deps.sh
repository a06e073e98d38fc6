#!/usr/bin/env bash
# Installs what building and testing need on Debian 12, and nothing that is already there.
set -euo pipefail
packages=(cmake ninja-build g++ clang libclang-rt-14-dev pkg-config qt6-base-dev libblkid-dev
          libgtest-dev zlib1g-dev dosfstools mtools ntfs-3g fdisk util-linux gzip nasm)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "installing: ${missing[*]}"
    sudo_cmd=""
    [ "$(id -u)" -eq 0 ] || sudo_cmd="sudo"
    $sudo_cmd apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
