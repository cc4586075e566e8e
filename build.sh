#!/usr/bin/env bash
# The one entry point for building, running and checking the library.
#
#   ./build.sh demo [dir]   build and run the demo on an installation it lays out
#                           in dir (default build/demo-installation)
#   ./build.sh test     build and run every test (exit status non-zero on any failure)
#   ./build.sh sanitize the whole suite again under AddressSanitizer + UBSan
#   ./build.sh tsan     the threaded tests under ThreadSanitizer
#   ./build.sh test-qt6, sanitize-qt6, tsan-qt6
#                       the same against Qt 6 instead of Qt 5.15 (the examples
#                       are not built there yet)
#   ./build.sh fuzz [seconds]   each libFuzzer target for a bounded time (default 60 s)
#   ./build.sh bench    the benchmarks
#   ./build.sh editor [dir] the settings editor (needs a display), on the
#                           installation in dir (default build/editor-installation)
#
# Missing Debian packages are installed first (apt-get, through sudo when not
# root). Each mode keeps its own build directory and builds incrementally.
set -euo pipefail
cd "$(dirname "$0")"

TOOL_PACKAGES=(cmake ninja-build g++ pkg-config)
QT5_PACKAGES=(qtbase5-dev qtscript5-dev libqt5sql5-sqlite qttools5-dev-tools qttools5-dev)
QT6_PACKAGES=(qt6-base-dev qt6-base-dev-tools qt6-declarative-dev qt6-5compat-dev qt6-tools-dev
    qt6-l10n-tools libqt6sql6-sqlite)

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

# configure <dir> [cmake args...]: configures once; later builds let ninja
# re-run cmake itself when a CMakeLists.txt changed.
configure() {
    local dir=$1
    shift
    [ -f "$dir/build.ninja" ] || cmake -S . -B "$dir" -G Ninja "$@"
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
test-qt6 | sanitize-qt6 | tsan-qt6)
    mode=${mode%-qt6}
    suffix=-qt6
    BASE_PACKAGES=("${TOOL_PACKAGES[@]}" "${QT6_PACKAGES[@]}")
    QT_ARGS=(-DCOAGULATION_QT_MAJOR=6 -DCOAGULATION_BUILD_EXAMPLES=OFF)
    ;;
esac

case "$mode" in
demo)
    ensure_packages "${BASE_PACKAGES[@]}"
    configure build
    cmake --build build --target coagulation-demo -- -j"$jobs"
    # The demo opens no window; it needs no display.
    QT_QPA_PLATFORM=offscreen ./build/examples/coagulation-demo "${@:-build/demo-installation}"
    ;;
test)
    ensure_packages "${BASE_PACKAGES[@]}"
    dir=build$suffix
    configure "$dir" "${QT_ARGS[@]}"
    cmake --build "$dir" -- -j"$jobs"
    ctest --test-dir "$dir" --output-on-failure -j"$jobs" "$@"
    ;;
sanitize)
    ensure_packages "${BASE_PACKAGES[@]}"
    dir=build-asan$suffix
    configure "$dir" -DCMAKE_BUILD_TYPE=Debug -DCOAGULATION_SANITIZERS=address,undefined \
        "${QT_ARGS[@]}"
    cmake --build "$dir" -- -j"$jobs"
    ASAN_OPTIONS=halt_on_error=1:detect_leaks=1:abort_on_error=0 \
        UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
        LSAN_OPTIONS=suppressions=$PWD/coagulation/core/tests/lsan.supp \
        ctest --test-dir "$dir" --output-on-failure -j"$jobs" "$@"
    ;;
tsan)
    ensure_packages "${BASE_PACKAGES[@]}" clang-14 libclang-rt-14-dev
    dir=build-tsan$suffix
    configure "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++-14 \
        -DCOAGULATION_SANITIZERS=thread -DCOAGULATION_BUILD_EXAMPLES=OFF "${QT_ARGS[@]}"
    cmake --build "$dir" -- -j"$jobs"
    TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$PWD/coagulation/core/tests/tsan.supp" \
        ctest --test-dir "$dir" --output-on-failure -L threads "$@"
    ;;
fuzz)
    seconds=${1:-60}
    ensure_packages "${BASE_PACKAGES[@]}" clang-14 libclang-rt-14-dev
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
        ASAN_OPTIONS=halt_on_error=1:detect_leaks=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
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
    configure build-bench -DCMAKE_BUILD_TYPE=Release -DCOAGULATION_BUILD_BENCH=ON \
        -DCOAGULATION_BUILD_TESTS=OFF -DCOAGULATION_BUILD_EXAMPLES=OFF
    cmake --build build-bench --target coagulation-bench -- -j"$jobs"
    # Absolute output path: the program works in an installation of its own.
    ./build-bench/bench/coagulation-bench --benchmark_out="$PWD/build-bench/bench.json" \
        --benchmark_out_format=json "$@"
    python3 bench/report.py < build-bench/bench.json
    ;;
editor)
    ensure_packages "${BASE_PACKAGES[@]}"
    configure build
    cmake --build build --target coagulation-settings-editor -- -j"$jobs"
    ./build/examples/settingseditor/coagulation-settings-editor "${@:-build/editor-installation}"
    ;;
*)
    echo "usage: $0 {demo|test|sanitize|tsan|test-qt6|sanitize-qt6|tsan-qt6|fuzz [seconds]|bench|editor [dir]}" >&2
    exit 2
    ;;
esac
