#!/bin/sh
# Makes the FAT test images under tests/fixtures/fat with mkfs.fat and mtools: volumes of
# each FAT type with live and deleted files, long and non-ASCII names, a GBK short name,
# deleted folders with sub-folders, empty files and files over several clusters, plus a
# partitioned disk image. Every file's content is its own name repeated ("NAME|NAME|…"),
# cut to its size, so that tests can tell what each recovered file must hold.
#
# Usage: tools/make_fat_fixtures.sh [OUTDIR]   (default: tests/fixtures/fat)
set -eu

here=$(cd "$(dirname "$0")/.." && pwd)
out=${1:-$here/tests/fixtures/fat}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$out"
export MTOOLS_SKIP_CHECK=1
export TZ=UTC
# mtools takes the times of new entries from the clock; fixtures stay the same anyway
# because they are made once and committed.

# content NAME SIZE: the bytes a fixture file holds.
content() {
    if [ "$2" -eq 0 ]; then
        : >"$work/file"
    else
        yes "$1|" | tr -d '\n' | head -c "$2" >"$work/file"
    fi
}

# put IMG PATH SIZE: copies a file of SIZE bytes to PATH (an mtools path without "::").
put() {
    content "$(basename "$2")" "$3"
    touch -d '2024-03-15 10:20:30' "$work/file"
    mcopy -m -i "$1" "$work/file" "::$2"
}

# fill IMG: the common tree, then the deletions.
fill() {
    img=$1
    mmd -i "$img" ::/Docs "::/Old Projects" "::/Old Projects/Sub Folder" \
        "::/Old Projects/Sub Folder/Nested" ::/Keep
    put "$img" "/readme.txt" 300
    put "$img" "/Alpha beta.txt" 1000
    put "$img" "/big photo.jpg" 9000
    put "$img" "/empty.txt" 0
    put "$img" "/FILE8.TXT" 700
    put "$img" "/Docs/Quarterly report.pdf" 5000
    put "$img" "/Docs/kept.txt" 200
    put "$img" "/Docs/Ünïcode naïve 文件.txt" 1500
    put "$img" "/Old Projects/design notes.txt" 2500
    put "$img" "/Old Projects/Sub Folder/deep file.txt" 3000
    put "$img" "/Old Projects/Sub Folder/Nested/x.bin" 600
    put "$img" "/Keep/still here.txt" 400
    # A short name in code page 936 ("中" with a lower-case extension).
    content "gbk" 100
    MTOOLSRC="$work/rc936" mcopy -i "$img" "$work/file" "::/Keep/中文.txt"

    mdel -i "$img" "::/Alpha beta.txt" "::/big photo.jpg" ::/empty.txt ::/FILE8.TXT \
        "::/Docs/Quarterly report.pdf" "::/Docs/Ünïcode naïve 文件.txt"
    mdeltree -i "$img" "::/Old Projects"
}

printf 'default_codepage=936\n' >"$work/rc936"

# FAT12: a 1.44 MB floppy.
rm -f "$work/fat12.img"
mkfs.fat -C -F 12 -i 12121212 -n FAT12TEST "$work/fat12.img" 1440 >/dev/null
fill "$work/fat12.img"

# FAT16: 16 MiB, 2 KiB clusters.
rm -f "$work/fat16.img"
mkfs.fat -C -F 16 -s 4 -i 16161616 -n FAT16TEST "$work/fat16.img" 16384 >/dev/null
fill "$work/fat16.img"

# FAT32: 34 MB with 512-byte clusters (more than 65,525 clusters).
rm -f "$work/fat32.img"
mkfs.fat -C -F 32 -s 1 -i 32323232 -n FAT32TEST "$work/fat32.img" 34000 >/dev/null
fill "$work/fat32.img"

# A disk with an MBR: partition 1 FAT16, partition 2 FAT12.
rm -f "$work/disk.img"
truncate -s 24M "$work/disk.img"
printf 'label: dos\nstart=2048, size=20480, type=6\nstart=22528, size=16384, type=1\n' |
    sfdisk -q "$work/disk.img"
mkfs.fat -F 16 -s 4 -i 11111111 -n PART1 --offset 2048 "$work/disk.img" 10240 >/dev/null 2>&1
mkfs.fat -F 12 -i 22222222 -n PART2 --offset 22528 "$work/disk.img" 8192 >/dev/null 2>&1
fill "$work/disk.img@@$((2048 * 512))"
put "$work/disk.img@@$((22528 * 512))" "/second partition.txt" 800
mdel -i "$work/disk.img@@$((22528 * 512))" "::/second partition.txt"

for name in fat12 fat16 fat32 disk; do
    gzip -9n <"$work/$name.img" >"$out/$name.img.gz"
done
ls -l "$out"
