#!/usr/bin/env bash
# Builds Qt 5.15 for 64-bit Windows (MinGW-w64, posix thread model) from
# Debian 12's own source packages and keeps the installed prefix in a cache
# outside the clone. The last line on stdout is the prefix's absolute path:
#
#   prefix=$(tools/windows/build-qt.sh | tail -n 1)
#
# A warm cache answers in well under a second and touches nothing. A cold one
# takes about an hour on two cores (nice'd); progress goes to stderr, the full
# logs to the scratch directory.
#
# What is built: from qtbase the libraries QtCore, QtGui, QtWidgets, QtSql,
# QtTest (with qtmain, the platform support and platform header modules), the
# plugins platforms/offscreen, platforms/minimal and sqldrivers/sqlite, and the
# host tools qmake, moc, rcc, uic, qlalr, tracegen (Linux programs); from
# qtdeclarative QtQml alone (QJSEngine); from qtcharts QtCharts. No OpenGL,
# no QtNetwork, no windows platform plugin (Debian strips the wintab and
# iaccessible2 sources it needs).
#
# The cache directory is
#   ${XDG_CACHE_HOME:-$HOME/.cache}/coagulation/qt-<version>-mingw-<key>
# where the key hashes the Debian source versions, the MinGW toolchain, and
# every option and target below: changing any of them builds a new prefix.
# A prefix counts only once its .complete stamp is written, last.
#
# Environment:
#   QT_MINGW_SCRATCH  where the sources are unpacked and built (about 2 GB,
#                     removed after a successful build; the logs stay)
#                     default: ${TMPDIR:-/var/tmp}/coagulation-qt-mingw
#   QT_MINGW_JOBS     parallel make jobs (default: nproc)
#
# Missing Debian packages are installed with apt-get (through sudo when not
# root). A deb-src entry for the configured Debian mirrors is added for the
# download and removed again on exit.
set -euo pipefail

# Debian source versions known to build. When the mirror no longer carries one
# (a newer security update replaced it), the newest available version is used
# instead and a warning says so; the key then changes with it.
declare -A PINNED=(
    [qtbase-opensource-src]=5.15.8+dfsg-11+deb12u3
    [qtdeclarative-opensource-src]=5.15.8+dfsg-3
    [qtcharts-opensource-src]=5.15.8-2
    [sqlite3]=3.40.1-2+deb12u2
)
SOURCE_PACKAGES=(qtbase-opensource-src qtdeclarative-opensource-src qtcharts-opensource-src sqlite3)

# Bump when the procedure below changes in a way the lists do not show.
RECIPE=1

# The MinGW toolchain: part of the key, needed to ask a warm cache.
TOOLCHAIN_PACKAGES=(g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix
    binutils-mingw-w64-x86-64 mingw-w64-x86-64-dev)
# Everything else a cold build needs on a bare Debian 12.
BUILD_PACKAGES=(g++ make perl python3 tcl dpkg-dev xz-utils ca-certificates)

TRIPLET=x86_64-w64-mingw32

qtbase_options() {
    local prefix=$1
    printf '%s\n' -xplatform win32-g++ -device-option CROSS_COMPILE=$TRIPLET- \
        -release -shared -opensource -confirm-license -nomake examples -nomake tests \
        -no-opengl -no-dbus -no-icu -qt-zlib -qt-libpng -qt-libjpeg -qt-pcre \
        -qt-freetype -qt-harfbuzz -sql-sqlite -qt-sqlite -no-sql-odbc -no-openssl \
        -no-feature-direct3d9 -no-feature-direct2d -prefix "$prefix"
}
# qmake sub-targets of qtbase/src. The host tools (bootstrap library, moc, rcc,
# tracegen, uic, qlalr) are built for Linux; qlalr is for qtdeclarative.
QTBASE_TARGETS=(zlib bootstrap moc rcc tracegen uic qlalr corelib winmain gui
    platformheaders platformsupport widgets sql testlib)
# Their build folders under src/, in the same order, for the installation.
QTBASE_DIRS=(tools/bootstrap tools/moc tools/rcc tools/tracegen tools/uic tools/qlalr
    corelib winmain gui platformheaders platformsupport widgets sql testlib)
# Folders under src/plugins/ built one by one: qmake on all of src/plugins
# fails without QtNetwork.
QTBASE_PLUGINS=(platforms/offscreen platforms/minimal sqldrivers)
# Debian patches taken back out before the build (none needed so far).
REVERTED_PATCHES=()
QTDECLARATIVE_OPTIONS=(-no-feature-qml-debug -no-feature-qml-network)
# Under qtdeclarative/src, in build order: the host tool registering the QML
# types, then QtQml.
QTDECLARATIVE_TARGETS=(qmltyperegistrar qml)
# Under qtcharts/src: QtCharts alone (the QML plugin needs QtQuick).
QTCHARTS_TARGETS=(charts)

