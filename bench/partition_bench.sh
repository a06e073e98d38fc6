#!/bin/bash
# Lost-partition search benchmark: how fast `quarnel-cli partitions` reads a 2 GiB image
# compared with cat (the page-cache ceiling) and with TestDisk's search, and what each finds.
#   bench/partition_bench.sh [QUARNEL_CLI] [WORK_DIR]
# Images (2 GiB each, no partition table, random bytes in the gaps between volumes):
#   aligned  NTFS, FAT32, NTFS at 1 MiB-aligned sectors
#   odd      NTFS, FAT32, NTFS at odd sectors (neither 1 MiB nor track aligned)
#   empty    no volume at all: every sector has to be read and tested
# Needs mkntfs, mkfs.fat, bc and python3; testdisk is optional (apt-get install testdisk).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
cli=${1:-$here/../build/cli/quarnel-cli}
work=${2:-$(mktemp -d /tmp/quarnel-partition-bench.XXXXXX)}
mkdir -p "$work"
size_mib=2048
runs=3

declare -A layouts=(
    [aligned]="ntfs:2048:600 fat32:1638400:500 ntfs:3276800:300"
    [odd]="ntfs:1000003:400 fat32:2345679:300 ntfs:3000001:500"
    [empty]=""
)

# Fills the image with random bytes except where the volumes lie.
fill_gaps() {
    local image=$1 layout=$2 at=1 spec first mib  # sector 0 stays zero: the table is gone
    for spec in $layout; do
        first=${spec#*:}
        mib=${first#*:}
        first=${first%%:*}
        if [ "$first" -gt "$at" ]; then
            dd if=/dev/urandom of="$image" bs=512 seek="$at" count=$((first - at)) \
                conv=notrunc iflag=fullblock status=none
        fi
        at=$((first + mib * 2048))
    done
    local total=$((size_mib * 2048))
    dd if=/dev/urandom of="$image" bs=1M seek=$((at * 512)) oflag=seek_bytes \
        count=$(((total - at) * 512)) iflag=fullblock,count_bytes conv=notrunc status=none
}

best_seconds() {  # runs "$@" $runs times, prints the fastest wall time in seconds
    local best="" t0 t1 t
    for _ in $(seq "$runs"); do
        t0=$(date +%s.%N)
        "$@" >/dev/null 2>&1 || true
        t1=$(date +%s.%N)
        t=$(echo "$t1 - $t0" | bc -l)
        if [ -z "$best" ] || [ "$(echo "$t < $best" | bc -l)" = 1 ]; then
            best=$t
        fi
    done
    printf '%.3f' "$best"
}

# TestDisk's finds as "FS@first_sector", from its log (CHS with its 255/63 geometry).
testdisk_finds() {
    local image=$1 dir
    dir=$(mktemp -d "$work/testdisk.XXXXXX")
    (cd "$dir" && testdisk /log /cmd "$image" partition_i386,analyze,search >/dev/null 2>&1 || true)
    awk '/^search_part\(\)/ {n = 1; delete seen; k = 0}
         /^interface_write\(\)/ {n = 0}
         n {
             line = $0
             sub(/ *\[[^]]*\] *$/, "", line)  # the volume label
             if (line !~ /^ +(.* )?(FAT|NTFS).* [0-9]+ +[0-9]+ +[0-9]+ +[0-9]+ +[0-9]+ +[0-9]+ +[0-9]+$/)
                 next
             m = split(line, f, " ")
             fs = (line ~ /FAT32/) ? "FAT32" : (line ~ /NTFS/) ? "NTFS" : "FAT"
             key = fs "@" (f[m-6] * 255 * 63 + f[m-5] * 63 + f[m-4] - 1)
             if (!(key in seen)) {seen[key] = 1; found[k++] = key}
         }
         END {for (i = 0; i < k; i++) printf "%s ", found[i]}' "$dir/testdisk.log"
    rm -rf "$dir"
}

quarnel_finds() {
    "$cli" partitions "$1" --json 2>/dev/null |
        python3 -c 'import json,sys; print(" ".join("%s@%d" % (p["file_system"], p["start_sector"]) for p in json.load(sys.stdin)["partitions"]))'
}

expected_finds() {
    local spec fs first out=""
    for spec in $1; do
        fs=${spec%%:*}
        first=${spec#*:}
        first=${first%%:*}
        out="$out${fs^^}@$first "
    done
    echo "${out% }"
}

echo "quarnel-cli: $cli"
echo "images in:   $work"
printf '\n| image | cat s | cat MB/s | quarnel s | quarnel MB/s | quarnel/cat | testdisk s | expected | quarnel found | testdisk found |\n'
printf '|---|---|---|---|---|---|---|---|---|---|\n'
for name in aligned odd empty; do
    image=$work/$name.img
    layout=${layouts[$name]}
    if [ ! -f "$image" ]; then
        # shellcheck disable=SC2086
        "$here/../tools/make_partition_test_image.sh" "$image" "$size_mib" $layout
        fill_gaps "$image" "$layout"
    fi
    cat "$image" >/dev/null  # warm the page cache
    cat "$image" >/dev/null
    t_cat=$(best_seconds cat "$image")
    t_q=$(best_seconds "$cli" partitions "$image")
    t_td="-"
    td_found="(testdisk not installed)"
    if command -v testdisk >/dev/null; then
        t_td=$(best_seconds bash -c "cd '$work' && testdisk /cmd '$image' partition_i386,analyze,search")
        td_found=$(testdisk_finds "$image")
    fi
    mb=$((size_mib * 1048576))
    printf '| %s | %s | %.0f | %s | %.0f | %.2f | %s | %s | %s | %s |\n' "$name" "$t_cat" \
        "$(echo "$mb / 1000000 / $t_cat" | bc -l)" "$t_q" "$(echo "$mb / 1000000 / $t_q" | bc -l)" \
        "$(echo "$t_cat / $t_q" | bc -l)" "$t_td" "$(expected_finds "$layout")" \
        "$(quarnel_finds "$image")" "$(echo ${td_found:-nothing})"
done
rm -f "$work/testdisk.log"
echo
echo "quarnel/cat > 1 means faster than cat; the search skips the inside of every volume it finds."
