#!/usr/bin/env bash
# Playback benchmark: plays 60 s of 1080p30 H.264, 2160p30 H.264 and 1080p30
# HEVC (sources generated once with the ffmpeg command line, cached) with
# `fwmedia play` to a PulseAudio server of its own (null sink), pictures at
# the window's default preview size, and decodes the same 60 s with `ffmpeg
# -i X -t 60 -f null -` (the decode floor) in turn, for FW_BENCH_ROUNDS
# rounds (default 3). Prints medians: dropped frames, CPU time (ours / the
# floor), Space to the first sound, pause to the exact frame, peak memory,
# each with its target and PASS or FAIL (printed, never asserted).
# Usage: run.sh BUILD_DIR   (cache: $FW_BENCH_CACHE, default ~/.cache/framewhisk-bench;
#        FW_PLAY_SECONDS shortens the played time, FW_BENCH_ROUNDS the rounds)
set -euo pipefail
build=${1:?build folder}
fwmedia="$build/app/fwmedia"
[ -x "$fwmedia" ] || { echo "fwmedia not built in $build" >&2; exit 1; }
command -v pulseaudio >/dev/null || { echo "pulseaudio is not installed (scripts/install-deps.sh)" >&2; exit 1; }
cache=${FW_BENCH_CACHE:-$HOME/.cache/framewhisk-bench}
seconds=${FW_PLAY_SECONDS:-60}
rounds=${FW_BENCH_ROUNDS:-3}
mkdir -p "$cache"

make_source() {  # name, size, ffmpeg video options...
  local out="$cache/$1" size=$2; shift 2
  [ -s "$out" ] && return 0
  echo "generating $out" >&2
  ffmpeg -v error -y -f lavfi -i "testsrc2=size=${size}:rate=30" -f lavfi -i "sine=frequency=440:sample_rate=48000" \
    -t 60 "$@" -c:a aac -b:a 128k -f mp4 "$out.tmp" && mv "$out.tmp" "$out"
}
make_source play_h264_1080p30.mp4 1920x1080 -c:v libx264 -preset veryfast -g 60 -pix_fmt yuv420p
make_source play_h264_2160p30.mp4 3840x2160 -c:v libx264 -preset ultrafast -g 60 -pix_fmt yuv420p
make_source play_hevc_1080p30.mp4 1920x1080 -c:v libx265 -preset ultrafast -g 60 -pix_fmt yuv420p -tag:v hvc1 -x265-params log-level=error

# A sound server of our own, stopped on exit.
run=$(mktemp -d)
cat > "$run/server.pa" <<PA
load-module module-null-sink sink_name=fwbench rate=48000 channels=2
set-default-sink fwbench
load-module module-native-protocol-unix auth-anonymous=1 socket=$run/native
PA
HOME=$run PULSE_RUNTIME_PATH=$run/runtime pulseaudio -n --daemonize=no --exit-idle-time=-1 --system=false \
  --disallow-exit --use-pid-file=false -F "$run/server.pa" >/dev/null 2>&1 </dev/null &
server=$!
trap 'kill $server 2>/dev/null; wait $server 2>/dev/null; rm -rf "$run"' EXIT
export PULSE_SERVER=unix:$run/native SDL_AUDIODRIVER=pulseaudio
for _ in $(seq 100); do pactl info >/dev/null 2>&1 && break; sleep 0.05; done

frames=$((seconds * 30))
median() { sort -g | awk '{a[NR]=$1} END{ if (NR==0) print "nan"; else print (NR%2 ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2) }'; }
verdict() { awk -v v="$1" -v t="$2" 'BEGIN{ print (v+0 <= t+0) ? "PASS" : "FAIL" }'; }

printf '%-26s %8s %8s %8s %8s %8s %8s %9s\n' source dropped "drop%" "cpu s" "floor s" ratio "sound ms" "pause ms"
for src in play_h264_1080p30.mp4 play_h264_2160p30.mp4 play_hevc_1080p30.mp4; do
  file="$cache/$src"
  : > "$run/ours" ; : > "$run/floor"
  for _ in $(seq "$rounds"); do
    # Ours: play with the window's default preview size (533 x 300 for 16:9), pausing once half-way.
    /usr/bin/time -f "%U %S %M" -o "$run/time" "$fwmedia" play "$file" 0 "$frames" --size 533 300 \
      --pause-after $((seconds * 500)) > "$run/out" 2>"$run/err" || { cat "$run/err" >&2; exit 1; }
    read -r u s m < "$run/time"
    dropped=$(awk '/^shown/{print $4}' "$run/out")
    sound=$(awk '/^first sound/{print $3}' "$run/out")
    pause=$(awk '/^pause to exact frame/{print $5}' "$run/out")
    echo "$dropped $(echo "$u + $s" | bc) $m ${sound:-nan} ${pause:-nan}" >> "$run/ours"
    # The decode floor: the same seconds through the command line.
    /usr/bin/time -f "%U %S %M" -o "$run/time" ffmpeg -v error -nostdin -i "$file" -t "$seconds" -f null - 2>/dev/null
    read -r u s m < "$run/time"
    echo "$u + $s" | bc >> "$run/floor"
  done
  dropped=$(cut -d' ' -f1 "$run/ours" | median)
  cpu=$(cut -d' ' -f2 "$run/ours" | median)
  mem=$(cut -d' ' -f3 "$run/ours" | median)
  sound=$(cut -d' ' -f4 "$run/ours" | median)
  pause=$(cut -d' ' -f5 "$run/ours" | median)
  floor=$(median < "$run/floor")
  pct=$(awk -v d="$dropped" -v f="$frames" 'BEGIN{printf "%.2f", 100*d/f}')
  ratio=$(awk -v a="$cpu" -v b="$floor" 'BEGIN{printf "%.2f", a/b}')
  printf '%-26s %8s %8s %8.2f %8.2f %8s %8s %9s   peak %d MB\n' "$src" "$dropped" "$pct" "$cpu" "$floor" "$ratio" "$sound" "$pause" $((mem / 1024))
  case $src in
    play_h264_1080p30.mp4) echo "  targets: dropped 0 $(verdict "$dropped" 0); cpu <= 1.3x floor $(verdict "$ratio" 1.3)";;
    play_h264_2160p30.mp4) echo "  targets: dropped <= 1% $(verdict "$pct" 1); peak <= 400 MB $(verdict $((mem / 1024)) 400)";;
    play_hevc_1080p30.mp4) echo "  targets: dropped <= 1% $(verdict "$pct" 1)";;
  esac
  echo "  targets: first sound <= 150 ms $(verdict "$sound" 150); pause to exact frame <= 100 ms $(verdict "$pause" 100)"
done
echo "(window event-loop stall while playing: not measured here; bench/scrub measures the window's stall)"
