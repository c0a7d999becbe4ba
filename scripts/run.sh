#!/usr/bin/env bash
# Installs what is missing, builds the project and runs its main job.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
cmake -S . -B build -G Ninja >/dev/null
cmake --build build -j "$(nproc)"

media=build/media
./build/tests/fixtures/make_media "$media"
echo
echo "Test media written to $media/: a moving test pattern with sine tones as"
echo "MPEG-4+MP3 AVI, H.264+AAC MP4, a 720x576 clip with sample aspect 16:15, MP3 and"
echo "WAV audio, PNG and JPEG stills, a 0.8 s clip, a clip with a timestamp jump, a"
echo "two-program MPEG-TS, a 35 s clip, a clip starting without a key frame, a clip"
echo "whose audio starts 0.5 s late, a truncated AVI, random bytes and an empty file."
