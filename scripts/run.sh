#!/usr/bin/env bash
# Installs what is missing, builds the command-line converter, makes a sample
# clip and converts it with the default output profile.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
cmake -S . -B build -G Ninja >/dev/null
cmake --build build -j "$(nproc)" --target tarnconv make_media

# The generator writes a set of small clips; the 3 s H.264 + AAC one serves
# as the sample.
media=build/media
./build/tests/fixtures/make_media "$media" >/dev/null
sample="$media/clip.mp4"

out=build/converted
mkdir -p "$out"
echo
./build/bin/tarnconv --log-level quiet -o "$out" "$sample"
echo
echo "Converted $sample with the default profile (stored in"
echo "build/bin/tarnmp4videoconverter.ini, key OutPutFormat; 0 at first start)."
echo "The result is in $out/:"
ls -l "$out"
echo
echo "More: ./build/bin/tarnconv --help, ./build/bin/tarnconv --list-profiles"
