#!/bin/sh
# Deep-scan benchmark: a noise image with a few hundred real files at known offsets, carved by
# quarnel-cli, PhotoRec and foremost; reports throughput against `cat` (warm page cache) and
# each tool's exact recall, overshoot and noise.
#
# Usage: bench/deep_bench.sh [IMAGE_MIB] [WORK_DIR]      (defaults: 2048, /tmp/quarnel-deep-bench)
# Env:   QUARNEL_CLI  path of quarnel-cli (default: build/cli/quarnel-cli under the source tree)
# Needs: imagemagick, ghostscript, zip, sox + libsox-fmt-mp3, p7zip-full, sqlite3, python3,
#        testdisk (photorec), foremost. Never touches anything outside WORK_DIR.
set -eu

size_mib=${1:-2048}
work=${2:-/tmp/quarnel-deep-bench}
src=$(cd "$(dirname "$0")/.." && pwd)
cli=${QUARNEL_CLI:-$src/build/cli/quarnel-cli}
[ -x "$cli" ] || { echo "quarnel-cli not found at $cli (set QUARNEL_CLI)" >&2; exit 2; }
mkdir -p "$work/samples"
cd "$work"

# 1. Real files, made once and kept between runs.
if [ ! -f samples/.done ]; then
    s=samples
    # Rendering a fractal is slow: render four large ones and cut every picture from them.
    for b in 1 2 3 4; do
        convert -seed $b -size 1600x1200 plasma:fractal "base$b.ppm"
    done
    i=1
    while [ $i -le 120 ]; do
        w=$((320 + (i * 37) % 960)); h=$((240 + (i * 53) % 720))
        x=$(((i * 71) % (1600 - w))); y=$(((i * 29) % (1200 - h)))
        extra=""; [ $((i % 4)) -eq 0 ] && extra="-interlace Plane"
        # shellcheck disable=SC2086
        convert "base$((i % 4 + 1)).ppm" -crop "${w}x${h}+$x+$y" +repage $extra \
            -quality $((70 + i % 25)) "$s/photo$i.jpg"
        i=$((i + 1))
    done
    i=1
    while [ $i -le 30 ]; do
        cut="-crop $((100 + i * 9))x$((80 + i * 7))+$((i * 13))+$((i * 11)) +repage"
        # shellcheck disable=SC2086
        convert "base$((i % 4 + 1)).ppm" $cut "$s/image$i.png"
        # shellcheck disable=SC2086
        [ $i -le 20 ] && convert "base$((i % 3 + 1)).ppm" $cut -colors 64 "$s/anim$i.gif"
        # shellcheck disable=SC2086
        [ $i -le 10 ] && convert "base$((i % 2 + 1)).ppm" $cut -type TrueColor "BMP3:$s/bitmap$i.bmp"
        # shellcheck disable=SC2086
        [ $i -le 10 ] && convert "base$((i % 4 + 1)).ppm" $cut "$s/scan$i.tif"
        i=$((i + 1))
    done
    rm -f base1.ppm base2.ppm base3.ppm base4.ppm
    i=1
    while [ $i -le 20 ]; do
        {
            echo "%!PS"
            echo "/Helvetica findfont 12 scalefont setfont"
            n=1
            while [ $n -le $((5 + i * 3)) ]; do
                echo "72 $((760 - (n % 60) * 12)) moveto (Benchmark document $i line $n) show"
                [ $((n % 60)) -eq 0 ] && echo "showpage"
                n=$((n + 1))
            done
            echo "showpage"
        } > page.ps
        gs -q -dBATCH -dNOPAUSE -dSAFER -sDEVICE=pdfwrite -sOutputFile="$s/doc$i.pdf" page.ps
        i=$((i + 1))
    done
    rm -f page.ps
    i=1
    while [ $i -le 15 ]; do
        rm -rf ztmp && mkdir ztmp
        seq 1 $((i * 500)) > ztmp/numbers.txt
        cp "$s/photo$i.jpg" ztmp/
        (cd ztmp && zip -q -X "../$s/archive$i.zip" numbers.txt "photo$i.jpg")
        [ $i -le 10 ] && gzip -9 -n -c ztmp/numbers.txt > "$s/numbers$i.gz"
        [ $i -le 5 ] && (cd ztmp && 7z a -bd -mx=3 "../$s/pack$i.7z" numbers.txt > /dev/null)
        [ $i -le 5 ] && sqlite3 "$s/db$i.sqlite" "create table t(n integer, s text);
            with recursive c(x) as (select 1 union all select x + 1 from c where x < $((i * 400)))
            insert into t select x, 'row ' || x from c;"
        i=$((i + 1))
    done
    i=1
    while [ $i -le 10 ]; do
        rm -rf ztmp && mkdir -p ztmp/d/word ztmp/d/_rels ztmp/o/META-INF
        printf '<?xml version="1.0"?><Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types"/>' \
            > 'ztmp/d/[Content_Types].xml'
        seq 1 $((i * 300)) | sed 's/.*/<w:p><w:r><w:t>&<\/w:t><\/w:r><\/w:p>/' > ztmp/d/word/document.xml
        printf '<?xml version="1.0"?><Relationships/>' > ztmp/d/_rels/.rels
        (cd ztmp/d && zip -q -X -r "../../$s/report$i.docx" '[Content_Types].xml' _rels word)
        printf 'application/vnd.oasis.opendocument.text' > ztmp/o/mimetype
        seq 1 $((i * 300)) | sed 's/.*/<text:p>&<\/text:p>/' > ztmp/o/content.xml
        printf '<?xml version="1.0"?><manifest/>' > ztmp/o/META-INF/manifest.xml
        (cd ztmp/o && zip -q -X -0 "../../$s/letter$i.odt" mimetype &&
            zip -q -X -r "../../$s/letter$i.odt" content.xml META-INF)
        sox -n -r 22050 -c 1 -b 16 "$s/tone$i.wav" synth $((i % 5 + 1)) sine $((200 + i * 50))
        sox -n -r 44100 -c 2 -C 128 "$s/song$i.mp3" synth $((i % 7 + 2)) sine $((300 + i * 40))
        sox -n -r 44100 -c 2 "$s/voice$i.ogg" synth $((i % 6 + 2)) sine $((250 + i * 30))
        i=$((i + 1))
    done
    rm -rf ztmp
    i=1
    for prog in /usr/bin/sort /usr/bin/cut /usr/bin/head /usr/bin/tail /usr/bin/tr \
        /usr/bin/wc /usr/bin/od /usr/bin/expand /usr/bin/fold /usr/bin/paste; do
        cp "$prog" "$s/program$i.elf"
        i=$((i + 1))
    done
    touch samples/.done