. "$(dirname "$0")/../packages.sh"

as_root() {
    if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

say() { echo "$*" >&2; }

# --- the key ----------------------------------------------------------------

declare -A VERSIONS

compute_key() {
    local p
    {
        echo "recipe $RECIPE"
        for p in "${SOURCE_PACKAGES[@]}"; do echo "source $p ${VERSIONS[$p]}"; done
        "$TRIPLET-g++-posix" --version | head -n 1
        for p in "${TOOLCHAIN_PACKAGES[@]}"; do
            echo "toolchain $p $(dpkg-query -W -f='${Version}' "$p")"
        done
        echo "qtbase options:"
        qtbase_options PREFIX
        echo "qtbase targets: ${QTBASE_TARGETS[*]}"
        echo "qtbase plugins: ${QTBASE_PLUGINS[*]}"
        echo "reverted patches: ${REVERTED_PATCHES[*]}"
        echo "qtdeclarative options: ${QTDECLARATIVE_OPTIONS[*]}"
        echo "qtdeclarative targets: ${QTDECLARATIVE_TARGETS[*]}"
        echo "qtcharts targets: ${QTCHARTS_TARGETS[*]}"
    } >"$KEY_INPUT"
    KEY=$(sha256sum "$KEY_INPUT" | cut -c1-12)
    QT_VERSION=${VERSIONS[qtbase-opensource-src]%%+*}
    PREFIX=$CACHE_ROOT/qt-$QT_VERSION-mingw-$KEY
}

cached() {
    [ -f "$PREFIX/.complete" ] && [ -x "$PREFIX/bin/qmake" ]
}

# --- the deb-src entry --------------------------------------------------------

SRC_LIST_BASE=/etc/apt/sources.list.d/coagulation-qt-mingw-src
ADDED_LISTS=()

remove_source_lists() {
    local f
    for f in "${ADDED_LISTS[@]}"; do as_root rm -f "$f" || true; done
    ADDED_LISTS=()
}

# deb-src twins of the deb entries of the Debian sources (deb822 or one-line).
add_source_lists() {
    local deb822=/etc/apt/sources.list.d/debian.sources text
    if [ -f "$deb822" ]; then
        text=$(awk 'BEGIN { RS = ""; ORS = "\n\n" }
            {
                n = split($0, line, "\n"); out = ""; deb = 0; off = 0
                for (i = 1; i <= n; i++) {
                    if (line[i] ~ /^#/) continue
                    if (line[i] ~ /^Types:/) {
                        if (line[i] ~ /[: ]deb( |$)/) deb = 1
                        line[i] = "Types: deb-src"
                    }
                    if (line[i] ~ /^Enabled:[ \t]*no/) off = 1
                    out = out line[i] "\n"
                }
                if (deb && !off) printf "%s\n", out
            }' "$deb822")
        if [ -n "$text" ]; then
            ADDED_LISTS+=("$SRC_LIST_BASE.sources")
            printf '%s\n' "$text" | as_root tee "$SRC_LIST_BASE.sources" >/dev/null
        fi
    fi
    if [ -f /etc/apt/sources.list ]; then
        text=$(sed -n 's/^[[:space:]]*deb\([[:space:]]\)/deb-src\1/p' /etc/apt/sources.list)
        if [ -n "$text" ]; then
            ADDED_LISTS+=("$SRC_LIST_BASE.list")
            printf '%s\n' "$text" | as_root tee "$SRC_LIST_BASE.list" >/dev/null
        fi
    fi
    ((${#ADDED_LISTS[@]})) || {
        say "No deb entries in /etc/apt/sources.list.d/debian.sources or /etc/apt/sources.list"
        exit 1
    }
}

# The pinned version when the mirror has it, else the newest it has.
resolve_version() {
    local pkg=$1 pinned=${PINNED[$1]} v best=
    local available
    available=$(apt-cache showsrc --only-source "$pkg" 2>/dev/null | sed -n 's/^Version: //p')
    [ -n "$available" ] || { say "apt has no source package $pkg"; exit 1; }
    for v in $available; do
        [ "$v" != "$pinned" ] || { echo "$v"; return; }
        if [ -z "$best" ] || dpkg --compare-versions "$v" gt "$best"; then best=$v; fi
    done
    say "warning: $pkg $pinned is gone from the mirror, building $best instead (update PINNED)"
    echo "$best"
}

# --- phases -------------------------------------------------------------------

PHASE='' PHASE_START=0 TIMINGS=()

phase() {
    end_phase
    PHASE=$1 PHASE_START=$SECONDS
    say "== $1"
}

end_phase() {
    [ -n "$PHASE" ] || return 0
    TIMINGS+=("$PHASE $((SECONDS - PHASE_START))s")
    PHASE=
}

# run LOG COMMAND...: the command's output goes to LOG in the scratch logs; on
# failure the log's tail is shown and the script stops.
run() {
    local log=$LOGS/$1.log
    shift
    echo "+ $*" >>"$log"
    "$@" >>"$log" 2>&1 || {
        local rc=$?
        say "!! $PHASE failed (exit $rc): $*"
        say "!! last lines of $log:"
        tail -n 60 "$log" >&2
        say "!! the scratch tree is kept in $SCRATCH; running the script again resumes"
        exit 1
    }
}

build() {
    local jobs=${QT_MINGW_JOBS:-$(nproc 2>/dev/null || echo 2)}
    local make=(nice -n 10 make -j"$jobs")
    local src=$SCRATCH/src build=$SCRATCH/build
    mkdir -p "$SCRATCH" "$LOGS" "$src" "$build"

    # The CROSS_COMPILE names (x86_64-w64-mingw32-g++ ...) resolve to the posix
    # thread model whatever update-alternatives says; python is Debian's python3.
    local tools=$SCRATCH/toolbin t
    mkdir -p "$tools"
    for t in gcc g++ c++ cpp; do
        ln -sfn "/usr/bin/$TRIPLET-$t-posix" "$tools/$TRIPLET-$t"
    done
    ln -sfn /usr/bin/python3 "$tools/python"
    ln -sfn /usr/bin/python3 "$tools/python3"
    export PATH=$tools:$PATH

    phase "fetch sources"
    if [ ! -f "$SCRATCH/fetched" ]; then
        rm -rf "$src" "$SCRATCH/downloads"
        mkdir -p "$src" "$SCRATCH/downloads"
        local p v
        for p in "${SOURCE_PACKAGES[@]}"; do
            v=${VERSIONS[$p]}
            (cd "$SCRATCH/downloads" && run fetch apt-get source --download-only "$p=$v")
            # dpkg-source applies Debian's patch series, as apt-get source does.
            run fetch dpkg-source -x "$SCRATCH/downloads/${p}_${v#*:}.dsc" "$src/$p"
        done
        for p in "${REVERTED_PATCHES[@]}"; do
            run fetch patch -d "$src/qtbase-opensource-src" -R -p1 \
                -i "debian/patches/$p"
        done
        touch "$SCRATCH/fetched"
    fi
    remove_source_lists

    phase "sqlite amalgamation"
    local qtbase_src=$src/qtbase-opensource-src
    if [ ! -f "$qtbase_src/src/3rdparty/sqlite/sqlite3.c" ]; then
        # Debian strips the bundled SQLite from qtbase; Debian's own SQLite
        # source makes the amalgamation (its generators need tclsh).
        local sq=$src/sqlite3/bld
        rm -rf "$sq"
        mkdir -p "$sq"
        (cd "$sq" && run sqlite ../configure --disable-tcl && run sqlite make sqlite3.c)
        mkdir -p "$qtbase_src/src/3rdparty/sqlite"
        cp "$sq/sqlite3.c" "$sq/sqlite3.h" "$sq/sqlite3ext.h" "$qtbase_src/src/3rdparty/sqlite/"
    fi

    phase "configure qtbase"
    local qb=$build/qtbase
    if [ ! -f "$SCRATCH/configured" ]; then
        # A new configuration: nothing installed earlier may stay.
        rm -rf "$qb" "$PREFIX"
        mkdir -p "$qb"
        local options
        mapfile -t options < <(qtbase_options "$PREFIX")
        (cd "$qb" && run configure-qtbase nice -n 10 "$qtbase_src/configure" "${options[@]}")
        touch "$SCRATCH/configured"
    fi

    phase "build qtbase modules"
    # src/ alone: qmake on the whole tree would go into every plugin.
    mkdir -p "$qb/src"
    [ -f "$qb/src/Makefile" ] || (cd "$qb/src" &&
        run qtbase-modules "$qb/bin/qmake" -o Makefile "$qtbase_src/src/src.pro")
    run qtbase-modules "${make[@]}" -C "$qb/src" "${QTBASE_TARGETS[@]/#/sub-}"

    phase "build qtbase plugins"
    local plugin
    for plugin in "${QTBASE_PLUGINS[@]}"; do
        mkdir -p "$qb/src/plugins/$plugin"
        (cd "$qb/src/plugins/$plugin" &&
            run qtbase-plugins "$qb/bin/qmake" -o Makefile \
                "$qtbase_src/src/plugins/$plugin/${plugin##*/}.pro" &&
            run qtbase-plugins "${make[@]}")
    done

    phase "install qtbase"
    # Once everything is built: installing a module while others still build
    # makes the installation rebuild them.
    run install-qtbase make -C "$qb" install_mkspecs install_syncqt install_fixqt4headers
    (cd "$qb/qmake" &&
        run install-qtbase "$qb/bin/qmake" -o Makefile.qmake-aux "$qtbase_src/qmake/qmake-aux.pro" &&
        run install-qtbase make -f Makefile.qmake-aux install)
    local dir dirs=("${QTBASE_DIRS[@]}")
    for dir in "$qb"/src/3rdparty/*/; do dirs+=("3rdparty/$(basename "$dir")"); done
    dirs+=("${QTBASE_PLUGINS[@]/#/plugins/}")
    for dir in "${dirs[@]}"; do
        [ -f "$qb/src/$dir/Makefile" ] || continue
        run install-qtbase make -C "$qb/src/$dir" install
    done
    # The zlib header module (Makefile named after its project file).
    [ ! -f "$qb/src/corelib/Makefile.qtzlib" ] ||
        run install-qtbase make -C "$qb/src/corelib" -f Makefile.qtzlib install

    phase "build QtQml"
    local qd=$build/qtdeclarative qd_src=$src/qtdeclarative-opensource-src
    mkdir -p "$qd/src"
    [ -f "$qd/Makefile" ] || (cd "$qd" &&
        run qtqml "$PREFIX/bin/qmake" "$qd_src/qtdeclarative.pro" -- "${QTDECLARATIVE_OPTIONS[@]}")
    [ -f "$qd/src/Makefile" ] || (cd "$qd/src" &&
        run qtqml "$PREFIX/bin/qmake" -o Makefile "$qd_src/src/src.pro")
    local target
    for target in "${QTDECLARATIVE_TARGETS[@]}"; do
        run qtqml "${make[@]}" -C "$qd/src" "sub-$target"
    done
    for target in "${QTDECLARATIVE_TARGETS[@]}"; do
        run qtqml make -C "$qd/src/$target" install
    done

    phase "build QtCharts"
    local qc=$build/qtcharts qc_src=$src/qtcharts-opensource-src
    mkdir -p "$qc/src"
    [ -f "$qc/Makefile" ] || (cd "$qc" && run qtcharts "$PREFIX/bin/qmake" "$qc_src/qtcharts.pro")
    [ -f "$qc/src/Makefile" ] || (cd "$qc/src" &&
        run qtcharts "$PREFIX/bin/qmake" -o Makefile "$qc_src/src/src.pro")
    for target in "${QTCHARTS_TARGETS[@]}"; do
        run qtcharts "${make[@]}" -C "$qc/src" "sub-$target"
    done
    for target in "${QTCHARTS_TARGETS[@]}"; do
        run qtcharts make -C "$qc/src/$target" install
    done

    phase "finish"
    cp "$KEY_INPUT" "$PREFIX/build-key.txt"
    touch "$PREFIX/.complete"
    # The logs stay (a few MB); the sources and build trees go.
    rm -rf "$src" "$build" "$SCRATCH/downloads" "$tools" "$SCRATCH/fetched" "$SCRATCH/configured"
    end_phase
    say "== done in $((SECONDS - BUILD_START))s"
    printf '   %s\n' "${TIMINGS[@]}" >&2
    say "== logs: $LOGS"
}

main() {
    CACHE_ROOT=${XDG_CACHE_HOME:-$HOME/.cache}/coagulation
    mkdir -p "$CACHE_ROOT"
    KEY_INPUT=$(mktemp)
    trap 'rm -f "$KEY_INPUT"; remove_source_lists' EXIT

    ensure_packages "${TOOLCHAIN_PACKAGES[@]}"
    local p
    for p in "${SOURCE_PACKAGES[@]}"; do VERSIONS[$p]=${PINNED[$p]}; done
    compute_key
    if cached; then
        echo "$PREFIX"
        return 0
    fi

    # One build at a time; whoever waited may find it done.
    exec 9>"$CACHE_ROOT/.qt-mingw.lock"
    flock 9
    if cached; then
        echo "$PREFIX"
        return 0
    fi

    BUILD_START=$SECONDS
    phase "packages and source index"
    ensure_packages "${BUILD_PACKAGES[@]}"
    add_source_lists
    as_root flock "$APT_LOCK" apt-get update -qq >&2
    for p in "${SOURCE_PACKAGES[@]}"; do VERSIONS[$p]=$(resolve_version "$p"); done
    compute_key
    if cached; then
        end_phase
        echo "$PREFIX"
        return 0
    fi
    say "== building $PREFIX"
    SCRATCH=${QT_MINGW_SCRATCH:-${TMPDIR:-/var/tmp}/coagulation-qt-mingw}/$KEY
    LOGS=$SCRATCH/logs
    mkdir -p "$LOGS"
    build
    echo "$PREFIX"
}

main "$@"
exit
