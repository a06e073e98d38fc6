#!/bin/sh
# FAT scan and recovery against The Sleuth Kit (fls -rd + tsk_recover) on one FAT32 image:
# about FILES files with long names in FOLDERS folders, a third of them deleted (some one by
# one, some with their whole folder). Reports wall times, their ratio and the recall of each
# tool: deleted files recovered byte-identical, under their full name, in their folder.
#
# Usage: bench/fat_bench.sh [QUARNEL_CLI]
# Environment: BENCH_DIR (default /tmp/quarnel-fat-bench, the image is kept and reused),
#              BENCH_OUT (where both tools write, default BENCH_DIR; /dev/shm takes the
#              disk's write speed out), FILES (20000), FOLDERS (500), IMAGE_MIB (2048).
set -eu

here=$(cd "$(dirname "$0")/.." && pwd)
cli=${1:-$here/build/cli/quarnel-cli}
dir=${BENCH_DIR:-/tmp/quarnel-fat-bench}
files=${FILES:-20000}
folders=${FOLDERS:-500}
image_mib=${IMAGE_MIB:-2048}
image=$dir/fat32-$files.img
manifest=$dir/fat32-$files.manifest
export MTOOLS_SKIP_CHECK=1

for tool in mkfs.fat mcopy mdel mdeltree fls tsk_recover python3; do
    command -v "$tool" >/dev/null || { echo "needs $tool" >&2; exit 1; }
done
[ -x "$cli" ] || { echo "no quarnel-cli at $cli (give its path)" >&2; exit 1; }
mkdir -p "$dir"

if [ ! -s "$image" ] || [ ! -s "$manifest" ]; then
    echo "making $image ($files files in $folders folders)..." >&2
    start=$(date +%s)
    tree=$dir/tree
    rm -rf "$tree" "$image"
    # The tree, the list of what gets deleted and the manifest of the deleted files.
    python3 - "$tree" "$files" "$folders" "$dir/delete-files" "$dir/delete-folders" \
        "$manifest" <<'EOF'
import hashlib, os, random, sys
tree, files, folders = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
delete_files, delete_folders, manifest = sys.argv[4], sys.argv[5], sys.argv[6]
rng = random.Random(20241215)
kinds = [("IMG_2024%04d holiday photo.jpg", 40_000, 400_000),
         ("Report %04d final version.docx", 5_000, 80_000),
         ("Notes from meeting %04d.txt", 200, 8_000),
         ("Scan %04d Übersicht naïve.pdf", 20_000, 200_000)]
folder_names = [f"Folder {n:03d} Trip to the coast" for n in range(folders)]
doomed_folders = set(rng.sample(range(folders), max(1, folders // 20)))
deleted, by_folder = [], {}
for n in range(files):
    f = n % folders
    pattern, low, high = kinds[n % len(kinds)]
    name = pattern % n
    rel = f"{folder_names[f]}/{name}"
    data = rng.randbytes(rng.randint(low, high))
    os.makedirs(os.path.join(tree, folder_names[f]), exist_ok=True)
    with open(os.path.join(tree, rel), "wb") as out:
        out.write(data)
    # A third of all files are deleted: whole folders first, then single files.
    gone = f in doomed_folders or rng.random() < (1 / 3 - 0.05) / 0.95
    if gone:
        deleted.append((rel, hashlib.sha256(data).hexdigest()))
        if f not in doomed_folders:
            by_folder.setdefault(folder_names[f], []).append(name)
with open(delete_files, "w") as out:
    for folder, names in by_folder.items():
        for name in names:
            out.write(f"::/{folder}/{name}\n")
with open(delete_folders, "w") as out:
    for f in sorted(doomed_folders):
        out.write(f"::/{folder_names[f]}\n")
with open(manifest, "w") as out:
    for rel, digest in deleted:
        out.write(f"{digest}  {rel}\n")
EOF
    mkfs.fat -C -F 32 -n BENCH "$image" $((image_mib * 1024)) >/dev/null
    (cd "$tree" && mcopy -s -i "$image" ./* ::/)
    tr '\n' '\0' <"$dir/delete-files" | xargs -0 -n 200 mdel -i "$image"
    tr '\n' '\0' <"$dir/delete-folders" | xargs -0 -n 20 mdeltree -i "$image"
    rm -rf "$tree"
    echo "image made in $(($(date +%s) - start)) s" >&2
fi

# recall DIR: deleted files of the manifest found byte-identical at their path under DIR.
recall() {
    (cd "$1" && sha256sum --quiet -c "$manifest" 2>/dev/null | grep -c ': FAILED' || true) |
        {
            read -r failed
            total=$(wc -l <"$manifest")
            echo "$((total - failed)) $total"
        }
}

now() { date +%s.%N; }

cat "$image" >/dev/null  # both tools read the image from the page cache
out=${BENCH_OUT:-$dir}
ours=$out/out-quarnel
theirs=$out/out-tsk
rm -rf "$ours" "$theirs"

# Each run starts with no dirty pages of the other; the output is not synced inside the
# timing, for either tool.
sync
t0=$(now)
"$cli" scan "$image" --recover "$ours" >"$dir/quarnel.list" 2>"$dir/quarnel.err" || true
t1=$(now)
sync
t2=$(now)
fls -r -d -p "$image" >"$dir/fls.list"
tsk_recover "$image" "$theirs" >"$dir/tsk.log" 2>&1 || true
t3=$(now)

set -- $(recall "$ours")
our_ok=$1
total=$2
set -- $(recall "$theirs")
their_ok=$1
our_time=$(echo "$t1 - $t0" | bc -l)
their_time=$(echo "$t3 - $t2" | bc -l)
printf 'image: %s (%s MiB, %s files in %s folders, %s deleted), output in %s\n' "$image" \
    "$image_mib" "$files" "$folders" "$total" "$out"
printf 'quarnel-cli scan --recover : %7.2f s  recall %s/%s\n' "$our_time" "$our_ok" "$total"
printf 'fls -rd + tsk_recover      : %7.2f s  recall %s/%s\n' "$their_time" "$their_ok" "$total"
printf 'time ratio (ours/theirs)   : %.3f\n' "$(echo "$our_time / $their_time" | bc -l)"
