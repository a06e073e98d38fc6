#!/usr/bin/env bash
# Builds the bundled demo disk image: an MBR with one FAT32 and one NTFS partition, files in
# folders, then some deleted (a whole folder and single files, long and non-ASCII names).
# Needs root for the NTFS FUSE mount: dosfstools, mtools, ntfs-3g, sfdisk, python3.
# Usage: tools/make_demo_image.sh [OUTPUT.img.gz]   (default demo/demo.img.gz)
set -euo pipefail
export LC_ALL=C.UTF-8

here=$(cd "$(dirname "$0")/.." && pwd)
out=${1:-$here/demo/demo.img.gz}
work=$(mktemp -d)
trap 'mountpoint -q "$work/mnt" && umount "$work/mnt"; rm -rf "$work"' EXIT

fat_start=2048       # sectors
fat_sectors=69632    # 34 MiB: enough clusters for a true FAT32 with 512-byte clusters
ntfs_start=$((fat_start + fat_sectors))
ntfs_sectors=32768   # 16 MiB
total=$((ntfs_start + ntfs_sectors + 2048))

# Deterministic content: text that is large enough to span several clusters, and a PNG.
python3 - "$work/files" <<'PY'
import os, sys, zlib, struct, random
root = sys.argv[1]
rng = random.Random(7)
def text(path, words):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    vocab = "recovery disk photo holiday report budget river mountain coffee draft chapter".split()
    with open(path, "w") as f:
        f.write(" ".join(rng.choice(vocab) for _ in range(words)) + "\n")
def png(path, w, h):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    rows = b"".join(b"\0" + bytes(rng.randrange(256) for _ in range(w * 3)) for _ in range(h))
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, 2, 0, 0, 0))
                + chunk(b"IDAT", zlib.compress(rows)) + chunk(b"IEND", b""))
text(f"{root}/fat/Documents/notes.txt", 200)
text(f"{root}/fat/Documents/Quarterly report final.txt", 6000)
text(f"{root}/fat/Documents/Résumé Ångström.txt", 800)
png(f"{root}/fat/Photos/Holiday 2024/beach at sunrise.png", 48, 32)
png(f"{root}/fat/Photos/Holiday 2024/family dinner.png", 40, 40)
text(f"{root}/fat/Photos/Holiday 2024/captions.txt", 300)
png(f"{root}/fat/Photos/cat.png", 16, 16)
text(f"{root}/fat/照片/说明.txt", 150)
text(f"{root}/ntfs/Projects/thesis/chapter one.txt", 4000)
text(f"{root}/ntfs/Projects/thesis/tiny.txt", 5)
text(f"{root}/ntfs/Projects/old drafts/draft 1.txt", 3000)
text(f"{root}/ntfs/Projects/old drafts/draft 2.txt", 2500)
png(f"{root}/ntfs/Pictures/garden.png", 40, 30)
png(f"{root}/ntfs/Pictures/Straße in München.png", 24, 24)
text(f"{root}/ntfs/readme.txt", 50)
PY

# FAT32 partition, filled and emptied with mtools.
fat=$work/fat.part
truncate -s $((fat_sectors * 512)) "$fat"
mkfs.fat -F 32 -s 1 -n QUARNELDEMO -h $fat_start "$fat" >/dev/null
export MTOOLS_SKIP_CHECK=1
(cd "$work/files/fat" && mcopy -s -i "$fat" Documents Photos 照片 ::/)
mdeltree -i "$fat" "::/Photos/Holiday 2024"
mdel -i "$fat" "::/Documents/Quarterly report final.txt" "::/Documents/Résumé Ångström.txt"
mdel -i "$fat" "::/照片/说明.txt"

# NTFS partition, filled and emptied through the FUSE driver.
ntfs=$work/ntfs.part
truncate -s $((ntfs_sectors * 512)) "$ntfs"
mkntfs -F -q -L QuarnelNTFS -p $ntfs_start -H 255 -S 63 "$ntfs" >/dev/null 2>&1
mkdir "$work/mnt"
ntfs-3g "$ntfs" "$work/mnt"
cp -r "$work/files/ntfs/." "$work/mnt/"
sync
rm -r "$work/mnt/Projects/old drafts"
rm "$work/mnt/Pictures/Straße in München.png" "$work/mnt/Projects/thesis/tiny.txt"
umount "$work/mnt"

img=$work/demo.img
truncate -s $((total * 512)) "$img"
sfdisk -q "$img" <<TABLE
label: dos
label-id: 0x51a2d3e0
start=$fat_start, size=$fat_sectors, type=c, bootable
start=$ntfs_start, size=$ntfs_sectors, type=7
TABLE
dd if="$fat" of="$img" bs=512 seek=$fat_start conv=notrunc status=none
dd if="$ntfs" of="$img" bs=512 seek=$ntfs_start conv=notrunc status=none
mkdir -p "$(dirname "$out")"
gzip -9n < "$img" > "$out"
echo "wrote $out ($(stat -c %s "$out") bytes)"
