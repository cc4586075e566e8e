# Sourced by build.sh and tools/windows/build-qt.sh.
#
# ensure_packages PACKAGE...: installs the Debian packages that are missing
# (apt-get, through sudo when not root), reporting on the standard error so
# that a script's output stays its own. One apt-get at a time between the
# two scripts: CI builds Qt for Windows alongside everything else.
APT_LOCK=${TMPDIR:-/tmp}/coagulation-apt.lock

ensure_packages() {
    local missing=() p
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'ok installed' || missing+=("$p")
    done
    ((${#missing[@]})) || return 0
    local sudo=()
    [ "$(id -u)" -eq 0 ] || sudo=(sudo)
    echo "Installing: ${missing[*]}" >&2
    "${sudo[@]}" flock "$APT_LOCK" apt-get update -qq >&2
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" flock "$APT_LOCK" \
        apt-get install -y -qq --no-install-recommends "${missing[@]}" >&2
}
