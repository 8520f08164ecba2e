#!/usr/bin/env bash
# Frame preview benchmark: generates three 60 s sources once (cached), then
# measures the movie reader and the ffmpeg command line side by side.
# Usage: run.sh BUILD_DIR   (cache: $FW_BENCH_CACHE, default ~/.cache/framewhisk-bench)
set -euo pipefail
build=${1:?build folder}
bin="$build/bench/preview/bench_preview"
[ -x "$bin" ] || { echo "bench_preview not built in $build" >&2; exit 1; }
cache=${FW_BENCH_CACHE:-$HOME/.cache/framewhisk-bench}
mkdir -p "$cache"

make_source() {  # name, ffmpeg output options...
  local out="$cache/$1"; shift
  [ -s "$out" ] && return 0
  echo "generating $out" >&2
  ffmpeg -v error -y -f lavfi -i "testsrc2=size=${SIZE}:rate=25" -t 60 "$@" "$out.tmp" && mv "$out.tmp" "$out"
}
SIZE=1280x720 make_source h264_720p_gop250.mp4 -c:v libx264 -preset veryfast -g 250 -keyint_min 250 \
  -sc_threshold 0 -bf 3 -pix_fmt yuv420p -f mp4
SIZE=640x480 make_source mpeg4_480p_gop25.avi -c:v mpeg4 -g 25 -q:v 4 -f avi
SIZE=720x576 make_source mpeg2_576p_gop15.mpg -c:v mpeg2video -g 15 -bf 2 -q:v 4 -f vob

"$bin" "$cache/h264_720p_gop250.mp4" 0.6 "$cache/mpeg4_480p_gop25.avi" 0.25 "$cache/mpeg2_576p_gop15.mpg" 0.25
