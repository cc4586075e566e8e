#!/usr/bin/env bash
# The one entry point for building, running and checking the library. The
# build configurations are CMake presets (CMakePresets.json; `cmake
# --list-presets=all` lists them, and an IDE or `ctest --preset` uses them
# directly); this script installs the Debian packages each needs, configures,
# builds and runs them, and does what is no build: the fuzz loop, the kill
# harness, the Wine prefix, installing to a prefix, starting programs.
#
#   ./build.sh demo [dir]     the demo on an installation it lays out in dir
#                             (default build/demo-installation)
#   ./build.sh test [ctest arguments]
#                             every test (exit status non-zero on any failure)
#   ./build.sh sanitize       every test under AddressSanitizer + UBSan
#   ./build.sh tsan           the tests labelled "threads" under ThreadSanitizer
#   ./build.sh test-qt6, sanitize-qt6, tsan-qt6, bench-qt6, consumer-qt6
#                             the same against Qt 6 instead of Qt 5.15
#   ./build.sh test-qjs       every test, Qt 5.15 running scripts in QJSEngine
#                             (the script engine of the Windows build)
#   ./build.sh fuzz [seconds] each libFuzzer target for a bounded time (60 s)
#   ./build.sh faults [kills] the kill harness: a process of the application
#                             killed at random moments (200 kills)
#   ./build.sh bench          the benchmarks and their goals
#   ./build.sh docs           the API reference (Doxygen), warning-free or failing
#   ./build.sh consumer       the library alone installed to a prefix, and the results
#                             board (examples/resultsboard) built against it with
#                             CMake and pkg-config
#   ./build.sh package        Debian packages (CPack) of the library, its development
#                             files and the tools; then installs them on this
#                             machine (dpkg -i, through sudo when not root), builds
#                             the results board against them, runs it and removes
#                             them again
#   ./build.sh windows-sdk    the Windows SDK: a ZIP (CPack) of the MinGW-w64 build
#                             with Qt's and MinGW's DLLs; unpacked afresh, the
#                             results board is built against it and run under Wine
#                             on a site laid out by its set-up tool, and must print
#                             what the Linux board prints
#   ./build.sh windows [ctest arguments]
#                             the library and every test cross-built with MinGW-w64
#                             (Qt 5.15 built for it by tools/windows/build-qt.sh,
#                             cached) and run under Wine, the serial ones against
#                             pseudo-terminals; build-mingw/
#   ./build.sh editor [dir], viewer [dir]
#                             the settings editor, the curve viewer (need a display)
#
# Missing Debian packages are installed first (apt-get, through sudo when not
# root). Each configuration keeps its own build directory and builds
# incrementally.
set -euo pipefail
cd "$(dirname "$0")"

TOOL_PACKAGES=(cmake ninja-build g++ pkg-config)
QT5_PACKAGES=(qtbase5-dev qtscript5-dev libqt5sql5-sqlite qttools5-dev-tools qttools5-dev
    libqt5charts5-dev libqt5svg5-dev)
QT6_PACKAGES=(qt6-base-dev qt6-base-dev-tools qt6-declarative-dev qt6-5compat-dev qt6-tools-dev
    qt6-l10n-tools libqt6sql6-sqlite qt6-charts-dev qt6-svg-dev)
# What a person looks at: a font with Chinese glyphs (else every Chinese text
# is an empty box) and Qt's own texts in Chinese (the buttons of a box).
SHOW_PACKAGES=(fonts-wqy-microhei qttranslations5-l10n)
# Sanitizer reports name functions (and the suppression files match them)
# only with a symbolizer; clang does not bring one along.
SANITIZER_PACKAGES=(llvm-14)
CLANG_PACKAGES=(clang-14 libclang-rt-14-dev "${SANITIZER_PACKAGES[@]}")
SYMBOLIZER=/usr/lib/llvm-14/bin/llvm-symbolizer
# The cross compiler, Wine, and the host's lrelease for the translations.
WINDOWS_PACKAGES=(cmake ninja-build g++ g++-mingw-w64-x86-64-posix wine wine64
    qttools5-dev qttools5-dev-tools)

