#!/usr/bin/env bash
# The timeline: key frame ticks, thumbnails, the waveform and a second open
# from the cache, side by side with ffprobe and ffmpeg in the same run
# (interleaved, medians of 3 rounds, ratios), and the window's event loop
# while the timeline view builds the two-hour movie, with the peak memory.
# See the header of bench_timeline.cpp for what each figure means.
# Usage: run.sh BUILD_DIR [--generate-only]
#   cache: $FW_BENCH_CACHE (default ~/.cache/framewhisk-bench); the sources
#   are made once and reused (the two-hour movie is the one bench/jobs makes).
#   Also: FW_BENCH_ONLY=timeline bash bench/run.sh BUILD_DIR
set -euo pipefail
build=${1:?build folder}
bin="$build/bench/timeline/bench_timeline"
cache=${FW_BENCH_CACHE:-$HOME/.cache/framewhisk-bench}
mkdir -p "$cache"

# Two hours of 640x360 at 25 fps, H.264 with a key frame every 4 s and AAC:
# a minute encoded once, then played 120 times over and copied.
short="$cache/jobs_h264_360p25_60s.mp4"
if [ ! -s "$short" ]; then
  echo "generating $short" >&2
  ffmpeg -v error -y -f lavfi -i "testsrc2=size=640x360:rate=25" -f lavfi -i "sine=frequency=440:sample_rate=44100" \
    -ac 2 -t 60 -c:v libx264 -preset veryfast -crf 30 -g 100 -keyint_min 100 -sc_threshold 0 -pix_fmt yuv420p \
    -c:a aac -b:a 64k -f mp4 "$short.tmp" && mv "$short.tmp" "$short"
fi
long="$cache/jobs_h264_360p25_2h.mp4"
if [ ! -s "$long" ]; then
  echo "generating $long" >&2
  ffmpeg -v error -y -stream_loop 119 -i "$short" -c copy -f mp4 "$long.tmp" && mv "$long.tmp" "$long"
fi
# Ten minutes of 1080p at 25 fps, H.264 (x264 defaults: a key frame at most
# every 250 frames, scene cuts allowed) with AAC: a minute encoded, played ten times over.
hd1="$cache/timeline_h264_1080p25_60s.mp4"
if [ ! -s "$hd1" ]; then
  echo "generating $hd1" >&2
  ffmpeg -v error -y -f lavfi -i "testsrc2=size=1920x1080:rate=25" -f lavfi -i "sine=frequency=330:sample_rate=48000" \
    -ac 2 -t 60 -c:v libx264 -preset ultrafast -crf 28 -pix_fmt yuv420p -c:a aac -b:a 96k -f mp4 "$hd1.tmp" &&
    mv "$hd1.tmp" "$hd1"
fi
hd="$cache/timeline_h264_1080p25_10min.mp4"
if [ ! -s "$hd" ]; then
  echo "generating $hd" >&2
  ffmpeg -v error -y -stream_loop 9 -i "$hd1" -c copy -f mp4 "$hd.tmp" && mv "$hd.tmp" "$hd"
fi

[ "${2:-}" = "--generate-only" ] && exit 0
[ -x "$bin" ] || { echo "bench_timeline not built in $build" >&2; exit 1; }
echo "machine: $(nproc) cores, $(uptime)"
ps -eo pcpu,etime,comm --sort=-pcpu | head -6 | sed 's/^/  /'
"$bin" "$long" "$hd"
