#!/usr/bin/env bash
# Conversion benchmark: fwmedia render against the ffmpeg command line with the
# same encoders, sizes and rates, and against decoding alone (the floor).
# Sources (60 s, stereo audio) are generated once into the shared cache.
# Usage: run.sh BUILD_DIR   (cache: $FW_BENCH_CACHE, default ~/.cache/framewhisk-bench)
#        FW_BENCH_SECONDS (default 60) shortens every clip;
#        FW_BENCH_CINEPAK_SECONDS (default 10) the slow Cinepak clip;
#        FW_BENCH_ONLY=web runs only the MP4 and WebM rows, FW_BENCH_ONLY=anim
#        only the GIF and WebP rows, FW_BENCH_ONLY=copy only the same-as-source
#        (--copy) rows, FW_BENCH_ONLY=segments only the rows of five segments
#        joined (not run otherwise: its source is 10 minutes long);
#        FW_BENCH_ROUNDS (default 3) rounds of the MP4, WebM and copy rows.
set -euo pipefail
build=${1:?build folder}
fwmedia="$build/app/fwmedia"
[ -x "$fwmedia" ] || { echo "fwmedia not built in $build" >&2; exit 1; }
cache=${FW_BENCH_CACHE:-$HOME/.cache/framewhisk-bench}
seconds=${FW_BENCH_SECONDS:-60}
cinepak_seconds=${FW_BENCH_CINEPAK_SECONDS:-10}
only=${FW_BENCH_ONLY:-}
rounds=${FW_BENCH_ROUNDS:-3}
mkdir -p "$cache"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

make_source() {  # name size output-options...
  local out="$cache/$1" size=$2; shift 2
  [ -s "$out" ] && return 0
  echo "generating $out" >&2
  ffmpeg -v error -y -f lavfi -i "testsrc2=size=${size}:rate=${source_rate:-25}" \
    -f lavfi -i "sine=frequency=440:sample_rate=44100" \
    -ac 2 -t "${source_seconds:-60}" "$@" "$out.tmp" && mv "$out.tmp" "$out"
}
if [ -z "$only" ]; then
  make_source conv_mpeg4_480p_stereo.avi 640x480 -c:v mpeg4 -g 25 -q:v 4 -c:a libmp3lame -b:a 128k -f avi
  make_source conv_mpeg2_576p_stereo.mpg 720x576 -c:v mpeg2video -g 15 -bf 2 -q:v 4 -c:a mp2 -b:a 192k -f vob
fi
if [ "$only" != copy ] && [ "$only" != segments ]; then
  make_source conv_h264_720p_stereo.mp4 1280x720 -c:v libx264 -preset veryfast -g 250 -bf 3 -pix_fmt yuv420p \
    -c:a aac -b:a 128k -f mp4
  # 4K for the downscaling row: 25 s, made quickly (ultrafast) with a usual key frame interval.
  [ "$only" = anim ] || source_seconds=25 make_source conv_h264_2160p_stereo.mp4 3840x2160 -c:v libx264 -preset ultrafast -g 250 \
    -pix_fmt yuv420p -c:a aac -b:a 128k -f mp4
fi
if [ -z "$only" ] || [ "$only" = copy ]; then
  # 90 s of 720p at 30 fps with AAC sound, closed groups of pictures with
  # B-frames: a key frame (IDR) every second, and every ten seconds.
  for key in 1 10; do
    source_seconds=90 source_rate=30 make_source "copy_h264_720p30_key${key}s.mp4" 1280x720 -c:v libx264 \
      -preset veryfast -g $(( key * 30 )) -keyint_min $(( key * 30 )) -sc_threshold 0 -bf 3 -pix_fmt yuv420p \
      -c:a aac -b:a 128k -f mp4
  done
fi

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

