#!/usr/bin/env bash
# Installs what is missing, builds both programs, makes a sample clip and
# opens the window with it in the list; without a display it converts the
# clip with tarnconv instead.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
cmake -S . -B build -G Ninja >/dev/null
cmake --build build -j "$(nproc)" --target tarnconv tarnmp4videoconverter make_media

# The generator writes a set of small clips; the 3 s H.264 + AAC one serves
# as the sample.
media=build/media
./build/tests/fixtures/make_media "$media" >/dev/null
sample="$media/clip.mp4"

if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
  echo "Opening the converter with $sample in the list; press Start to convert it."
  exec ./build/bin/tarnmp4videoconverter "$sample"
fi

echo "No display: converting $sample with tarnconv instead."
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
