#!/bin/bash
# The layer check on tiny trees: a sound tree passes; each case adds one bad
# include or link to it and the check must fail, naming that file and line.
# Usage: check_layers_catches.sh path/to/check-layers.py
set -u
check=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

# A sound tree: every edge the table allows, one of each kind.
sound_tree() {
    local t=$1
    mkdir -p "$t"/{media,platform,common,source,convert,capture,support,mru,help,resources,app/fwmedia}
    printf '#pragma once\n#include <cstdint>\n#include <quadmath.h>\n' > "$t/media/MediaTypes.h"
    printf '#include "media/MediaTypes.h"\n' > "$t/media/InputFile.cpp"
    printf '#pragma once\n#include <QString>\n' > "$t/platform/Hive.h"
    printf '#include "platform/Hive.h"\n#include "media/MediaTypes.h"\n' > "$t/common/MyCommonParams.h"
    printf '#include "common/MyCommonParams.h"\n' > "$t/source/MovieInfo.h"
    printf '#include "source/MovieInfo.h"\n#include "common/MyCommonParams.h"\n' > "$t/capture/CaptureBatch.cpp"
    printf '#include "common/MyCommonParams.h"\n#include "convert/RenderClip.h"\n' > "$t/convert/RenderClip.h"
    printf '#include "platform/Hive.h"\n' > "$t/mru/MruUnit.cpp"
    printf '#include "common/MyCommonParams.h"\n' > "$t/support/About.cpp"
    printf '#include "common/MyCommonParams.h"\n' > "$t/help/HelpViewer.cpp"
    printf '#include "capture/CaptureBatch.h"\n#include "convert/RenderClip.h"\n#include "media/MediaTypes.h"\n' > "$t/app/fwmedia/main.cpp"
    printf '#include "support/About.h"\n#include "mru/MruUnit.h"\n#include "help/HelpViewer.h"\n' > "$t/app/Main.cpp"
    printf 'add_library(fw_convert STATIC RenderClip.cpp)\ntarget_link_libraries(fw_convert PUBLIC fw_media fw_common Qt6::Core)\n' > "$t/convert/CMakeLists.txt"
    printf 'add_library(fw_help STATIC HelpBundle.cpp)\ntarget_link_libraries(fw_help PUBLIC fw_resources)\n' > "$t/help/CMakeLists.txt"
    printf 'target_sources(fw_app PRIVATE Main.cpp)\ntarget_link_libraries(fw_app PUBLIC fw_convert_ui fw_capture_ui)\nadd_executable(fwmedia fwmedia/main.cpp)\ntarget_link_libraries(fwmedia PRIVATE fw_convert)\n' > "$t/app/CMakeLists.txt"
    printf 'add_library(fw_media STATIC)\ntarget_link_libraries(fw_media PUBLIC Threads::Threads)\n' > "$t/CMakeLists.txt"
}

# expect_fail NAME FILE LINE-TO-APPEND MESSAGE-PART
expect_fail() {
    local name=$1 file=$2 line=$3 want=$4
    local t="$work/$name"
    sound_tree "$t"
    mkdir -p "$(dirname "$t/$file")"
    printf '%s\n' "$line" >> "$t/$file"
    local out rc
    out=$(python3 "$check" "$t" 2>&1); rc=$?
    if [ $rc -ne 1 ] || ! grep -qF -- "$want" <<<"$out"; then
        echo "FAIL $name: rc=$rc, expected a message with '$want'; got:"; echo "$out"
        failures=$((failures + 1))
    else
        echo "ok   $name: $(head -n1 <<<"$out")"
    fi
}

# The sound tree passes.
sound_tree "$work/sound"
if out=$(python3 "$check" "$work/sound" 2>&1); then
    echo "ok   sound tree passes"
else
    echo "FAIL sound tree: $out"; failures=$((failures + 1))
fi

expect_fail feature_includes_app   convert/RenderClip.h    '#include "app/OutputSettings.h"' 'convert/RenderClip.h:3: convert/ may not include app/'
expect_fail source_includes_app    source/MoviePreview.cpp '#include "app/Main.h"'           'source/MoviePreview.cpp:1: source/ may not include app/'
expect_fail peer_convert_capture   convert/Job.cpp         '#include "capture/CaptureCommands.h"' 'convert/Job.cpp:1: convert/ may not include capture/'
expect_fail peer_source_mru        source/Preview.cpp      '#include "mru/MruUnit.h"'        'source/ may not include mru/'
expect_fail common_includes_source common/Text.cpp         '#include "source/MovieInfo.h"'   'common/ may not include source/'
expect_fail media_includes_common  media/InputFile.cpp     '#include "common/DateTime.h"'    'media/InputFile.cpp:2: media/ may not include common/'
expect_fail platform_includes_media platform/Hive.cpp      '#include "media/MediaTypes.h"'   'platform/ may not include media/'
expect_fail media_includes_qt      media/InputFile.cpp     '#include <QString>'              'media/ includes a Qt header: QString'
expect_fail media_includes_qtcore  media/Scaler.h          '#  include <QtCore/QObject>'     'media/ includes a Qt header: QtCore/QObject'
expect_fail media_includes_qglobal media/Scaler.cpp        '#include <qglobal.h>'            'media/ includes a Qt header: qglobal.h'
expect_fail angle_bracket_upward   support/About.h         '#include <app/Main.h>'           'support/ may not include app/'
expect_fail include_without_folder convert/RenderClip.cpp  '#include "Main.h"'              'does not name its folder'
expect_fail cmake_link_upward      convert/CMakeLists.txt  'target_link_libraries(fw_convert_ui PUBLIC fw_support_ui)' 'fw_convert_ui (convert/) may not link fw_support_ui (support/)'
expect_fail cmake_adds_to_app      source/CMakeLists.txt   'target_sources(fw_app PRIVATE MoviePreview.cpp)' 'source/ adds to fw_app, a target of app/'
expect_fail cmake_top_level        CMakeLists.txt          'target_link_libraries(fw_platform PUBLIC fw_common)' 'fw_platform (platform/) may not link fw_common (common/)'

if [ $failures -ne 0 ]; then
    echo "$failures case(s) failed"
    exit 1
fi
echo "all cases passed"