web_rows() {
  # Runs ours and the command line in turn (the order swapped every round),
  # $rounds rounds; prints medians, the ratio and both peak memories.
  # web_row label target src secs ours-options... -- cli-options...
  # The clip starts at $row_start seconds (default 0) of a source of
  # $row_rate frames per second (default 25).
  local label=$1 target=$2 src=$3 secs=$4; shift 4
  local start=${row_start:-0} rate=${row_rate:-25}
  local ours=() cli=()
  while [ $# -gt 0 ] && [ "$1" != -- ]; do ours+=("$1"); shift; done
  shift
  cli=("$@")
  local first last ext=mp4 seek=()
  first=$(awk -v s="$start" -v r="$rate" 'BEGIN { printf "%d", s * r + 0.5 }')
  last=$(( first + secs * rate ))
  [ "$start" = 0 ] || seek=(-ss "$start")
  case " ${ours[*]} " in *" --webm "*) ext=webm ;; esac
  local ot=() om=() ct=() cm=() r t m
  for (( r = 0; r < rounds; r++ )); do
    for who in $([ $(( r % 2 )) -eq 0 ] && echo "cli ours" || echo "ours cli"); do
      if [ "$who" = cli ]; then
        read -r t m < <(measure ffmpeg -v error -y "${seek[@]}" -t "$secs" -i "$src" "${cli[@]}" "$work/cli.$ext")
        ct+=("$t"); cm+=("$m")
      else
        read -r t m < <(measure "$fwmedia" render "$src" "$work/ours.$ext" "$first" "$last" "${ours[@]}")
        ot+=("$t"); om+=("$m")
      fi
    done
  done
  median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
  local omed cmed pairs=()
  omed=$(median "${ot[@]}"); cmed=$(median "${ct[@]}")
  # Each round's two runs ran back to back: their ratio shrugs off load that
  # comes and goes between rounds on a shared machine.
  for (( r = 0; r < rounds; r++ )); do pairs+=("$(ratio "${ot[r]}" "${ct[r]}")"); done
  printf '%-44s ours %7.2fs  cli %7.2fs  ours/cli %sx, per round %sx (target <= %s)  peak ours %d MB cli %d MB\n' \
    "$label (${secs} s, $rounds rounds)" "$omed" "$cmed" "$(ratio "$omed" "$cmed")" "$(median "${pairs[@]}")" "$target" \
    "$(( $(median "${om[@]}" | cut -d. -f1) / 1024 ))" "$(( $(median "${cm[@]}" | cut -d. -f1) / 1024 ))"
  printf '    seconds: ours %s | cli %s\n' "${ot[*]}" "${ct[*]}"
  # The two files hold as many frames.
  local of cf
  of=$(ffprobe -v error -select_streams v:0 -count_packets -show_entries stream=nb_read_packets -of csv=p=0 "$work/ours.$ext")
  cf=$(ffprobe -v error -select_streams v:0 -count_packets -show_entries stream=nb_read_packets -of csv=p=0 "$work/cli.$ext")
  [ "$of" = "$cf" ] || echo "  frames differ: ours $of, cli $cf" >&2
}

