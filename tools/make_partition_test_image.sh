#!/bin/sh
# Makes a sparse disk image holding NTFS and FAT32 volumes at chosen sectors, for the
# partition-search tests and benchmark. With -t it also writes a DOS partition table
# describing them (sfdisk); without, the image has no table, as after a wiped first sector.
#   make_partition_test_image.sh [-t] IMAGE SIZE_MIB ntfs|fat32:FIRST_SECTOR:SIZE_MIB ...
# Needs mkntfs (ntfs-3g) and mkfs.fat (dosfstools); no root, no mounting.
set -eu
table=no
if [ "${1:-}" = "-t" ]; then
    table=yes
    shift
fi
image=$1
size_mib=$2
shift 2
rm -f "$image"
truncate -s "${size_mib}M" "$image"
layout=""
for spec in "$@"; do
    fs=${spec%%:*}
    rest=${spec#*:}
    first=${rest%%:*}
    mib=${rest#*:}
    case $fs in
    ntfs)
        # mkntfs cannot write at an offset: build the volume apart, then copy it in place.
        part=$(mktemp "$image.ntfs.XXXXXX")
        truncate -s "${mib}M" "$part"
        mkntfs -q -Q -F -L LOST_NTFS -p "$first" -H 255 -S 63 "$part" >/dev/null 2>&1
        dd if="$part" of="$image" bs=1M conv=notrunc,sparse oflag=seek_bytes \
            seek=$((first * 512)) status=none
        rm -f "$part"
        type=7
        ;;
    fat32)
        cluster=""
        if [ "$mib" -lt 260 ]; then
            cluster="-s 1"  # small volumes need small clusters to count as FAT32
        fi
        # shellcheck disable=SC2086
        mkfs.fat -F 32 $cluster -n LOST_FAT -h "$first" --offset "$first" "$image" \
            $((mib * 1024)) >/dev/null 2>&1
        type=c
        ;;
    *)
        echo "unknown file system in '$spec'" >&2
        exit 2
        ;;
    esac
    layout="$layout$first,$((mib * 2048)),$type
"
done
if [ "$table" = yes ]; then
    printf 'label: dos\n%s' "$layout" | sfdisk -q --no-reread --no-tell-kernel "$image" >/dev/null
fi
