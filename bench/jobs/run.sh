#!/usr/bin/env bash
# Window responsiveness during conversion jobs: the real main window
# (offscreen) runs a job in every Start mode on a generated movie, and the
# same-as-source copy of a whole two-hour movie; the event loop's longest
# stall is measured quietly and beside two busy processes, and the time from
# Stop to the finished file. See the header of bench_jobs.cpp for what each
# figure means.
# Usage: run.sh BUILD_DIR [--generate-only]
#   cache: $FW_BENCH_CACHE (default ~/.cache/framewhisk-bench); the sources
#   are made once and reused.
#   FW_JOBS_NO_LONG=1 leaves out the two-hour copy; FW_JOBS_ROWS="0 6" runs
#   only those rows (counted from 0 in the table's order).
#   Also: FW_BENCH_ONLY=jobs bash bench/run.sh BUILD_DIR
set -euo pipefail
build=${1:?build folder}
bin="$build/bench/jobs/bench_jobs"
cache=${FW_BENCH_CACHE:-$HOME/.cache/framewhisk-bench}
mkdir -p "$cache"

# 60 s of 640x360 at 25 fps, H.264 (x264 veryfast CRF 30 with B-frames, a key
# frame every 4 s exactly) with stereo AAC: the clip source of every mode.
short="$cache/jobs_h264_360p25_60s.mp4"
if [ ! -s "$short" ]; then
  echo "generating $short" >&2
  ffmpeg -v error -y -f lavfi -i "testsrc2=size=640x360:rate=25" -f lavfi -i "sine=frequency=440:sample_rate=44100" \
    -ac 2 -t 60 -c:v libx264 -preset veryfast -crf 30 -g 100 -keyint_min 100 -sc_threshold 0 -pix_fmt yuv420p \
    -c:a aac -b:a 64k -f mp4 "$short.tmp" && mv "$short.tmp" "$short"
fi
# Two hours (180,000 frames, a key frame every 4 s, about 300 MB) made from the
# minute above played 120 times over and copied, not encoded: seconds instead
# of minutes.
long="$cache/jobs_h264_360p25_2h.mp4"
if [ ! -s "$long" ]; then
  echo "generating $long" >&2
  ffmpeg -v error -y -stream_loop 119 -i "$short" -c copy -f mp4 "$long.tmp" && mv "$long.tmp" "$long"
  n=$(ffprobe -v error -select_streams v:0 -count_packets -show_entries stream=nb_read_packets -of csv=p=0 "$long")
  [ "$n" = 180000 ] || { echo "$long has $n video packets, not 180000" >&2; rm -f "$long"; exit 1; }
fi

[ "${2:-}" = "--generate-only" ] && exit 0
[ -x "$bin" ] || { echo "bench_jobs not built in $build" >&2; exit 1; }

echo "machine: $(nproc) cores, $(uptime)"
ps -eo pcpu,etime,comm --sort=-pcpu | head -6 | sed 's/^/  /'
if [ -n "${FW_JOBS_NO_LONG:-}" ]; then
  "$bin" "$short"
else
  "$bin" "$short" "$long"
fi