fi

# 2. The image: pseudo-random noise with the samples at 512-byte offsets (half of them on the
#    4096-byte grid, half off it), and the manifest.
#    Kept between runs of the same size (the layout is fixed by the seed).
if [ ! -f manifest.txt ] || [ "$(stat -c %s image.img 2>/dev/null)" != $((size_mib << 20)) ]; then
python3 - "$size_mib" samples image.img manifest.txt <<'PY'
import hashlib, os, random, sys
size = int(sys.argv[1]) << 20
names = sorted(n for n in os.listdir(sys.argv[2]) if not n.startswith('.'))
rng = random.Random(4242)
rng.shuffle(names)
slot = size // (len(names) + 1)
chunk = 16 << 20
with open(sys.argv[3], 'wb') as img:
    for at in range(0, size, chunk):
        img.write(rng.randbytes(min(chunk, size - at)))
    rows = []
    for i, name in enumerate(names):
        data = open(os.path.join(sys.argv[2], name), 'rb').read()
        room = max(1, (slot - len(data)) // 4096 - 2)
        offset = (i * slot) // 4096 * 4096 + 4096 * (1 + rng.randrange(room))
        if i % 2:
            offset += 512 * rng.randrange(1, 8)  # off the 4096-byte grid
        img.seek(offset)
        img.write(data)
        rows.append((name, offset, len(data), hashlib.sha256(data).hexdigest()))
with open(sys.argv[4], 'w') as f:
    for row in rows:
        f.write('%s %d %d %s\n' % row)
PY
sync
fi
echo "image: $(du -h image.img | cut -f1), $(wc -l < manifest.txt) files"

seconds() { date +%s.%N; }
# best_of N PREPARE COMMAND...: the shortest wall time of N runs of COMMAND (the machine may
# be shared), each after PREPARE, which is not timed.
best_of() {
    n=$1; prepare=$2; shift 2
    best=""
    while [ "$n" -gt 0 ]; do
        $prepare
        t0=$(seconds); "$@" > /dev/null 2>&1; t1=$(seconds)
        best=$(python3 -c "t = $t1 - $t0; b = '$best'; print('%.2f' % (t if not b else min(t, float(b))))")
        n=$((n - 1))
    done
    echo "$best"
}
clean_quarnel() { rm -rf out/quarnel; }
clean_photorec() { rm -rf out/photorec photorec.ses && mkdir -p out/photorec; }
clean_foremost() { rm -rf out/foremost; }
run_quarnel() {
    "$cli" scan "$work/image.img" --deep --whole-disk --recover out/quarnel --json > out/quarnel.json
}
run_photorec() {
    photorec /d "$work/out/photorec/recup" /cmd image.img partition_none,fileopt,everything,enable,search
}
run_foremost() { foremost -t all -i image.img -o out/foremost; }

# 3. The runs, from a warm page cache so that every tool reads from memory; each time is the
#    best of a few runs, output folders emptied before each (untimed).
mkdir -p out
cat image.img > /dev/null
echo "load average before the runs: $(cut -d' ' -f1-3 /proc/loadavg)"
cat_s=$(best_of 3 : cat image.img)
quarnel_s=$(best_of 3 clean_quarnel run_quarnel)
photorec_s=$(best_of 2 clean_photorec run_photorec)
foremost_s=$(best_of 1 clean_foremost run_foremost)

# 4. Score every output file against the manifest.
python3 - "$size_mib" manifest.txt samples "$cat_s" "$quarnel_s" "$photorec_s" "$foremost_s" <<'PY'
import hashlib, os, sys
size_mib = int(sys.argv[1])
rows = [l.split() for l in open(sys.argv[2])]
originals = {r[0]: open(os.path.join(sys.argv[3], r[0]), 'rb').read() for r in rows}
by_hash = {hashlib.sha256(d).hexdigest(): n for n, d in originals.items()}
cat_s = float(sys.argv[4])
times = {'quarnel': float(sys.argv[5]), 'photorec': float(sys.argv[6]),
         'foremost': float(sys.argv[7])}
skip = {'report.xml', 'audit.txt', 'quarnel.json'}
print('| tool | seconds | MB/s | x cat | exact recall | overshoot | cut short | noise files |')
print('|---|---|---|---|---|---|---|---|')
mbs = lambda s: size_mib * 1.048576 / s if s > 0 else float('inf')
print('| cat (warm cache) | %.2f | %.0f | 1.00 | | | | |' % (cat_s, mbs(cat_s)))
results = {}
for tool in ('quarnel', 'photorec', 'foremost'):
    exact, over, short, noise = set(), 0, 0, 0
    for base, _, files in os.walk(os.path.join('out', tool)):
        for f in files:
            if f in skip:
                continue
            data = open(os.path.join(base, f), 'rb').read()
            h = hashlib.sha256(data).hexdigest()
            if h in by_hash:
                exact.add(by_hash[h])
                continue
            if any(len(data) > len(o) and data.startswith(o) for o in originals.values()):
                over += 1
            elif any(len(data) < len(o) and o.startswith(data) and len(data) > 0
                     for o in originals.values()):
                short += 1
            else:
                noise += 1
    results[tool] = (len(exact), over, short, noise)
    t = times[tool]
    print('| %s | %.2f | %.0f | %.2f | %d/%d (%.1f%%) | %d | %d | %d |' % (
        tool, t, mbs(t), cat_s / t if t else 0, len(exact), len(rows),
        100.0 * len(exact) / len(rows), over, short, noise))
q = times['quarnel']
print()
print('quarnel vs photorec speed: %.1fx, vs foremost: %.1fx' % (
    times['photorec'] / q, times['foremost'] / q))
PY
