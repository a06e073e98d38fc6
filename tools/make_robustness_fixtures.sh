#!/bin/bash
# Builds tests/fixtures/robustness/ntfs_names.img.gz: an NTFS volume whose deleted files and
# folder carry names no well-behaved system writes ("..", "a/b", "../../x", NUL and control
# characters, 255 UTF-16 units, two files of one name). mkntfs and an ntfs-3g FUSE mount
# make files with harmless names of the same lengths; after they are deleted, python patches
# each $FILE_NAME in place and rebuilds the record's update-sequence array.
# The manifest lists, per deleted file: its content's sha256, size and hostile name (hex of
# the UTF-16LE units). Needs root (FUSE), mkntfs, ntfs-3g and python3.
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
out="$here/tests/fixtures/robustness"
work=$(mktemp -d)
mnt="$work/mnt"
mkdir -p "$out" "$mnt"
cleanup() {
    mountpoint -q "$mnt" && umount "$mnt" || true
    rm -rf "$work"
}
trap cleanup EXIT

img="$work/ntfs_names.img"
truncate -s 4M "$img"
mkntfs -F -q -s 512 -c 1024 -L names "$img" 2>/dev/null

python3 - "$work/plan" <<'PY'
import sys
# (hostile name, in the deleted folder?) per file; placeholders get the same UTF-16 length.
names = ["..", "a/b", "../../x", "nul\0hidden.txt", "ctl\x01\x1b\x7f.txt", "L" * 251 + ".txt",
         "same.txt", "same.txt", ".", "/", "\\..\\win.txt"]
inner = ["../../escape.txt"]
with open(sys.argv[1], "w") as plan:
    for i, name in enumerate(names + inner):
        holder = ("f%d" % i).ljust(len(name), "z") if len(name) > 2 else "ABCDEFGHIJ"[i] * len(name)
        folder = i >= len(names)
        plan.write("%s\t%s\t%d\n" % (holder, name.encode("utf-16-le").hex(), folder))
    # The deleted folder's own name becomes "..".
    plan.write("%s\t%s\t%d\n" % ("dz", "..".encode("utf-16-le").hex(), 2))
PY

ntfs-3g "$img" "$mnt"
mkdir "$mnt/dz"
manifest="$work/manifest"
: > "$manifest"
while IFS=$'\t' read -r holder hostile kind; do
    [ "$kind" = 2 ] && continue
    dir="$mnt"
    [ "$kind" = 1 ] && dir="$mnt/dz"
    python3 -c "import sys; sys.stdout.write((sys.argv[1] + '|') * 40)" "$holder" > "$dir/$holder"
    printf '%s\t%s\t%s\n' "$(sha256sum < "$dir/$holder" | cut -d' ' -f1)" \
        "$(stat -c %s "$dir/$holder")" "$hostile" >> "$manifest"
done < "$work/plan"
sync
find "$mnt" -mindepth 1 -maxdepth 1 -exec rm -rf {} +
umount "$mnt"

python3 - "$img" "$work/plan" <<'PY'
import struct, sys
img_path, plan_path = sys.argv[1:3]
data = bytearray(open(img_path, "rb").read())
renames = {}
for line in open(plan_path):
    holder, hostile, _ = line.rstrip("\n").split("\t")
    renames[holder.encode("utf-16-le")] = bytes.fromhex(hostile)

sector = struct.unpack_from("<H", data, 0x0B)[0]
cluster = sector * data[0x0D]
mft = struct.unpack_from("<Q", data, 0x30)[0] * cluster
record_size = 1024
patched = 0
for at in range(mft, mft + 256 * record_size, record_size):
    rec = data[at:at + record_size]
    if rec[:4] != b"FILE":
        continue
    usa_at, usa_count = struct.unpack_from("<HH", rec, 4)
    # Undo the fix-ups: each sector's last two bytes come back from the array.
    for i in range(1, usa_count):
        end = i * sector - 2
        rec[end:end + 2] = rec[usa_at + 2 * i:usa_at + 2 * i + 2]
    pos = struct.unpack_from("<H", rec, 0x14)[0]
    while pos + 8 <= record_size:
        kind, length = struct.unpack_from("<II", rec, pos)
        if kind == 0xFFFFFFFF or length == 0:
            break
        if kind == 0x30 and rec[pos + 8] == 0:  # resident $FILE_NAME
            value = pos + struct.unpack_from("<H", rec, pos + 0x14)[0]
            units = rec[value + 64]
            name = bytes(rec[value + 66:value + 66 + 2 * units])
            if name in renames:
                rec[value + 66:value + 66 + 2 * units] = renames.pop(name)
                patched += 1
        pos += length
    # Redo them with the same sequence number.
    for i in range(1, usa_count):
        end = i * sector - 2
        rec[usa_at + 2 * i:usa_at + 2 * i + 2] = rec[end:end + 2]
        rec[end:end + 2] = rec[usa_at:usa_at + 2]
    data[at:at + record_size] = rec
if renames:
    sys.exit("not found to patch: %s" % [n.decode("utf-16-le") for n in renames])
open(img_path, "wb").write(data)
PY

gzip -9 -n -c "$img" > "$out/ntfs_names.img.gz"
cp "$manifest" "$out/ntfs_names.manifest"
echo "ntfs_names: $(stat -c %s "$out/ntfs_names.img.gz") bytes compressed"
