#!/usr/bin/env bash
# package.sh <build folder> <version>
# Builds the .deb, installs it on this machine as a user would, runs the
# installed program, finds its manual page, purges it, and checks that no
# file of it is left and that the set of installed packages is as before.
set -uo pipefail
build=$1
version=$2

if [ "$(id -u)" -ne 0 ]; then
    echo "SKIP: installing a package needs root"
    exit 77
fi
if dpkg-query -W -f='${Status}' portlark 2>/dev/null | grep -q 'ok installed'; then
    echo "SKIP: portlark is installed on this machine already; leaving it alone"
    exit 77
fi
for tool in cpack dpkg-shlibdeps apt-get man; do
    command -v "$tool" >/dev/null || { echo "FAIL: $tool is missing (scripts/setup.sh installs it)" >&2; exit 1; }
done

work=$(mktemp -d)
installed=0
apt_opts=(-y -q --no-install-recommends -o DPkg::Lock::Timeout=300)
cleanup() {
    [ $installed -eq 1 ] && DEBIAN_FRONTEND=noninteractive apt-get remove --purge "${apt_opts[@]}" portlark >/dev/null 2>&1
    rm -rf "$work"
}
trap cleanup EXIT
status=0
fail() {
    echo "FAIL: $*" >&2
    status=1
}
packages() { dpkg-query -W -f='${Package} ${Version} ${Status}\n' | sort; }

if ! cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work" >"$work/cpack.log" 2>&1; then
    cat "$work/cpack.log" >&2
    echo "FAIL: cpack failed" >&2
    exit 1
fi
deb=$work/portlark_${version}_amd64.deb
[ -f "$deb" ] || { echo "FAIL: no $deb; cpack made: $(ls "$work")" >&2; exit 1; }

# The dependencies are the ones dpkg-shlibdeps read from the program.
depends=$(dpkg-deb -f "$deb" Depends)
for lib in libqt6core6 libqt6gui6 libqt6widgets6 libqt6serialport6 libc6 libstdc++6; do
    grep -q "\b$lib\b" <<<"$depends" || fail "Depends does not name $lib: $depends"
done
[ "$(dpkg-deb -f "$deb" Section)" = electronics ] || fail "Section is not electronics"
[ -n "$(dpkg-deb -f "$deb" Maintainer)" ] || fail "no Maintainer"
[ -n "$(dpkg-deb -f "$deb" Description)" ] || fail "no Description"

before=$(packages)
if ! DEBIAN_FRONTEND=noninteractive apt-get install "${apt_opts[@]}" "$deb" >"$work/apt.log" 2>&1; then
    cat "$work/apt.log" >&2
    echo "FAIL: apt-get install failed" >&2
    exit 1
fi
installed=1
# Only the package itself came in: everything it needs was already here.
diff <(echo "$before") <(packages | grep -v '^portlark ') >&2 || fail "installing brought in other packages"

out=$(/usr/bin/portlark --version 2>&1)
[ "$out" = "portlark $version" ] || fail "/usr/bin/portlark --version printed: $out"
page=$(man -w portlark 2>&1)
[ "$page" = /usr/share/man/man1/portlark.1 ] || fail "man -w portlark gave: $page"
mapfile -t files < <(dpkg -L portlark)
for f in /usr/bin/portlark /usr/share/portlark/Portlark.Hlp /usr/share/applications/example.nerova.Portlark.desktop \
         /usr/share/metainfo/example.nerova.Portlark.metainfo.xml /usr/share/icons/hicolor/256x256/apps/portlark.png; do
    [ -f "$f" ] || fail "$f is not installed"
done

if ! DEBIAN_FRONTEND=noninteractive apt-get remove --purge "${apt_opts[@]}" portlark >"$work/apt.log" 2>&1; then
    cat "$work/apt.log" >&2
    fail "apt-get remove --purge failed"
fi
installed=0
dpkg-query -W -f='${Status}' portlark 2>/dev/null | grep -q 'ok installed' && fail "portlark is still installed"
for f in "${files[@]}"; do
    [ "$f" = /. ] && continue
    # A folder other packages share (/usr/share/man/man1) stays, as it should;
    # a file, or a folder no package owns any more, must be gone.
    if [ -d "$f" ] && [ ! -L "$f" ]; then
        dpkg -S "$f" >/dev/null 2>&1 || fail "the folder $f was left behind"
    elif [ -e "$f" ] || [ -L "$f" ]; then
        fail "$f was left behind"
    fi
done
diff <(echo "$before") <(packages) >&2 || fail "the installed packages differ from before"

[ $status -eq 0 ] && echo "package: $(basename "$deb") installed, ran and purged cleanly"
exit $status
