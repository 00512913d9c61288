# Shared by the set-up scripts (sourced, not run).

# Installs the Debian packages among the arguments that are not installed yet,
# after one `apt-get update`; nothing at all when every one is there.
install_missing() {
    local missing=()
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    local sudo=""
    [ "$(id -u)" -ne 0 ] && sudo=sudo
    $sudo apt-get update -q
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
}

# ON under CI (CI=true, as CI services and .ci/run set it): there any compiler
# warning fails the build. OFF elsewhere, so that a newer compiler's new
# warning does not stop someone from building.
werror() {
    if [ "${CI:-}" = true ]; then echo ON; else echo OFF; fi
}