if [ "$only" = segments ]; then
  # Five segments of 10 s out of a 10-minute 720p H.264 movie with a key frame
  # every 2 s, joined: ours (--range ..., --copy and --mp4) against the command
  # line cutting the same frames with trim/concat and re-encoding them with
  # libx264 (at the quality the copy re-encodes with, and at the MP4 mode's).
  source_seconds=600 make_source seg_h264_720p_key2s_10min.mp4 1280x720 -c:v libx264 -preset ultrafast -g 50 \
    -keyint_min 50 -sc_threshold 0 -bf 3 -pix_fmt yuv420p -c:a aac -b:a 128k -f mp4
  src="$cache/seg_h264_720p_key2s_10min.mp4"
  starts=(1510 4037 7020 9999 13001); len=250
  ranges=(); graph=""; labels=""
  for i in "${!starts[@]}"; do
    a=${starts[i]}; b=$(( a + len ))
    ranges+=(--range "$a:$b")
    graph+="[0:v]trim=start_frame=$a:end_frame=$b,setpts=PTS-STARTPTS[v$i];"
    graph+="[0:a]atrim=start=$(awk -v f="$a" 'BEGIN { print f / 25 }'):end=$(awk -v f="$b" 'BEGIN { print f / 25 }'),asetpts=PTS-STARTPTS[a$i];"
    labels+="[v$i][a$i]"
  done
  graph+="${labels}concat=n=${#starts[@]}:v=1:a=1[vc][a]"
  pair_rows() {  # label target ours-options... -- cli-options...  (medians of $rounds interleaved rounds)
    local label=$1 target=$2; shift 2
    local ours=() cli=() ot=() ct=() r who t m
    while [ "$1" != -- ]; do ours+=("$1"); shift; done
    shift; cli=("$@")
    for (( r = 0; r < rounds; r++ )); do
      for who in $([ $(( r % 2 )) -eq 0 ] && echo "cli ours" || echo "ours cli"); do
        if [ "$who" = cli ]; then
          read -r t m < <(measure ffmpeg -v error -y -i "$src" -filter_complex "$graph;[vc]${seg_post:-null}[v]" -map "[v]" \
            -map "[a]" "${cli[@]}" "$work/cli.mp4")
          ct+=("$t")
        else
          read -r t m < <(measure "$fwmedia" render "$src" "$work/ours.mp4" "${ranges[@]}" "${ours[@]}")
          ot+=("$t")
        fi
      done
    done
    local med='sort -g | awk "{ v[NR] = \$1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }"'
    local omed cmed
    omed=$(printf '%s\n' "${ot[@]}" | eval "$med"); cmed=$(printf '%s\n' "${ct[@]}" | eval "$med")
    printf '%-52s ours %7.2fs  cli %7.2fs  ours/cli %sx (target <= %s)\n' "$label ($rounds rounds)" "$omed" "$cmed" \
      "$(ratio "$omed" "$cmed")" "$target"
    printf '    seconds: ours %s | cli %s\n' "${ot[*]}" "${ct[*]}"
    local of cf
    of=$(ffprobe -v error -select_streams v:0 -count_packets -show_entries stream=nb_read_packets -of csv=p=0 "$work/ours.mp4")
    cf=$(ffprobe -v error -select_streams v:0 -count_packets -show_entries stream=nb_read_packets -of csv=p=0 "$work/cli.mp4")
    [ "$of" = "$cf" ] || echo "  frames differ: ours $of, cli $cf" >&2
  }
  echo "Five segments joined, 10 s each of 10 min 720p25 H.264 (machine: $(nproc) cores; load $(cut -d' ' -f1-3 /proc/loadavg))"
  pair_rows "Copy, 5 segments joined vs trim/concat x264 crf 16" 0.15 --copy -- \
    -c:v libx264 -preset veryfast -crf 16 -c:a aac -b:a 128k -movflags +faststart
  seg_post="scale=out_color_matrix=bt709:out_range=tv" pair_rows "MP4, 5 segments joined vs trim/concat x264 crf 23" 1.0 \
    --mp4 -- -c:v libx264 -preset veryfast -crf 23 \
    -pix_fmt yuv420p -color_primaries bt709 -color_trc bt709 -colorspace bt709 -color_range tv \
    -c:a aac -b:a 128k -movflags +faststart
  exit 0
fi
if [ -z "$only" ] || [ "$only" = copy ]; then
  # Same as source: a minute out of 90 s, starting between key frames. The
  # command line re-encodes the whole minute with the encoder and quality the
  # copy uses for the frames around its cut points (x264 veryfast CRF 16) and
  # copies the sound.
  echo "Same as source (--copy), 60 s from 13.4 s of 720p30 H.264 (machine: $(nproc) cores; load $(cut -d' ' -f1-3 /proc/loadavg)); peak memory target < 300 MB"
  copy_cli=(-c:v libx264 -preset veryfast -crf 16 -c:a copy -movflags +faststart)
  row_start=13.4 row_rate=30 web_rows "Copy 720p30, key frame every 1 s" 0.10 "$cache/copy_h264_720p30_key1s.mp4" \
    60 --copy -- "${copy_cli[@]}"
  row_start=13.4 row_rate=30 web_rows "Copy 720p30, key frame every 10 s" 0.40 "$cache/copy_h264_720p30_key10s.mp4" \
    60 --copy -- "${copy_cli[@]}"
fi
[ "$only" = copy ] && exit 0

