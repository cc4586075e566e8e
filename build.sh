#!/usr/bin/env bash
# The one entry point for building, running and checking the library.
#
#   ./build.sh demo [dir]   build and run the demo on an installation it lays out
#                           in dir (default build/demo-installation)
#   ./build.sh test     build and run every test (exit status non-zero on any failure)
#   ./build.sh sanitize the whole suite again under AddressSanitizer + UBSan
#   ./build.sh tsan     the threaded tests under ThreadSanitizer
#   ./build.sh test-qt6, sanitize-qt6, tsan-qt6, bench-qt6, consumer-qt6
#                       the same against Qt 6 instead of Qt 5.15
#   ./build.sh fuzz [seconds]   each libFuzzer target for a bounded time (default 60 s)
#   ./build.sh bench    the benchmarks
#   ./build.sh windows [case...]   the serial port layer cross-built with MinGW-w64
#                       and its tests run under Wine against pseudo-terminals
#   ./build.sh editor [dir] the settings editor (needs a display), on the
#                           installation in dir (default build/editor-installation)
#   ./build.sh docs     the API reference (Doxygen), warning-free or failing
#   ./build.sh consumer the library alone installed to a prefix, and the results board
#                       (examples/resultsboard) built against it with CMake and pkg-config
#   ./build.sh viewer [dir] the curve viewer (needs a display), on the
#                           installation in dir (default build/demo-installation)
#
# Missing Debian packages are installed first (apt-get, through sudo when not
# root). Each mode keeps its own build directory and builds incrementally.
set -euo pipefail
cd "$(dirname "$0")"

TOOL_PACKAGES=(cmake ninja-build g++ pkg-config)
QT5_PACKAGES=(qtbase5-dev qtscript5-dev libqt5sql5-sqlite qttools5-dev-tools qttools5-dev
    libqt5charts5-dev)
QT6_PACKAGES=(qt6-base-dev qt6-base-dev-tools qt6-declarative-dev qt6-5compat-dev qt6-tools-dev
    qt6-l10n-tools libqt6sql6-sqlite qt6-charts-dev)
# Sanitizer reports name functions (and the suppression files match them)
# only with a symbolizer; clang does not bring one along.
SANITIZER_PACKAGES=(llvm-14)
SYMBOLIZER=/usr/lib/llvm-14/bin/llvm-symbolizer
CLANG_PACKAGES=(clang-14 libclang-rt-14-dev "${SANITIZER_PACKAGES[@]}")
WINDOWS_PACKAGES=(cmake ninja-build g++ g++-mingw-w64-x86-64-posix wine wine64)

