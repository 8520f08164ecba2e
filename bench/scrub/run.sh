#!/usr/bin/env bash
# Scrub benchmark: the real main window (offscreen) driven through a drag and
# random jumps on five sources, beside the ffmpeg command line's accurate seek.
# Generates its two HD sources once (cached) and reuses the preview benchmark's three.
# Usage: run.sh BUILD_DIR [--generate-only]
#   cache: $FW_BENCH_CACHE (default ~/.cache/framewhisk-bench)
#   rounds (a drag and 40 jumps each) per source: $FW_SCRUB_ROUNDS (default 3, at least 3 for a report)
set -euo pipefail
build=${1:?build folder}
bin="$build/bench/scrub/bench_scrub"
cache=${FW_BENCH_CACHE:-$HOME/.cache/framewhisk-bench}
mkdir -p "$cache"

make_source() {  # name, seconds, lavfi size:rate, ffmpeg output options...
  local out="$cache/$1" seconds=$2 src=$3; shift 3
  [ -s "$out" ] && return 0
  echo "generating $out" >&2
  ffmpeg -v error -y -f lavfi -i "testsrc2=size=${src}" -t "$seconds" "$@" "$out.tmp" && mv "$out.tmp" "$out"
}
# Long-GOP HD sources: a key frame every 10 s, so a jump decodes up to 300 frames.
make_source h264_2160p_gop300.mp4 30 3840x2160:rate=30 -c:v libx264 -preset veryfast -g 300 -keyint_min 300 \
  -sc_threshold 0 -bf 3 -pix_fmt yuv420p -f mp4
make_source hevc_1080p_gop250.mp4 30 1920x1080:rate=25 -c:v libx265 -preset ultrafast \
  -x265-params keyint=250:min-keyint=250:scenecut=0:bframes=3:log-level=error -pix_fmt yuv420p -tag:v hvc1 -f mp4
# The preview benchmark's sources (same names, same cache).
make_source h264_720p_gop250.mp4 60 1280x720:rate=25 -c:v libx264 -preset veryfast -g 250 -keyint_min 250 \
  -sc_threshold 0 -bf 3 -pix_fmt yuv420p -f mp4
make_source mpeg4_480p_gop25.avi 60 640x480:rate=25 -c:v mpeg4 -g 25 -q:v 4 -f avi
make_source mpeg2_576p_gop15.mpg 60 720x576:rate=25 -c:v mpeg2video -g 15 -bf 2 -q:v 4 -f vob

[ "${2:-}" = "--generate-only" ] && exit 0
[ -x "$bin" ] || { echo "bench_scrub not built in $build" >&2; exit 1; }

# bench_scrub runs the window headless (QT_QPA_PLATFORM=offscreen) with settings,
# data and runtime folders of its own in a temporary folder, so no user setting
# is read or written. Targets per source: jump-to-exact ratio against
# `ffmpeg -ss`, move to first picture (ms), peak memory (MB); "-" = none.
echo "machine: $(uptime)"
ps -eo pcpu,etime,comm --sort=-pcpu | head -6 | sed 's/^/  /'
"$bin" --rounds "${FW_SCRUB_ROUNDS:-3}" \
  "$cache/h264_2160p_gop300.mp4" 0.5 150 500 \
  "$cache/hevc_1080p_gop250.mp4" 0.5 - - \
  "$cache/h264_720p_gop250.mp4" 0.6 - - \
  "$cache/mpeg4_480p_gop25.avi" - - - \
  "$cache/mpeg2_576p_gop15.mpg" - - -
