#!/bin/bash
# Makes the seed corpora under fuzz/corpus/<target>/ from the test fixtures and from small
# volumes made here with mkfs.fat and mtools. Seeds keep only the part of an image that is
# not blank: the FAT and NTFS targets read zeros up to the size the boot sector gives.
# Needs python3, mkfs.fat and mtools. Usage: fuzz/make_corpus.sh
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
fixtures="$here/tests/fixtures"
corpus="$here/fuzz/corpus"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export MTOOLS_SKIP_CHECK=1 TZ=UTC

rm -rf "$corpus"
mkdir -p "$corpus"/{fuzz_fat_scan,fuzz_ntfs_scan,fuzz_ntfs_record,fuzz_sigscan}
mkdir -p "$corpus"/{fuzz_partition_search,fuzz_sav_load,fuzz_language_file}

# Small FAT volumes of each type: long names, a deleted file, a deleted folder tree.
small_fat() {  # small_fat NAME FAT_BITS KIB [mkfs options]
    local img="$work/$1.img"
    mkfs.fat -C -F "$2" "${@:4}" -i 12345678 "$img" "$3" >/dev/null 2>&1
    mmd -i "$img" ::/Docs "::/Old Projects" "::/Old Projects/Sub"
    local i
    for i in "readme.txt:300" "Long file name.txt:1500" "Docs/report.pdf:2600" \
             "Old Projects/notes.txt:700" "Old Projects/Sub/deep.bin:1200" "gone.jpg:3000"; do
        (set +o pipefail; yes "${i%%:*}|" | tr -d '\n' | head -c "${i##*:}" > "$work/file")
        mcopy -i "$img" "$work/file" "::/${i%%:*}"
    done
    mdel -i "$img" ::/gone.jpg "::/Docs/report.pdf"
    mdeltree -i "$img" "::/Old Projects"
}
small_fat fat12 12 256
small_fat fat16 16 4200 -s 1
# mtools cannot write a FAT32 volume this small, which the reader accepts: fill a full-size
# one, then move its first clusters and their FAT entries into a small one (python below).
small_fat fat32big 32 33800 -s 1 -f 1
mkfs.fat -C -F 32 -s 1 -f 1 -i 12345678 "$work/fat32.img" 2048 >/dev/null 2>&1

# The unblank prefix of an image, in whole sectors; or some byte ranges of it.
python3 - "$work" "$fixtures" "$corpus" <<'PY'
import gzip, hashlib, os, struct, sys
work, fixtures, corpus = sys.argv[1:4]

def fixture(name):
    with gzip.open(os.path.join(fixtures, name + ".gz")) as f:
        return f.read()

