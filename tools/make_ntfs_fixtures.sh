#!/bin/bash
# Builds the NTFS test images under tests/fixtures/ntfs: mkntfs, then files written and
# deleted through an ntfs-3g FUSE mount. Needs root (FUSE), mkntfs, ntfs-3g and python3.
# Each image gets a manifest: state <TAB> size <TAB> sha256 <TAB> path, one line per file
# the tests check ("deleted" files must come back byte-identical, "live" ones are on the
# volume). Orphans and parent loops are made by the tests, by patching these images.
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
out="$here/tests/fixtures/ntfs"
work=$(mktemp -d)
mnt="$work/mnt"
mkdir -p "$out" "$mnt"
cleanup() {
    mountpoint -q "$mnt" && umount "$mnt" || true
    rm -rf "$work"
}
trap cleanup EXIT

# Deterministic content: random bytes or compressible text, seeded by a name.
gen() {  # gen FILE SIZE SEED [text]
    python3 - "$1" "$2" "$3" "${4:-}" <<'PY'
import random, sys
path, size, seed, kind = sys.argv[1], int(sys.argv[2]), sys.argv[3], sys.argv[4]
rng = random.Random(seed)
if kind == "text":
    words = ["alpha", "delta", "report", "quarter", "sales", "photo", "holiday", "backup"]
    data = bytearray()
    while len(data) < size:
        data += (" ".join(rng.choice(words) for _ in range(12)) + "\n").encode()
    data = bytes(data[:size])
else:
    data = rng.randbytes(size)
with open(path, "wb") as f:
    f.write(data)
PY
}

manifest=""
note() {  # note STATE PATH (relative to the mount), before the file is deleted
    local size sum
    size=$(stat -c %s "$mnt/$2")
    sum=$(sha256sum "$mnt/$2" | cut -d' ' -f1)
    printf '%s\t%s\t%s\t%s\n' "$1" "$size" "$sum" "$2" >> "$manifest"
}

finish() {  # finish NAME IMAGE
    sync
    umount "$mnt"
    gzip -9 -n -c "$2" > "$out/$1.img.gz"
    echo "$1: $(stat -c %s "$out/$1.img.gz") bytes compressed"
}

# --- mixed.img: 512-byte sectors, 1 KiB clusters, every kind of file -------------------
img="$work/mixed.img"
manifest="$out/mixed.manifest"
: > "$manifest"
truncate -s 8M "$img"
mkntfs -F -q -s 512 -c 1024 -L mixed "$img" 2>/dev/null
ntfs-3g -o compression "$img" "$mnt"

mkdir -p "$mnt/docs" "$mnt/old/inner" "$mnt/packed" "$mnt/links" "$mnt/日本"
gen "$mnt/docs/keep.txt" 3000 keep text
gen "$mnt/docs/gone_small.txt" 40 small text
gen "$mnt/docs/gone_big.bin" 12000 big text
gen "$mnt/docs/café.txt" 1500 cafe text
gen "$mnt/old/a.txt" 100 olda text
gen "$mnt/old/inner/deep.txt" 5000 deep text
gen "$mnt/日本/ünï.bin" 7000 uni text
gen "$mnt/docs/long name for the dos test.txt" 900 dos text
python3 -c 'import os,sys; os.setxattr(sys.argv[1], "system.ntfs_dos_name", b"LONGNA~1.TXT")' \
    "$mnt/docs/long name for the dos test.txt"
# New files in this folder are stored LZNT1-compressed (ntfs-3g's compression option).
python3 -c 'import os,sys; os.setxattr(sys.argv[1], "system.ntfs_attrib_be", (0x10 | 0x800).to_bytes(4, "big"))' \
    "$mnt/packed"
gen "$mnt/packed/comp.txt" 30000 comp text
gen "$mnt/packed/comp_live.txt" 12000 complive text
gen "$mnt/packed/comp_rand.bin" 5000 comprand
# Sparse: data at the start and in the middle, holes elsewhere.
python3 - "$mnt/sparse.dat" <<'PY'
import random, sys
rng = random.Random("sparse")
words = [b"alpha", b"delta", b"report", b"quarter", b"sales", b"photo", b"holiday", b"backup"]
def text(n):
    return b" ".join(rng.choice(words) for _ in range(n))[:n]