# Animations: 10 s of the 720p source at 15 fps, 480 wide. The GIF beside the
# command line's two-pass palette pipeline (palettegen, then paletteuse, each
# decoding the source), the WebP beside ffmpeg -c:v libwebp_anim at the same
# rate, size and quality. FW_BENCH_ONLY=anim runs only these rows.
anim_rows() {  # label target ext ours-options... -- cli-script
  local label=$1 target=$2 ext=$3; shift 3
  local ours=() script
  while [ "$1" != -- ]; do ours+=("$1"); shift; done
  script=$2
  local ot=() ct=() om=() cm=() r t m
  for (( r = 0; r < rounds; r++ )); do
    for who in $([ $(( r % 2 )) -eq 0 ] && echo "cli ours" || echo "ours cli"); do
      if [ "$who" = cli ]; then
        read -r t m < <(measure bash -c "$script")
        ct+=("$t"); cm+=("$m")
      else
        read -r t m < <(measure "$fwmedia" render "$anim_src" "$work/ours.$ext" 0 250 "${ours[@]}")
        ot+=("$t"); om+=("$m")
      fi
    done
  done
  median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
  local omed cmed
  omed=$(median "${ot[@]}"); cmed=$(median "${ct[@]}")
  printf '%-44s ours %7.2fs  cli %7.2fs  ours/cli %sx (target <= %s)  peak ours %d MB  size ours %d kB cli %d kB\n' \
    "$label (10 s, $rounds rounds)" "$omed" "$cmed" "$(ratio "$omed" "$cmed")" "$target" \
    "$(( $(median "${om[@]}" | cut -d. -f1) / 1024 ))" "$(( $(stat -c %s "$work/ours.$ext") / 1000 ))" \
    "$(( $(stat -c %s "$work/cli.$ext") / 1000 ))"
  printf '    seconds: ours %s | cli %s\n' "${ot[*]}" "${ct[*]}"
}
if [ -z "$only" ] || [ "$only" = anim ]; then
  anim_src="$cache/conv_h264_720p_stereo.mp4"
  echo "Animations (machine: $(nproc) cores; load $(cut -d' ' -f1-3 /proc/loadavg))"
  anim_rows "GIF 720p to 480 wide at 15 fps" 0.8 gif --gif --fps 15 --width 480 -- \
    "ffmpeg -v error -y -t 10 -i '$anim_src' -vf 'fps=15,scale=480:270,palettegen=stats_mode=full' '$work/palette.png' &&
     ffmpeg -v error -y -t 10 -i '$anim_src' -i '$work/palette.png' -lavfi 'fps=15,scale=480:270[x];[x][1:v]paletteuse=dither=sierra2_4a' '$work/cli.gif'"
  anim_rows "WebP 720p to 480 wide at 15 fps, q 75" 1.0 webp --webp --fps 15 --width 480 -- \
    "ffmpeg -v error -y -t 10 -i '$anim_src' -vf 'fps=15,scale=480:270' -c:v libwebp_anim -quality 75 -loop 0 '$work/cli.webp'"
fi
[ "$only" = anim ] && exit 0

# The command line converts the colours as the engine does: the source's
# (untagged, BT.601) matrix to BT.709 pixels at video range, tagged BT.709.
bt709=(-pix_fmt yuv420p -color_primaries bt709 -color_trc bt709 -colorspace bt709 -color_range tv)
x264=(-c:v libx264 -preset veryfast -crf 23 "${bt709[@]}" -c:a aac -b:a 128k -movflags +faststart)
echo "MP4 and WebM (machine: $(nproc) cores; load $(cut -d' ' -f1-3 /proc/loadavg))"
web_rows "MP4 720p same size, x264 veryfast crf 23" 0.9 "$cache/conv_h264_720p_stereo.mp4" "$seconds" --mp4 -- \
  -vf "scale=out_color_matrix=bt709:out_range=tv" "${x264[@]}"
secs4k=$(( seconds < 20 ? seconds : 20 ))
web_rows "MP4 4K to 1280x720, x264 veryfast crf 23" 0.9 "$cache/conv_h264_2160p_stereo.mp4" "$secs4k" \
  --mp4 --width 1280 --height 720 -- -vf "scale=1280:720:out_color_matrix=bt709:out_range=tv" "${x264[@]}"
web_rows "WebM 720p to 640x360, VP9 crf 33 cpu-used 4" 1.0 "$cache/conv_h264_720p_stereo.mp4" "$seconds" \
  --webm --width 640 --height 360 -- -vf "scale=640:360:out_color_matrix=bt709:out_range=tv" \
  -c:v libvpx-vp9 -crf 33 -b:v 0 -deadline good -cpu-used 4 -row-mt 1 -tile-columns 1 -threads "$(nproc)" \
  "${bt709[@]}" -c:a libopus -b:a 96k -ar 48000
[ "$only" = web ] && exit 0

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