. tools/packages.sh

# configure <preset> [target...]: configures the preset's build directory
# (quick when nothing changed; a tool installed since is found now) and sets
# $dir to it. A directory that still lacks a target the mode builds is
# configured afresh: the docs target appears only once Doxygen is installed,
# and an install from the same directory may have turned the examples off.
configure() {
    local preset=$1 output
    shift
    if ! output=$(cmake --preset "$preset" 2>&1); then
        echo "$output" >&2
        exit 1
    fi
    dir=$(sed -n 's/^-- Build files have been written to: //p' <<<"$output" | tail -n 1)
    dir=${dir#"$PWD"/}
    has_targets "$dir" "$@" && return 0
    # --fresh: no value cached from another configuration may linger, nor a
    # compiler detected then. Objects whose command lines stay the same are
    # not rebuilt.
    cmake --preset "$preset" --fresh
    if ! has_targets "$dir" "$@"; then
        echo "$dir has no target $* after configuring; see the CMake output above" >&2
        exit 1
    fi
}

has_targets() {
    local dir=$1 target
    shift
    for target in "$@"; do
        ninja -C "$dir" -t query "$target" >/dev/null 2>&1 || return 1
    done
}

jobs=$(nproc 2>/dev/null || echo 2)

mode=${1:-test}
shift || true

# A mode ending in -qt6 uses the Qt 6 presets and packages; -qjs the Qt 5.15
# build with QJSEngine; every other mode Qt 5.15 with QtScript.
PACKAGES=("${TOOL_PACKAGES[@]}" "${QT5_PACKAGES[@]}")
variant=
case "$mode" in
*-qt6)
    mode=${mode%-qt6}
    variant=-qt6
    PACKAGES=("${TOOL_PACKAGES[@]}" "${QT6_PACKAGES[@]}")
    SHOW_PACKAGES=(fonts-wqy-microhei qt6-translations-l10n)
    ;;
*-qjs)
    mode=${mode%-qjs}
    variant=-qjs
    PACKAGES+=(qtdeclarative5-dev)
    ;;
esac
preset() {
    case "$1$variant" in
    test-qt6) echo qt6 ;;
    test-qjs) echo qjs ;;
    test) echo default ;;
    *) echo "$1$variant" ;;
    esac
}

case "$mode" in
demo)
    ensure_packages "${PACKAGES[@]}" "${SHOW_PACKAGES[@]}"
    configure default coagulation-demo
    cmake --build "$dir" --target coagulation-demo -- -j"$jobs"
    # The demo opens no window; it needs no display.
    QT_QPA_PLATFORM=offscreen "./$dir/examples/coagulation-demo" "${@:-build/demo-installation}"
    ;;
test | sanitize | tsan)
    extra=()
    [ "$mode" = test ] || extra=("${SANITIZER_PACKAGES[@]}")
    [ "$mode" != tsan ] || extra=("${CLANG_PACKAGES[@]}")
    ensure_packages "${PACKAGES[@]}" "${extra[@]}"
    name=$(preset "$mode")
    # The whole suite: the examples' tests as well as the library's (none
    # are built for ThreadSanitizer).
    targets=(tst_profile)
    [ "$mode" = tsan ] || targets+=(tst_demo)
    configure "$name" "${targets[@]}"
    cmake --build --preset "$name" -- -j"$jobs"
    ctest --preset "$name" -j"$jobs" "$@"
    ;;