with open(sys.argv[1], "wb") as f:
    f.write(text(4096))
    f.seek(512 * 1024)
    f.write(text(4096))
    f.truncate(1024 * 1024)
PY
# Many long hard links push the names into extension records (an attribute list). The
# deleted one loses its links one by one, so it ends with a single name in its base record.
gen "$mnt/links/shared.bin" 6000 links text
gen "$mnt/links/gone_shared.bin" 5000 gonelinks text
long=$(printf 'n%.0s' $(seq 1 200))
for i in $(seq 1 12); do
    ln "$mnt/links/shared.bin" "$mnt/links/$long-$i"
    ln "$mnt/links/gone_shared.bin" "$mnt/links/$long-gone-$i"
done

# One cluster of data every other cluster: hundreds of runs, more than one record holds, so
# ntfs-3g moves the file's name to an extension record behind a non-resident attribute list.
# It stays live: deleting it would strip the extension record, name and all.
python3 - "$mnt/many_runs.dat" <<'PY'
import sys
with open(sys.argv[1], "wb") as f:
    for i in range(300):
        f.seek(i * 2048)
        f.write(b"run %03d of the data\n" % i)
    f.truncate(300 * 2048)
PY
# A fragmented file: fill the volume with small files and zeros, free every other small
# file, then write it into the gaps.
mkdir "$mnt/sieve"
python3 - "$mnt" <<'PY'
import errno, os, sys
root = sys.argv[1]
for i in range(100):
    with open(f"{root}/sieve/{i:03d}", "wb") as f:
        f.write(bytes([i % 251]) * 1024)
try:
    with open(f"{root}/ballast", "wb") as f:
        while True:
            f.write(bytes(64 * 1024))
            f.flush()
except OSError as e:
    if e.errno != errno.ENOSPC:
        raise
for i in range(0, 100, 2):
    os.remove(f"{root}/sieve/{i:03d}")
PY
sync
python3 - "$mnt/frag.bin" <<'PY'
import sys
# Numbered lines: every block differs, yet the image compresses well.
lines = b"".join(b"frag line %06d of the test data\n" % i for i in range(8000))
with open(sys.argv[1], "wb") as f:
    f.write(lines[:40 * 1024])
PY
note live docs/keep.txt
note live packed/comp_live.txt
note live links/shared.bin
note deleted docs/gone_small.txt
note deleted docs/gone_big.bin
note deleted docs/café.txt
note deleted "docs/long name for the dos test.txt"
note deleted old/a.txt
note deleted old/inner/deep.txt
note deleted 日本/ünï.bin
note deleted frag.bin
note deleted packed/comp.txt
note deleted packed/comp_rand.bin
note deleted sparse.dat
note live many_runs.dat
note deleted links/gone_shared.bin

# Deletions last, so nothing written afterwards can take their clusters.
rm -f "$mnt/docs/gone_small.txt" "$mnt/docs/gone_big.bin" "$mnt/docs/café.txt" \
    "$mnt/docs/long name for the dos test.txt" "$mnt/frag.bin" "$mnt/packed/comp.txt" \
    "$mnt/packed/comp_rand.bin" "$mnt/sparse.dat"
rm -f "$mnt/links/$long"-gone-* "$mnt/links/gone_shared.bin"
rm -rf "$mnt/old" "$mnt/日本"
finish mixed "$img"

# --- sector4k.img: 4,096-byte sectors and clusters -------------------------------------
img="$work/sector4k.img"
manifest="$out/sector4k.manifest"
: > "$manifest"
truncate -s 8M "$img"
mkntfs -F -q -s 4096 -c 4096 -L big "$img" 2>/dev/null
ntfs-3g -o compression "$img" "$mnt"
mkdir -p "$mnt/keep" "$mnt/drop/sub"
gen "$mnt/keep/live.txt" 2000 live4k text
gen "$mnt/keep/tiny.txt" 30 tiny4k text
gen "$mnt/keep/big.bin" 20000 big4k text
gen "$mnt/drop/sub/deep.bin" 12345 deep4k text
gen "$mnt/drop/note.txt" 700 note4k text
note live keep/live.txt
note deleted keep/tiny.txt
note deleted keep/big.bin
note deleted drop/sub/deep.bin
note deleted drop/note.txt
rm -f "$mnt/keep/tiny.txt" "$mnt/keep/big.bin"
rm -rf "$mnt/drop"
finish sector4k "$img"
