#!/usr/bin/env bash
# Builds quarnel-cli and recovers the deleted files of the bundled demo disk image.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install_deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUARNEL_BUILD_TESTS=OFF >/dev/null
cmake --build build --target quarnel-cli -j2
mkdir -p out
gzip -dc demo/demo.img.gz > out/demo.img
cli=build/cli/quarnel-cli
echo "== volumes of the demo image"
$cli volumes --image out/demo.img
rm -rf out/recovered
for part in 1 2; do
    echo "== partition $part: deleted files, recovered into out/recovered/partition-$part"
    $cli scan out/demo.img --partition $part --recover out/recovered/partition-$part
done
echo "== recovered files"
find out/recovered -type f | sort