fuzz)
    seconds=${1:-60}
    ensure_packages "${PACKAGES[@]}" "${CLANG_PACKAGES[@]}"
    configure fuzz
    cmake --build --preset fuzz -- -j"$jobs"
    for target in clotcurve resulttext fraction numbers storedvalue; do
        # New inputs go to a scratch corpus; the seeds in the repository stay as they are.
        # Absolute paths: a target may change its working directory.
        work=$PWD/$dir/corpus/$target
        mkdir -p "$work"
        log=$dir/fuzz_$target.log
        echo "== fuzz_$target for ${seconds}s"
        status=0
        ASAN_OPTIONS=halt_on_error=1:detect_leaks=1:external_symbolizer_path=$SYMBOLIZER \
            UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1:external_symbolizer_path=$SYMBOLIZER \
            LSAN_OPTIONS=suppressions=$PWD/coagulation/core/tests/lsan.supp \
            "./$dir/fuzz/fuzz_$target" -max_total_time="$seconds" -rss_limit_mb=2048 -malloc_limit_mb=64 \
            -artifact_prefix="$PWD/$dir/crash-$target-" -print_final_stats=1 \
            "$work" "$PWD/fuzz/corpus/$target" >"$log" 2>&1 || status=$?
        grep -E '^(Done [0-9]+ runs|stat::number_of_executed_units)' "$log" || true
        if [ "$status" -ne 0 ]; then
            tail -n 60 "$log"
            echo "fuzz_$target failed (exit status $status); inputs: $dir/crash-$target-*"
            exit 1
        fi
    done
    ;;
faults)
    ensure_packages "${PACKAGES[@]}"
    configure default tst_crashes
    cmake --build --preset default --target tst_crashes -- -j"$jobs"
    COAGULATION_KILLS=${1:-200} QT_QPA_PLATFORM=offscreen "./$dir/coagulation/core/tests/tst_crashes"
    ;;
bench)
    ensure_packages "${PACKAGES[@]}" libbenchmark-dev libboost-dev libsqlite3-dev python3
    name=$(preset bench)
    configure "$name" coagulation-bench coagulation-bench-curveplot
    cmake --build --preset "$name" --target coagulation-bench coagulation-bench-curveplot -- -j"$jobs"
    # Absolute output paths: the programs work in installations of their own.
    "./$dir/bench/coagulation-bench" --benchmark_out="$PWD/$dir/bench.json" \
        --benchmark_out_format=json "$@"
    QT_QPA_PLATFORM=offscreen "./$dir/bench/coagulation-bench-curveplot" \
        --benchmark_out="$PWD/$dir/bench-curveplot.json" --benchmark_out_format=json "$@"
    python3 bench/report.py "$dir/bench.json" "$dir/bench-curveplot.json"
    ;;
docs)
    # The tag files link Qt's classes to Qt's reference; qhelpgenerator makes the QCH.
    ensure_packages "${PACKAGES[@]}" doxygen qtbase5-doc-dev qhelpgenerator-qt5
    configure default docs
    cmake --build --preset docs
    echo "API reference: $dir/docs/html/index.html, $dir/docs/html/coagulation-core.qch"
    ;;
consumer)
    # The library alone, installed to a prefix; then the results board built
    # against that prefix only, with CMake and with pkg-config, on one site
    # laid out by the installed tool and one laid out by the program itself.
    ensure_packages "${PACKAGES[@]}" make
    name=library$variant
    configure "$name"
    cmake --build --preset "$name" -- -j"$jobs"
    work=$PWD/build-consumer$variant
    rm -rf "$work"
    cmake --install "$dir" --prefix "$work/prefix" --strip
    package=coagulation$variant
    pcdir=$(dirname "$(find "$work/prefix" -name "$package-core.pc" | head -n 1)")
    cmake -S examples/resultsboard -B "$work/cmake" -G Ninja -DCMAKE_PREFIX_PATH="$work/prefix" \
        -DCOAGULATION_QT_MAJOR="${variant:+6}${variant:-5}"
    cmake --build "$work/cmake"
    PKG_CONFIG_PATH=$pcdir make -s -B -C examples/resultsboard PACKAGE="$package-core" \
        OUT="$work/resultsboard-pkgconfig"
    "$work/prefix/bin/$package-setup" "$work/sites/from-tool"
    export QT_QPA_PLATFORM=offscreen
    echo "== CMake build, site laid out by $package-setup"
    "$work/cmake/resultsboard" "$work/sites/from-tool"
    echo "== pkg-config build, site laid out by the program"
    "$work/resultsboard-pkgconfig" "$work/sites/from-program"
    ;;
