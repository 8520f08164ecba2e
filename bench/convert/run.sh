#!/usr/bin/env bash
# Conversion benchmark: fwmedia render against the ffmpeg command line with the
# same encoders, sizes and rates, and against decoding alone (the floor).
# Sources (60 s, stereo audio) are generated once into the shared cache.
# Usage: run.sh BUILD_DIR   (cache: $FW_BENCH_CACHE, default ~/.cache/framewhisk-bench)
#        FW_BENCH_SECONDS (default 60) shortens every clip;
#        FW_BENCH_CINEPAK_SECONDS (default 10) the slow Cinepak clip.
set -euo pipefail
build=${1:?build folder}
fwmedia="$build/app/fwmedia"
[ -x "$fwmedia" ] || { echo "fwmedia not built in $build" >&2; exit 1; }
cache=${FW_BENCH_CACHE:-$HOME/.cache/framewhisk-bench}
seconds=${FW_BENCH_SECONDS:-60}
cinepak_seconds=${FW_BENCH_CINEPAK_SECONDS:-10}
mkdir -p "$cache"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

make_source() {  # name size output-options...
  local out="$cache/$1" size=$2; shift 2
  [ -s "$out" ] && return 0
  echo "generating $out" >&2
  ffmpeg -v error -y -f lavfi -i "testsrc2=size=${size}:rate=25" -f lavfi -i "sine=frequency=440:sample_rate=44100" \
    -ac 2 -t 60 "$@" "$out.tmp" && mv "$out.tmp" "$out"
}
make_source conv_mpeg4_480p_stereo.avi 640x480 -c:v mpeg4 -g 25 -q:v 4 -c:a libmp3lame -b:a 128k -f avi
make_source conv_h264_720p_stereo.mp4 1280x720 -c:v libx264 -preset veryfast -g 250 -bf 3 -pix_fmt yuv420p \
  -c:a aac -b:a 128k -f mp4
make_source conv_mpeg2_576p_stereo.mpg 720x576 -c:v mpeg2video -g 15 -bf 2 -q:v 4 -c:a mp2 -b:a 192k -f vob

# Runs a command, prints "seconds max_rss_kb".
measure() {
  local log="$work/time.log"
  /usr/bin/time -f "%e %M" -o "$log" "$@" >/dev/null 2>"$work/err.log" || { cat "$work/err.log" >&2; echo "FAILED: $*" >&2; echo "0 0"; return 0; }
  cat "$log"
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "n/a" }'; }

report() {  # label ours_time ours_rss cli_time floor_time target
  printf '%-34s ours %7.2fs  cli %7.2fs  floor %7.2fs  ours/cli %sx (target %s)  ours/floor %sx  peak %d MB\n' \
    "$1" "$2" "$4" "$5" "$(ratio "$2" "$4")" "$6" "$(ratio "$2" "$5")" "$(( $3 / 1024 ))"
}

echo "WMV, default profile (320x240 wmv2 q4, wmav2 96k 44.1 kHz stereo), ${seconds} s clips"
for src in conv_mpeg4_480p_stereo.avi:0.9 conv_h264_720p_stereo.mp4:1.0 conv_mpeg2_576p_stereo.mpg:1.0; do
  name=${src%%:*}; target=${src##*:}; in="$cache/$name"
  frames=$(( seconds * 25 ))
  read -r ft _ < <(measure ffmpeg -v error -y -threads 0 -t "$seconds" -i "$in" -f null -)
  read -r ct _ < <(measure ffmpeg -v error -y -t "$seconds" -i "$in" -vf scale=320:240 -c:v wmv2 -q:v 4 -g 100 \
    -c:a wmav2 -b:a 96k -ar 44100 -ac 2 -f asf "$work/cli.wmv")
  read -r ot orss < <(measure "$fwmedia" render "$in" "$work/ours.wmv" 0 "$frames")
  report "$name" "$ot" "$orss" "$ct" "$ft" "$target"
done

in="$cache/conv_mpeg4_480p_stereo.avi"
echo "AVI 320x240 from 640x480, PCM 44.1 kHz 16 bit stereo"
avi() {  # label seconds target ours-compressor ffmpeg-video-options...
  local label=$1 secs=$2 target=$3 comp=$4; shift 4
  local frames=$(( secs * 25 ))
  read -r ft _ < <(measure ffmpeg -v error -y -t "$secs" -i "$in" -f null -)
  read -r ct _ < <(measure ffmpeg -v error -y -t "$secs" -i "$in" -vf scale=320:240 "$@" -c:a pcm_s16le -ar 44100 -ac 2 \
    -f avi "$work/cli.avi")
  read -r ot orss < <(measure "$fwmedia" render "$in" "$work/ours.avi" 0 "$frames" --avi --video-compressor "$comp")
  report "$label (${secs} s)" "$ot" "$orss" "$ct" "$ft" "$target"
}
avi "Motion JPEG" "$seconds" 1.0 "Motion JPEG" -c:v mjpeg -q:v 3
avi "MPEG-4 Part 2" "$seconds" 1.0 "MPEG-4 Part 2" -c:v mpeg4 -b:v 800k -g 12 -bf 0
avi "Cinepak" "$cinepak_seconds" 0.6 "Cinepak by Radius" -c:v cinepak
