#!/usr/bin/env bash
# Scrub benchmark: the real main window (offscreen) driven through a drag and
# random jumps on five sources, beside the ffmpeg command line's accurate seek.
# Generates its two HD sources once (cached) and reuses the preview benchmark's three.
# Usage: run.sh BUILD_DIR [--generate-only]
#   cache: $FW_BENCH_CACHE (default ~/.cache/framewhisk-bench)
#   rounds of jumps per source: $FW_SCRUB_ROUNDS (default 3)
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

# The window runs headless with settings and data folders of its own, so no
# user setting is read or written.
home=$(mktemp -d /tmp/fw_bench_scrub.XXXXXX)
trap 'rm -rf "$home"' EXIT
mkdir -p "$home/config" "$home/data" "$home/run"
chmod 700 "$home/run"
export QT_QPA_PLATFORM=offscreen XDG_CONFIG_HOME="$home/config" XDG_DATA_HOME="$home/data" XDG_RUNTIME_DIR="$home/run"

echo "machine: $(uptime)"
"$bin" --work "$home" \
  "$cache/h264_2160p_gop300.mp4" 4k \
  "$cache/hevc_1080p_gop250.mp4" hevc \
  "$cache/h264_720p_gop250.mp4" 720p \
  "$cache/mpeg4_480p_gop25.avi" other \
  "$cache/mpeg2_576p_gop15.mpg" other
