#!/bin/bash
# NTFS benchmark: a 2 GiB NTFS image with many small files in many folders, a third of them
# deleted (whole folders and single files), scanned and recovered by quarnel-cli, by The
# Sleuth Kit (fls -rd, tsk_recover) and by ntfsundelete. Reports wall time, peak memory and
# recall: deleted files recovered byte-identical under their names (and, for the tools that
# keep folders, under their folder paths), against a manifest written while deleting.
#
# Usage: bench/ntfs_bench.sh [FILES] [FOLDERS] [WORK_DIR]
#        (defaults: 100000 files, 1000 folders, /tmp/quarnel-ntfs-bench)
# Env:   QUARNEL_CLI  path of quarnel-cli (default: build/cli/quarnel-cli under the source tree)
#        OUT_DIR      where the tools write their files (default: a folder in /dev/shm, so that
#                     each run measures the tool and not the target file system's inode
#                     allocator, which slows down right after many files were deleted)
# Needs: root and FUSE (ntfs-3g mount), mkntfs, ntfs-3g, sleuthkit, python3, GNU time.
# The image is kept in WORK_DIR and reused while FILES and FOLDERS stay the same.
set -euo pipefail

files=${1:-100000}
folders=${2:-1000}
work=${3:-/tmp/quarnel-ntfs-bench}
src=$(cd "$(dirname "$0")/.." && pwd)
cli=${QUARNEL_CLI:-$src/build/cli/quarnel-cli}
[ -x "$cli" ] || { echo "quarnel-cli not found at $cli (set QUARNEL_CLI)" >&2; exit 2; }
mkdir -p "$work"
cd "$work"
img="$work/bench.img"
tag="$files-$folders"

# 1. The image, made once: files written through ntfs-3g, then a third deleted.
if [ ! -f "$img" ] || [ "$(cat made 2>/dev/null)" != "$tag" ]; then
    rm -f "$img" made manifest.tsv
    mkdir -p mnt
    truncate -s 2G "$img"
    mkntfs -F -q -f -L bench "$img" 2>/dev/null
    ntfs-3g -o big_writes "$img" mnt
    start=$(date +%s)
    python3 - mnt "$files" "$folders" <<'PY'
import hashlib, os, random, sys
root, files, folders = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
rng = random.Random(2026)
paths = []
for d in range(folders):
    os.mkdir(f"{root}/d{d:04d}")
for i in range(files):
    d = i % folders
    # Unique names, so tools that recover into one flat folder can be matched too.
    path = f"d{d:04d}/f{i:06d}.dat"
    size = rng.choice([200, 700, 1500, 3000, 6000, 12000, 30000])
    data = rng.randbytes(size)
    with open(f"{root}/{path}", "wb") as f:
        f.write(data)
    paths.append((path, size, hashlib.sha256(data).hexdigest()))
# A third deleted: every sixth folder whole, and every fifth file of the other folders.
gone_folders = {d for d in range(folders) if d % 6 == 0}
with open("manifest.tsv", "w") as m:
    for i, (path, size, digest) in enumerate(paths):
        d = i % folders
        if d in gone_folders or i % 5 == 0:
            m.write(f"{path}\t{size}\t{digest}\n")
            os.remove(f"{root}/{path}")
for d in gone_folders:
    os.rmdir(f"{root}/d{d:04d}")
PY
    sync
    umount mnt
    echo "$tag" > made
    echo "image made in $(( $(date +%s) - start )) s" >&2
fi
deleted=$(wc -l < manifest.tsv)

# 2. The runs, each from a warm page cache, with wall time and peak memory.
out=${OUT_DIR:-/dev/shm/quarnel-ntfs-bench-out}
rm -rf "$out"
mkdir -p "$out"
cat "$img" > /dev/null
measure() {  # measure NAME COMMAND... ; appends "NAME seconds peak_kib" to times.txt
    local name=$1
    shift
    /usr/bin/time -f "%e %M" -o time.out "$@" > "$name.out" 2> "$name.err" || true
    echo "$name $(cat time.out)" >> times.txt
}
rm -f times.txt
measure quarnel_scan "$cli" scan "$img"
measure quarnel_recover "$cli" scan "$img" --recover "$out/quarnel"
measure fls fls -rd -p "$img"
measure tsk_recover tsk_recover "$img" "$out/tsk"
measure ntfsundelete_scan ntfsundelete --scan "$img"
mkdir -p "$out/undelete"
measure ntfsundelete_recover ntfsundelete "$img" --undelete --match '*' --destination "$out/undelete" \
    --truncate --force

# 3. Recall against the manifest.
python3 - "$out" <<'PY' > recall.txt
import hashlib, os, sys
out = sys.argv[1]
rows = [line.rstrip("\n").split("\t") for line in open("manifest.tsv")]
def digest(p):
    try:
        with open(p, "rb") as f:
            return hashlib.sha256(f.read()).hexdigest()
    except OSError:
        return None
def tree(out):
    return sum(1 for path, size, d in rows if digest(os.path.join(out, path)) == d)
def flat(out):
    return sum(1 for path, size, d in rows if digest(os.path.join(out, os.path.basename(path))) == d)
listed = {line.rsplit("/", 1)[-1].split()[0] for line in open("fls.out") if ".dat" in line}
print("quarnel_recover", tree(f"{out}/quarnel"))
print("tsk_recover", tree(f"{out}/tsk"))
print("ntfsundelete_recover", flat(f"{out}/undelete"))
print("fls_listed", sum(1 for path, size, d in rows if os.path.basename(path) in listed))
PY

# 4. The table.
echo "NTFS benchmark: $files files in $folders folders, $deleted deleted, 2 GiB image"
printf '%-22s %10s %12s %10s\n' tool seconds peak_MiB recall
while read -r name secs kib; do
    r=$(awk -v n="$name" '$1 == n {print $2}' recall.txt)
    printf '%-22s %10s %12.1f %10s\n' "$name" "$secs" "$(echo "$kib / 1024" | bc -l)" \
        "${r:+$r/$deleted}"
done < times.txt
grep fls_listed recall.txt | awk -v n="$deleted" '{print "fls lists " $2 "/" n " deleted files by name"}'
rm -rf "$out"
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", (b > 0 ? a / b : 0) }'; }
t() { awk -v n="$1" '$1 == n {print $2}' times.txt; }
echo "scan ratio quarnel/fls: $(ratio "$(t quarnel_scan)" "$(t fls)")," \
    "quarnel/ntfsundelete: $(ratio "$(t quarnel_scan)" "$(t ntfsundelete_scan)")"
echo "recover ratio quarnel/tsk_recover: $(ratio "$(t quarnel_recover)" "$(t tsk_recover)")," \
    "quarnel/ntfsundelete: $(ratio "$(t quarnel_recover)" "$(t ntfsundelete_recover)")"