def prefix(data, limit=None):
    end = len(data) if limit is None else min(limit, len(data))
    while end > 0 and data[end - 1] == 0:
        end -= 1
    return data[: (end + 511) // 512 * 512]

def seed(target, name, data):
    with open(os.path.join(corpus, target, name), "wb") as f:
        f.write(data)

def geometry(data):
    reserved = struct.unpack_from("<H", data, 0x0E)[0]
    fat_size = struct.unpack_from("<I", data, 0x24)[0]
    return reserved * 512, (reserved + fat_size * data[0x10]) * 512

big = open(os.path.join(work, "fat32big.img"), "rb").read()
small = bytearray(open(os.path.join(work, "fat32.img"), "rb").read())
clusters = 64
(big_fat, big_data), (small_fat, small_data) = geometry(big), geometry(small)
small[small_fat:small_fat + 4 * clusters] = big[big_fat:big_fat + 4 * clusters]
small[small_data:small_data + 512 * (clusters - 2)] = big[big_data:big_data + 512 * (clusters - 2)]
open(os.path.join(work, "fat32.img"), "wb").write(small)

# FAT: the small volumes, and the floppy fixture.
for name in ("fat12", "fat16", "fat32"):
    seed("fuzz_fat_scan", name, prefix(open(os.path.join(work, name + ".img"), "rb").read()))
seed("fuzz_fat_scan", "fixture_fat12", prefix(fixture("fat/fat12.img")))

# NTFS: boot sector and MFT zone of the fixtures (file data outside it reads as zeros).
ntfs = {"mixed": fixture("ntfs/mixed.img"), "sector4k": fixture("ntfs/sector4k.img")}
for name, data in ntfs.items():
    sector = struct.unpack_from("<H", data, 0x0B)[0]
    cluster = sector * data[0x0D]
    mft = struct.unpack_from("<Q", data, 0x30)[0] * cluster
    raw = data[0x40]
    record = 1 << (256 - raw) if raw >= 128 else raw * cluster
    # The MFT's own extent: as many records as are in use before the first blank run.
    end = mft
    blank = 0
    while end + record <= len(data) and blank < 8:
        blank = blank + 1 if data[end:end + 4] != b"FILE" else 0
        end += record
    seed("fuzz_ntfs_scan", name, prefix(data[:end]))
    # The records one by one, for the record parser (distinct ones only).
    seen = set()
    for at in range(mft, end, record):
        rec = data[at:at + record]
        if rec[:4] == b"FILE" and hashlib.sha1(rec).digest() not in seen and len(seen) < 24:
            seen.add(hashlib.sha1(rec).digest())
            seed("fuzz_ntfs_record", "%s_%d" % (name, (at - mft) // record), rec)

# Carving: each file of the carving fixture on its own, and one stretch with several.
carve = fixture("carve/carve.img")
with open(os.path.join(fixtures, "carve/carve.manifest")) as f:
    for line in f:
        if line.startswith("#") or not line.strip():
            continue
        name, offset, size = line.split()[:3]
        offset, size = int(offset), int(size)
        # A first byte of 0 hands the file straight to the end-finders.
        seed("fuzz_sigscan", "%d_%s" % (offset, name), b"\0" + carve[offset:offset + size + 512])
# A first byte of 1: the whole scan.
seed("fuzz_sigscan", "scan_stretch", b"\1" + carve[12288:36864])
seed("fuzz_sigscan", "scan_tail", b"\1" + carve[122880:])

# Partition search: a small disk with an MBR, a FAT32 volume and an NTFS boot sector.
fat32 = open(os.path.join(work, "fat32.img"), "rb").read()
mbr = fixture("fat/disk.img")[:512]
disk = bytearray(512 * 64)
disk[:512] = mbr
disk[512 * 8:512 * 8 + 512 * 16] = fat32[:512 * 16]
disk[512 * 40:512 * 40 + 512 * 16] = ntfs["mixed"][:512 * 16]
seed("fuzz_partition_search", "disk", bytes(disk))
seed("fuzz_partition_search", "fat32", fat32[:512 * 40])
seed("fuzz_partition_search", "ntfs", ntfs["mixed"][:512 * 32])

# Scan-result files: a header with the device path, then 32-byte records.
def sav(path, records):
    out = path.encode().ljust(256, b"\0")
    for index, start, size, ext in records:
        out += struct.pack("<QQQ8s", index, start, size, ext.encode())
    return out
seed("fuzz_sav_load", "plain", sav("/dev/sdb1", [(0, 12288, 1895, "jpg"), (1, 15360, 11008, "png"),
                                                  (2, 51712, 2392, "pdf")]))
seed("fuzz_sav_load", "sparse_indexes", sav("/tmp/disk.img@2", [(7, 0, 1, "txt"),
                                                                 (7, 512, 2, "txt"),
                                                                 (3, 1024, 3, "mp4xxxxx")]))

# Language files: the shipped one's first sections, and the grammar's corners.
with open(os.path.join(os.path.dirname(fixtures), "..", "language.ini"), "rb") as f:
    shipped = f.read()
seed("fuzz_language_file", "shipped", shipped[: shipped.find(b"[", 200)] if b"[" in shipped[200:] else shipped)
seed("fuzz_language_file", "corners",
     b'[English]\nhome_text1="Start\\tnow\\n"\n  [ Deutsch ]  \nhome_text1 = "Los"\n'
     b'broken line\nkey="unterminated\n[]\n=""\n[English]\r\nx="\\\\n"\r\n')
PY
for t in "$corpus"/*; do
    echo "$(basename "$t"): $(ls "$t" | wc -l) seeds, $(du -sk "$t" | cut -f1) KiB"
done