package)
    ensure_packages "${PACKAGES[@]}" doxygen qtbase5-doc-dev qhelpgenerator-qt5 dpkg-dev file make
    name=package$variant
    configure "$name" docs
    cmake --build --preset "$name" -- -j"$jobs"
    cmake --build --preset "$name" --target docs
    rm -f "$dir"/*.deb "$dir"/*.ddeb
    (cd "$dir" && cpack -G DEB)
    mapfile -t debs < <(ls "$dir"/*.deb)
    printf 'made %s\n' "${debs[@]}" "$dir"/*.ddeb
    # Installed as a user installs them, then used as an application team
    # uses them: the results board built with CMake and with pkg-config
    # against /usr alone.
    sudo=()
    [ "$(id -u)" -eq 0 ] || sudo=(sudo)
    mapfile -t names < <(for deb in "${debs[@]}"; do dpkg-deb -f "$deb" Package; done)
    trap '"${sudo[@]}" dpkg --purge "${names[@]}" >/dev/null' EXIT
    "${sudo[@]}" dpkg -i "${debs[@]}"
    package=coagulation$variant
    work=$PWD/build-package-check$variant
    rm -rf "$work"
    cmake -S examples/resultsboard -B "$work/cmake" -G Ninja \
        -DCOAGULATION_QT_MAJOR="${variant:+6}${variant:-5}"
    cmake --build "$work/cmake"
    make -s -B -C examples/resultsboard PACKAGE="$package-core" OUT="$work/resultsboard-pkgconfig"
    "$package-setup" "$work/site"
    export QT_QPA_PLATFORM=offscreen
    echo "== CMake build against the packages"
    "$work/cmake/resultsboard" "$work/site"
    echo "== pkg-config build against the packages"
    "$work/resultsboard-pkgconfig" "$work/site"
    ;;
windows-sdk)
    # The ZIP as a Windows team gets it, checked as CI does: unpacked into a
    # fresh folder, it is all the results board finds of the library and all
    # it runs on under Wine (wine-run then adds neither Qt's prefix nor the
    # compiler's runtime), so that a file it lacks fails the run.
    ensure_packages "${WINDOWS_PACKAGES[@]}" unzip
    COAGULATION_MINGW_QT=$(tools/windows/build-qt.sh | tail -n 1)
    export COAGULATION_MINGW_QT
    configure mingw-sdk
    cmake --build --preset mingw-sdk -- -j"$jobs"
    rm -f "$dir"/*.zip
    cpack --preset mingw-sdk
    zip=$(ls "$dir"/*.zip)
    work=$(mktemp -d)
    trap 'rm -rf "$work"' EXIT
    unzip -q "$zip" -d "$work/unpacked"
    sdk=$(ls -d "$work"/unpacked/*)
    # A team unpacks it anywhere: nothing a build reads may name this machine.
    if grep -rnF -e "$PWD" -e "$COAGULATION_MINGW_QT" -e /usr/ "$sdk/lib" "$sdk/include"; then
        echo "$zip names paths of the machine it was made on" >&2
        exit 1
    fi
    cmake -S examples/resultsboard -B "$work/board" -G Ninja \
        -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64-x86_64.cmake" -DCMAKE_PREFIX_PATH="$sdk"
    cmake --build "$work/board"
    run=(tools/windows/wine-run --prefix "$PWD/$dir/wine" --path "$sdk/bin")
    "${run[@]}" "$sdk"/bin/*-setup.exe "$work/site"
    "${run[@]}" "$work/board/resultsboard.exe" "$work/site" | tr -d '\r' >"$work/windows.txt"
    # The Linux board on a Linux site, from ./build.sh consumer.
    "$0" consumer >"$work/consumer.log" 2>"$work/consumer.err" ||
        { cat "$work/consumer.log" "$work/consumer.err"; exit 1; }
    sed -n '/^== CMake build/,/^== /{/^== /!p}' "$work/consumer.log" >"$work/linux.txt"
    echo "== results board under Wine against $(basename "$zip")"
    cat "$work/windows.txt"
    diff -u --label Linux --label Windows "$work/linux.txt" "$work/windows.txt"
    ls -l "$zip"
    ;;
windows)
    # The library, its tests and the examples cross-built with MinGW-w64
    # against Qt 5.15 built for it (tools/windows/build-qt.sh, which installs
    # what it needs and keeps the result).
    ensure_packages "${WINDOWS_PACKAGES[@]}"
    COAGULATION_MINGW_QT=$(tools/windows/build-qt.sh | tail -n 1)
    export COAGULATION_MINGW_QT
    # The serial tests' far ends: serialport-peer, a Linux program, serves
    # pseudo-terminals as COM ports of the Wine prefix.
    peer=build-mingw/peer
    [ -f $peer/build.ninja ] || cmake -S coagulation/core/tests/serialport -B $peer -G Ninja
    cmake --build $peer --target serialport-peer -- -j"$jobs"
    export COAGULATION_SERIAL_PEER=$PWD/$peer/serialport-peer
    configure mingw tst_serial tst_serialport
    cmake --build --preset mingw -- -j"$jobs"
    # The build's own Wine prefix. One wineserver for the whole run keeps each
    # program start short; it, the services and the desktop start here, so
    # that none of them holds a test's output open (see tools/windows/wine-run).
    export WINEPREFIX=$PWD/$dir/wine WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
    mkdir -p "$WINEPREFIX"
    if wineserver -p </dev/null >/dev/null 2>&1; then
        trap 'wineserver -k' EXIT
    fi
    wineboot -i </dev/null >/dev/null 2>&1
    # The users' language where this system has it: Windows' own messages
    # then come in Chinese.
    if locale -a 2>/dev/null | grep -qix 'zh_CN\.utf-\?8'; then
        export LC_ALL=zh_CN.UTF-8
    fi
    ctest --preset mingw -j"$jobs" --timeout 300 "$@"
    ;;
editor | viewer)
    ensure_packages "${PACKAGES[@]}" "${SHOW_PACKAGES[@]}"
    if [ "$mode" = editor ]; then
        program=settingseditor/coagulation-settings-editor site=build/editor-installation
    else
        program=curveviewer/coagulation-curve-viewer site=build/demo-installation
    fi
    configure default "${program#*/}"
    cmake --build --preset default --target "${program#*/}" -- -j"$jobs"
    "./$dir/examples/$program" "${1:-$site}" "${@:2}"
    ;;
