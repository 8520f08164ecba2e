#!/usr/bin/env bash
# Runs one program (and the programs it starts, but for the ffmpeg tools)
# under valgrind memcheck. Any invalid read or write, use of uninitialised
# memory or bad free fails the run (exit 97); leaks are not counted here (the
# sanitizer build checks our own).
#
# libhwy (loaded through libjxl by libavcodec) probes the time stamp counter
# with RDTSCP at load time. valgrind's simulated processor announces RDTSCP
# even where the real one lacks it, and the program then dies with SIGILL
# before main. A copy of the library with RDTSCP replaced by RDTSC (the code
# only uses the counter) is put on LD_LIBRARY_PATH for the run.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
cache=${FW_MEMCHECK_LIBS:-${TMPDIR:-/tmp}/framewhisk-memcheck-libs}
mkdir -p "$cache"
hwy=$( (ldconfig -p 2>/dev/null || true) | awk '/libhwy\.so\.1 .*x86-64/ {print $NF}' | head -n 1 || true)
if [ -n "$hwy" ] && [ ! -e "$cache/libhwy.so.1" ]; then
  python3 "$here/patch-rdtscp.py" "$hwy" "$cache/libhwy.so.1.tmp.$$" && mv -f "$cache/libhwy.so.1.tmp.$$" "$cache/libhwy.so.1"
fi

export LD_LIBRARY_PATH="$cache${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}"
exec valgrind --tool=memcheck --error-exitcode=97 --leak-check=no --track-origins=no \
  --trace-children=yes --trace-children-skip='*/ffmpeg,*/ffprobe,*/mediainfo,*/gst-*,*/xdg-*' \
  --suppressions="$here/memcheck.supp" --gen-suppressions=all -q "$@"
