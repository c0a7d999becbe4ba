#!/usr/bin/env bash
# Start-up and add-files figures of the windowed program, under Xvfb:
#   - time from process start to the main window first on screen
#     (median of 5 starts);
#   - adding 100 files given on the command line (median of 3 runs):
#     seconds and files per second.
# The program prints both moments when TARN_REPORT_SHOWN=1.
#
#   bench/gui_startup.sh [BUILD_DIR]     (default: build)
#
# Needs the targets tarnmp4videoconverter and make_media built in BUILD_DIR.
set -euo pipefail

if [[ "${1:-}" != "--inner" ]]; then
  cd "$(dirname "$0")/.."
  build=$(realpath "${1:-build}")
  program=$build/bin/tarnmp4videoconverter
  [[ -x $program ]] || { echo "gui_startup.sh: build the program first: $program" >&2; exit 1; }
  media=$build/media
  if [[ ! -f $media/clip.avi ]]; then
    [[ -x $build/tests/fixtures/make_media ]] || { echo "gui_startup.sh: build make_media first" >&2; exit 1; }
    "$build/tests/fixtures/make_media" "$media" >/dev/null
  fi
  command -v xvfb-run >/dev/null || { echo "gui_startup.sh: xvfb-run is missing" >&2; exit 1; }
  exec xvfb-run -a -s "-screen 0 1280x1024x24" "$0" --inner "$program" "$media"
fi

program=$2
media=$3
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
export XDG_RUNTIME_DIR=$scratch/xdg
mkdir -m 700 "$XDG_RUNTIME_DIR"
export TARN_REPORT_SHOWN=1

# Output names land in the scratch folder, never in the user's own.
settings() {
  printf '[settings]\nOutPutDir=%s/out\n' "$scratch" > "$scratch/settings.ini"
}

# 100 links to ten different media files, each under its own name.
names=(clip.avi clip.mp4 tone.mp3 tone.wav pal_16x15.mp4 short.avi jump.mkv programs.ts long35.avi late_audio.mkv)
mkdir "$scratch/files"
files=()
for i in $(seq 0 99); do
  source=${names[$((i % 10))]}
  link=$scratch/files/f$(printf '%03d' "$i")_$source
  ln -s "$media/$source" "$link"
  files+=("$link")
done

# Runs the program until its output has a line starting with $1; prints
# the start time and that line. Gives up after 120 s.
run_until() {
  local marker=$1; shift
  local out=$scratch/out.txt
  : > "$out"
  local start
  start=$(date +%s.%N)
  "$program" --settings "$scratch/settings.ini" "$@" > "$out" 2>/dev/null &
  local pid=$!
  local line=""
  for _ in $(seq 1 2400); do
    line=$(grep -m1 "^$marker" "$out" || true)
    [[ -n $line ]] && break
    sleep 0.05
  done
  kill "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
  [[ -n $line ]] || { echo "gui_startup.sh: the program never printed '$marker'" >&2; exit 1; }
  echo "$start $line"
}

median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

shown=()
for run in 1 2 3 4 5; do
  settings
  read -r start _ _ at < <(run_until "TARN shown")
  shown+=("$(awk -v a="$at" -v s="$start" 'BEGIN { printf "%.3f", a - s }')")
done
echo "start to main window shown (s): ${shown[*]}"
echo "median: $(printf '%s\n' "${shown[@]}" | median) s"

adds=()
for run in 1 2 3; do
  settings
  # "TARN added N of M in S s"
  read -r _ _ _ added _ total _ seconds _ < <(run_until "TARN added" "${files[@]}")
  [[ $added == 100 && $total == 100 ]] || { echo "gui_startup.sh: only $added of $total files were added" >&2; exit 1; }
  adds+=("$seconds")
done
echo "adding 100 files (s): ${adds[*]}"
best=$(printf '%s\n' "${adds[@]}" | median)
echo "median: $best s, $(awk -v s="$best" 'BEGIN { printf "%.1f", 100 / s }') files per second"
