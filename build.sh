#!/usr/bin/env bash
# The one entry point for building, running and checking the library.
#
#   ./build.sh demo     build and run the demo on a local installation it lays out
#   ./build.sh test     build and run every test (exit status non-zero on any failure)
#   ./build.sh sanitize the whole suite again under AddressSanitizer + UBSan
#   ./build.sh tsan     the threaded tests under ThreadSanitizer
#   ./build.sh fuzz [seconds]   each libFuzzer target for a bounded time (default 60 s)
#   ./build.sh bench    the benchmarks
#   ./build.sh editor   the settings editor (needs a display)
#
# Missing Debian packages are installed first (apt-get, through sudo when not
# root). Each mode keeps its own build directory and builds incrementally.
set -euo pipefail
cd "$(dirname "$0")"

BASE_PACKAGES=(cmake ninja-build g++ pkg-config qtbase5-dev qtscript5-dev libqt5sql5-sqlite
    qttools5-dev-tools qttools5-dev)

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
export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}

mode=${1:-test}
shift || true
case "$mode" in
demo)
    ensure_packages "${BASE_PACKAGES[@]}"
    configure build
    cmake --build build --target coagulation-demo -- -j"$jobs"
    ./build/examples/coagulation-demo "$@"
    ;;
test)
    ensure_packages "${BASE_PACKAGES[@]}"
    configure build
    cmake --build build -- -j"$jobs"
    ctest --test-dir build --output-on-failure -j"$jobs" "$@"
    ;;
sanitize)
    ensure_packages "${BASE_PACKAGES[@]}"
    configure build-asan -DCMAKE_BUILD_TYPE=Debug -DCOAGULATION_SANITIZERS=address,undefined \
        -DCOAGULATION_BUILD_EXAMPLES=OFF
    cmake --build build-asan -- -j"$jobs"
    ASAN_OPTIONS=halt_on_error=1:detect_leaks=1:abort_on_error=0 \
        UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
        LSAN_OPTIONS=suppressions=$PWD/coagulation/core/tests/lsan.supp \
        ctest --test-dir build-asan --output-on-failure -j"$jobs" "$@"
    ;;
*)
    echo "usage: $0 {demo|test|sanitize}" >&2
    exit 2
    ;;
esac