screenshots)
    # The pictures of docs/tools.md, taken on a site outside the build tree
    # (where the programs find their installed translations), in Chinese and
    # in English, without a display.
    ensure_packages "${PACKAGES[@]}" "${SHOW_PACKAGES[@]}"
    programs=(coagulation-demo coagulation-curve-viewer coagulation-settings-editor)
    configure default "${programs[@]}"
    cmake --build --preset default --target "${programs[@]}" -- -j"$jobs"
    cmake --install "$dir" --prefix "$PWD/build-screenshots/prefix" --component tools >/dev/null
    cmake --install "$dir" --prefix "$PWD/build-screenshots/prefix" --component runtime >/dev/null
    export QT_QPA_PLATFORM=offscreen
    for language in zh_CN en; do
        site=$(mktemp -d)/site
        mkdir -p "$site"
        printf '[settings]\nlanguage=%s\n' "$language" >"$site/settings.ini"
        for run in 1 2 3; do
            "./$dir/examples/coagulation-demo" "$site" >/dev/null
        done
        suffix=${language/zh_CN/}
        suffix=${suffix:+-$suffix}
        prefix=build-screenshots/prefix/bin
        "$prefix/coagulation-curve-viewer" "$site" --screenshot "docs/curve-viewer$suffix.png"
        "$prefix/coagulation-settings-editor" "$site" --screenshot "docs/settings-editor$suffix.png"
        echo "docs/curve-viewer$suffix.png, docs/settings-editor$suffix.png ($language)"
        rm -rf "$(dirname "$site")"
    done
    ;;
*)
    echo "usage: $0 {demo|test|sanitize|tsan|test-qt6|sanitize-qt6|tsan-qt6|test-qjs|fuzz [seconds]|faults [kills]|bench|bench-qt6|docs|consumer|consumer-qt6|package|package-qt6|windows [ctest arguments]|windows-sdk|editor [dir]|viewer [dir]|screenshots}" >&2
    exit 2
    ;;
esac