ensure_packages() {
    local missing=() p
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'ok installed' || missing+=("$p")
    done
    ((${#missing[@]})) || return 0
    local sudo=()
    [ "$(id -u)" -eq 0 ] || sudo=(sudo)
    echo "Installing: ${missing[*]}"
    "${sudo[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# configure <dir> [--target <name>]... [cmake args...]: configures a new
# directory, and configures afresh one that was configured with other
# arguments (they are kept in a stamp file there) or that lacks a target the
# mode builds (the docs target appears only once Doxygen is installed; an
# install from the same directory may have turned the examples off).
# Otherwise ninja re-runs cmake itself when a CMakeLists.txt changed.
configure() {
    local dir=$1
    shift
    local targets=()
    while [ "${1:-}" = --target ]; do
        targets+=("$2")
        shift 2
    done
    local stamp=$dir/build-sh-arguments arguments
    arguments=$(printf '%s\n' "$@")
    if [ -f "$dir/build.ninja" ] && [ -f "$stamp" ] && [ "$(cat "$stamp")" = "$arguments" ] \
        && has_targets "$dir" "${targets[@]}"; then
        return 0
    fi
    # --fresh: an option left out this time must not keep the value cached from
    # the last time, nor a compiler the one detected then. Objects whose
    # command lines stay the same are not rebuilt.
    local fresh=()
    [ ! -f "$dir/CMakeCache.txt" ] || fresh=(--fresh)
    rm -f "$stamp"
    cmake "${fresh[@]}" -S . -B "$dir" -G Ninja "$@"
    printf '%s\n' "$arguments" >"$stamp"
    if ! has_targets "$dir" "${targets[@]}"; then
        echo "$dir has no target ${targets[*]} after configuring; see the CMake output above" >&2
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

# A mode ending in -qt6 builds against Qt 6 in build directories of its own
# (build-qt6, build-asan-qt6, build-tsan-qt6); every other mode uses Qt 5.15.
BASE_PACKAGES=("${TOOL_PACKAGES[@]}" "${QT5_PACKAGES[@]}")
QT_ARGS=()
suffix=
case "$mode" in
test-qt6 | sanitize-qt6 | tsan-qt6 | consumer-qt6 | bench-qt6)
    mode=${mode%-qt6}
    suffix=-qt6
    BASE_PACKAGES=("${TOOL_PACKAGES[@]}" "${QT6_PACKAGES[@]}")
    QT_ARGS=(-DCOAGULATION_QT_MAJOR=6)
    ;;
esac

case "$mode" in
demo)
    ensure_packages "${BASE_PACKAGES[@]}"
    configure build --target coagulation-demo
    cmake --build build --target coagulation-demo -- -j"$jobs"
    # The demo opens no window; it needs no display.
    QT_QPA_PLATFORM=offscreen ./build/examples/coagulation-demo "${@:-build/demo-installation}"
    ;;
test)
    ensure_packages "${BASE_PACKAGES[@]}"
    dir=build$suffix
    # The whole suite: the examples' tests as well as the library's.
    configure "$dir" --target tst_profile --target tst_demo "${QT_ARGS[@]}"
    cmake --build "$dir" -- -j"$jobs"
    ctest --test-dir "$dir" --output-on-failure -j"$jobs" "$@"
    ;;
sanitize)
    ensure_packages "${BASE_PACKAGES[@]}" "${SANITIZER_PACKAGES[@]}"
    dir=build-asan$suffix
    configure "$dir" -DCMAKE_BUILD_TYPE=Debug -DCOAGULATION_SANITIZERS=address,undefined \
        "${QT_ARGS[@]}"
    cmake --build "$dir" -- -j"$jobs"
    ASAN_OPTIONS=halt_on_error=1:detect_leaks=1:abort_on_error=0:external_symbolizer_path=$SYMBOLIZER \
        UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1:external_symbolizer_path=$SYMBOLIZER \
        LSAN_OPTIONS=suppressions=$PWD/coagulation/core/tests/lsan.supp \
        ctest --test-dir "$dir" --output-on-failure -j"$jobs" "$@"
    ;;
tsan)
    ensure_packages "${BASE_PACKAGES[@]}" "${CLANG_PACKAGES[@]}"
    dir=build-tsan$suffix
    configure "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++-14 \
        -DCOAGULATION_SANITIZERS=thread -DCOAGULATION_BUILD_EXAMPLES=OFF "${QT_ARGS[@]}"
    cmake --build "$dir" -- -j"$jobs"
    TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 external_symbolizer_path=$SYMBOLIZER suppressions=$PWD/coagulation/core/tests/tsan.supp" \
        ctest --test-dir "$dir" --output-on-failure -L threads "$@"
    ;;
fuzz)
    seconds=${1:-60}
    ensure_packages "${BASE_PACKAGES[@]}" "${CLANG_PACKAGES[@]}"
    configure build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++-14 \
        -DCOAGULATION_BUILD_FUZZ=ON -DCOAGULATION_SANITIZERS=address,undefined \
        -DCOAGULATION_BUILD_TESTS=OFF -DCOAGULATION_BUILD_EXAMPLES=OFF
    cmake --build build-fuzz -- -j"$jobs"
    for target in clotcurve resulttext fraction numbers; do
        # New inputs go to a scratch corpus; the seeds in the repository stay as they are.
        # Absolute paths: a target may change its working directory.
        work=$PWD/build-fuzz/corpus/$target
        mkdir -p "$work"
        log=build-fuzz/fuzz_$target.log
        echo "== fuzz_$target for ${seconds}s"
        status=0
        ASAN_OPTIONS=halt_on_error=1:detect_leaks=1:external_symbolizer_path=$SYMBOLIZER \
            UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1:external_symbolizer_path=$SYMBOLIZER \
            LSAN_OPTIONS=suppressions=$PWD/coagulation/core/tests/lsan.supp \
            ./build-fuzz/fuzz/fuzz_$target -max_total_time="$seconds" -rss_limit_mb=2048 \
            -artifact_prefix="$PWD/build-fuzz/crash-$target-" -print_final_stats=1 \
            "$work" "$PWD/fuzz/corpus/$target" >"$log" 2>&1 || status=$?
        grep -E '^(Done [0-9]+ runs|stat::number_of_executed_units)' "$log" || true
        if [ "$status" -ne 0 ]; then
            tail -n 60 "$log"
            echo "fuzz_$target failed (exit status $status); inputs: build-fuzz/crash-$target-*"
            exit 1
        fi
    done
    ;;
