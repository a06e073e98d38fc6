#!/bin/sh
# Builds tests/fixtures/carve/carve.img.gz: real files made by Debian tools, written at known
# 512-byte offsets (some 4096-aligned, some not) with pseudo-random noise between them, plus
# the awkward cases: the same file twice, a file cut short, headers with no valid body.
# The manifest carve.manifest lists each placed file: name, offset, size, sha256, expectation.
#
# Needs: imagemagick (convert), ghostscript, zip, sox with libsox-fmt-mp3, gzip, p7zip-full,
# sqlite3, gcc, python3. Run from anywhere; writes into the source tree.
set -eu

here=$(cd "$(dirname "$0")/.." && pwd)
out="$here/tests/fixtures/carve"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
mkdir files

# Images: small but real, with fixed seeds so that reruns give the same bytes.
convert -seed 7 -size 96x64 plasma:fractal -quality 85 files/photo.jpg
convert -seed 8 -size 80x60 plasma:fractal -interlace Plane -quality 80 files/progressive.jpg
convert -seed 9 -size 120x90 plasma:fractal -quality 90 files/cut_source.jpg
convert -seed 10 -size 48x40 plasma:fractal files/image.png
convert -seed 11 -size 40x30 plasma:fractal -colors 32 files/image.gif
convert -seed 12 -size 30x20 plasma:fractal -type TrueColor BMP3:files/image.bmp
convert -seed 13 -size 32x24 plasma:fractal -compress none files/image.tif
convert -seed 14 -size 24x16 plasma:fractal files/image.ppm
convert -seed 15 -size 24x16 plasma:fractal -colorspace Gray files/image.pgm

# A PDF from PostScript.
cat > page.ps <<'PS'
%!PS
/Helvetica findfont 24 scalefont setfont
72 720 moveto (Quarnel carving fixture) show
72 690 moveto (A second line of text.) show
showpage
PS
gs -q -dBATCH -dNOPAUSE -dSAFER -sDEVICE=pdfwrite -sOutputFile=files/doc.pdf page.ps

# The ZIP family: a plain archive, a word-processing document of each kind.
mkdir -p z/plain && printf 'first file\n' > z/plain/a.txt && seq 1 400 > z/plain/b.txt
(cd z/plain && zip -q -X ../../files/archive.zip a.txt b.txt)
mkdir -p z/docx/word z/docx/_rels
cat > z/docx/'[Content_Types].xml' <<'XML'
<?xml version="1.0" encoding="UTF-8"?>
<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types"><Default Extension="xml" ContentType="application/xml"/><Override PartName="/word/document.xml" ContentType="application/vnd.openxmlformats-officedocument.wordprocessingml.document.main+xml"/></Types>
XML
cat > z/docx/word/document.xml <<'XML'
<?xml version="1.0" encoding="UTF-8"?>
<w:document xmlns:w="http://schemas.openxmlformats.org/wordprocessingml/2006/main"><w:body><w:p><w:r><w:t>Quarnel</w:t></w:r></w:p></w:body></w:document>
XML
cat > z/docx/_rels/.rels <<'XML'
<?xml version="1.0" encoding="UTF-8"?>
<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships"><Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument" Target="word/document.xml"/></Relationships>
XML
(cd z/docx && zip -q -X -r ../../files/report.docx '[Content_Types].xml' _rels word)
mkdir -p z/odt/META-INF
printf 'application/vnd.oasis.opendocument.text' > z/odt/mimetype
cat > z/odt/content.xml <<'XML'
<?xml version="1.0" encoding="UTF-8"?>
<office:document-content xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0" xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0" office:version="1.2"><office:body><office:text><text:p>Quarnel</text:p></office:text></office:body></office:document-content>
XML
cat > z/odt/META-INF/manifest.xml <<'XML'
<?xml version="1.0" encoding="UTF-8"?>
<manifest:manifest xmlns:manifest="urn:oasis:names:tc:opendocument:xmlns:manifest:1.0"><manifest:file-entry manifest:full-path="/" manifest:media-type="application/vnd.oasis.opendocument.text"/><manifest:file-entry manifest:full-path="content.xml" manifest:media-type="text/xml"/></manifest:manifest>
XML
(cd z/odt && zip -q -X -0 ../../files/letter.odt mimetype && zip -q -X -r ../../files/letter.odt content.xml META-INF)

