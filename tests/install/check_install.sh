#!/usr/bin/env bash
# check_install.sh BUILD_DIR APP_ID VERSION
set -uo pipefail
build=$1 id=$2 version=$3

for tool in desktop-file-validate appstreamcli; do
  if ! command -v "$tool" >/dev/null; then
    echo "SKIPPED: $tool is missing (bash scripts/install-deps.sh installs it)"
    exit 77
  fi
done

stage=$(mktemp -d "${TMPDIR:-/tmp}/fw-install-XXXXXX")
trap 'rm -rf "$stage"' EXIT
fail=0
problem() { echo "FAIL: $*"; fail=1; }

if ! DESTDIR="$stage" cmake --install "$build" --prefix /usr >"$stage.log" 2>&1; then
  cat "$stage.log"; rm -f "$stage.log"
  problem "cmake --install failed"
  exit 1
fi
rm -f "$stage.log"
root=$stage/usr

for f in bin/framewhisk bin/fwmedia \
         share/applications/$id.desktop share/metainfo/$id.metainfo.xml \
         share/icons/hicolor/scalable/apps/$id.svg \
         share/icons/hicolor/16x16/apps/$id.png share/icons/hicolor/48x48/apps/$id.png \
         share/icons/hicolor/256x256/apps/$id.png \
         share/doc/framewhisk/help/index.html share/doc/framewhisk/help/toc.txt; do
  [ -f "$root/$f" ] || problem "not installed: $f"
done
[ -x "$root/bin/framewhisk" ] || problem "bin/framewhisk is not executable"

desktop=$root/share/applications/$id.desktop
desktop-file-validate "$desktop" || problem "desktop-file-validate: $desktop"
grep -q '^Exec=framewhisk %f$' "$desktop" || problem "the desktop file does not start framewhisk with %f"
grep -q '^MimeType=.*video/x-msvideo;' "$desktop" || problem "the desktop file names no movie types"

meta=$root/share/metainfo/$id.metainfo.xml
appstreamcli validate --no-net "$meta" || problem "appstreamcli validate: $meta"
grep -q "<release version=\"$version\"" "$meta" || problem "the metainfo file does not name version $version"
grep -q '<screenshot type="default">' "$meta" || problem "the metainfo file has no screenshot"

# The installed program answers --version without a window.
out=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$root/bin/framewhisk" --version 2>&1) || problem "framewhisk --version failed: $out"
case "$out" in *"$version"*) ;; *) problem "framewhisk --version printed: $out" ;; esac

[ "$fail" -eq 0 ] && echo "install check passed"
exit "$fail"