bench)
    ensure_packages "${BASE_PACKAGES[@]}" libbenchmark-dev libboost-dev libsqlite3-dev python3
    dir=build-bench$suffix
    configure "$dir" -DCMAKE_BUILD_TYPE=Release -DCOAGULATION_BUILD_BENCH=ON \
        -DCOAGULATION_BUILD_TESTS=OFF -DCOAGULATION_BUILD_EXAMPLES=OFF "${QT_ARGS[@]}"
    cmake --build "$dir" --target coagulation-bench -- -j"$jobs"
    # Absolute output path: the program works in an installation of its own.
    "./$dir/bench/coagulation-bench" --benchmark_out="$PWD/$dir/bench.json" \
        --benchmark_out_format=json "$@"
    python3 bench/report.py < "$dir/bench.json"
    ;;
windows)
    ensure_packages "${WINDOWS_PACKAGES[@]}"
    # The port layer needs no Qt: the Linux build holds the far end of each
    # line (serialport-peer), the MinGW build is the program under test.
    layer=coagulation/core/tests/serialport
    [ -f build-windows/linux/build.ninja ] || cmake -S $layer -B build-windows/linux -G Ninja
    [ -f build-windows/mingw/build.ninja ] || cmake -S $layer -B build-windows/mingw -G Ninja \
        -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64-x86_64.cmake"
    cmake --build build-windows/linux --target serialport-peer -- -j"$jobs"
    cmake --build build-windows/mingw -- -j"$jobs"
    # A prefix of its own, no display, no Mono or Gecko installers; one
    # wineserver for the whole run keeps each program start short.
    export WINEPREFIX=$PWD/build-windows/wine WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
    mkdir -p "$WINEPREFIX"
    wineserver -p
    trap 'wineserver -k' EXIT
    wineboot -i >/dev/null 2>&1
    # The users' language: system messages come in Chinese.
    LC_ALL=zh_CN.UTF-8 ./build-windows/linux/serialport-peer wine build-windows/mingw/tst_serialport.exe "$@"
    ;;
editor)
    ensure_packages "${BASE_PACKAGES[@]}"
    configure build --target coagulation-settings-editor
    cmake --build build --target coagulation-settings-editor -- -j"$jobs"
    ./build/examples/settingseditor/coagulation-settings-editor "${@:-build/editor-installation}"
    ;;
consumer)
    # The library alone, installed to a prefix; then the results board built
    # against that prefix only, with CMake and with pkg-config, on one site
    # laid out by the installed tool and one laid out by the program itself.
    ensure_packages "${BASE_PACKAGES[@]}" make
    work=$PWD/build-consumer$suffix
    configure "$work/library" -DCOAGULATION_BUILD_TESTS=OFF -DCOAGULATION_BUILD_EXAMPLES=OFF \
        "${QT_ARGS[@]}"
    cmake --build "$work/library" -- -j"$jobs"
    rm -rf "$work/prefix" "$work/sites"
    cmake --install "$work/library" --prefix "$work/prefix"
    name=coagulation${suffix}
    pcdir=$(dirname "$(find "$work/prefix" -name "$name-core.pc" | head -n 1)")
    cmake -S examples/resultsboard -B "$work/cmake" -G Ninja -DCMAKE_PREFIX_PATH="$work/prefix" \
        -DCOAGULATION_QT_MAJOR="${suffix:+6}${suffix:-5}"
    cmake --build "$work/cmake"
    PKG_CONFIG_PATH=$pcdir make -s -B -C examples/resultsboard PACKAGE="$name-core" \
        OUT="$work/resultsboard-pkgconfig"
    "$work/prefix/bin/$name-setup" "$work/sites/from-tool"
    export QT_QPA_PLATFORM=offscreen
    echo "== CMake build, site laid out by $name-setup"
    "$work/cmake/resultsboard" "$work/sites/from-tool"
    echo "== pkg-config build, site laid out by the program"
    "$work/resultsboard-pkgconfig" "$work/sites/from-program"
    ;;
docs)
    ensure_packages "${BASE_PACKAGES[@]}" doxygen
    configure build --target docs
    cmake --build build --target docs
    echo "API reference: build/docs/html/index.html"
    ;;
viewer)
    ensure_packages "${BASE_PACKAGES[@]}"
    configure build --target coagulation-curve-viewer
    cmake --build build --target coagulation-curve-viewer -- -j"$jobs"
    ./build/examples/curveviewer/coagulation-curve-viewer "${@:-build/demo-installation}"
    ;;
*)
    echo "usage: $0 {demo|test|sanitize|tsan|test-qt6|sanitize-qt6|tsan-qt6|fuzz [seconds]|bench|windows|editor [dir]|viewer [dir]|docs|consumer|consumer-qt6|bench-qt6}" >&2
    exit 2
    ;;
esac