# Sound.
sox -n -r 8000 -c 1 -b 16 files/tone.wav synth 0.25 sine 440
sox -n -r 22050 -c 1 files/tone.ogg synth 0.5 sine 660
sox -n -r 22050 -c 1 -C 32 files/tone.mp3 synth 0.5 sine 550

# Archives, a database and a program.
seq 1 3000 > numbers.txt
gzip -9 -n -c numbers.txt > files/numbers.gz
7z a -bd -mx=1 files/numbers.7z numbers.txt > /dev/null
sqlite3 files/notes.sqlite "create table notes(id integer primary key, text); \
  insert into notes(text) values ('first'), ('second'), ('third');"
printf 'int main(void) { return 0; }\n' > tiny.c
gcc -Os -s -o files/tiny.elf tiny.c

# Lay the files out with noise between them.
python3 - "$work/files" "$work/carve.img" "$work/carve.manifest" <<'PY'
import hashlib, os, random, sys
files, image_path, manifest_path = sys.argv[1:4]
rng = random.Random(20261211)
def noise(n):
    return bytes(rng.getrandbits(8) for _ in range(n))
def read(name):
    with open(os.path.join(files, name), 'rb') as f:
        return f.read()

image = bytearray(noise(4096 * 2))
rows = []
def pad_to(alignment, offset_in):
    # Move to the next multiple of `alignment`, then perhaps off the 4096 grid.
    global image
    gap = rng.randrange(1, 4) * 512
    image += noise(gap)
    while len(image) % alignment:
        image += noise(512 - len(image) % 512 if len(image) % 512 else 512)
    if offset_in and (len(image) // 512) % 8 == 0:
        image += noise(512)
def place(name, data, expect, align4k):
    pad_to(4096 if align4k else 512, not align4k)
    offset = len(image)
    image.extend(data)
    rows.append((name, offset, len(data), hashlib.sha256(data).hexdigest(), expect))

order = ['photo.jpg', 'image.png', 'image.gif', 'image.bmp', 'image.tif', 'image.ppm',
         'image.pgm', 'doc.pdf', 'archive.zip', 'report.docx', 'letter.odt', 'tone.wav',
         'tone.ogg', 'tone.mp3', 'numbers.gz', 'numbers.7z', 'notes.sqlite', 'tiny.elf',
         'progressive.jpg']
for i, name in enumerate(order):
    place(name, read(name), 'exact', i % 2 == 0)
# The same file twice, back to back on consecutive sectors.
place('photo.jpg', read('photo.jpg'), 'exact', False)
pad_to(512, False)
offset = len(image)
data = read('photo.jpg')
image.extend(data)
rows.append(('photo.jpg', offset, len(data), hashlib.sha256(data).hexdigest(), 'exact'))
# A JPEG cut short: its first half, straight followed by another file.
cut = read('cut_source.jpg')
place('cut_source.jpg', cut[:len(cut) // 2], 'partial', False)
place('image.png', read('image.png'), 'exact', True)
# Headers with no valid body.
place('bad.jpg', b'\xff\xd8\xff\xe0' + noise(1020), 'none', False)
place('bad.png', b'\x89PNG\r\n\x1a\n' + noise(504), 'none', True)
place('bad.zip', b'PK\x03\x04' + noise(508), 'none', False)
place('image.gif', read('image.gif'), 'exact', False)
image += noise(4096)
with open(image_path, 'wb') as f:
    f.write(image)
with open(manifest_path, 'w') as f:
    f.write('# name offset size sha256 expectation (exact, partial or none)\n')
    for row in rows:
        f.write('%s %d %d %s %s\n' % row)
PY

gzip -9 -n -c carve.img > "$out/carve.img.gz"
cp carve.manifest "$out/carve.manifest"
echo "wrote $out/carve.img.gz ($(stat -c %s carve.img) bytes unpacked) and carve.manifest"
