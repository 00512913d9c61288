#!/usr/bin/env bash
# install.sh <build folder> <version>
set -uo pipefail
build=$1
version=$2
id=example.nerova.Portlark

missing=()
for tool in desktop-file-validate appstreamcli man groff; do
    command -v "$tool" >/dev/null || missing+=("$tool")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "SKIP: not installed: ${missing[*]} (scripts/setup.sh installs them)"
    exit 77
fi

prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
status=0
fail() {
    echo "FAIL: $*" >&2
    status=1
}

if ! cmake --install "$build" --prefix "$prefix" >"$prefix.log" 2>&1; then
    cat "$prefix.log" >&2
    fail "cmake --install failed"
fi
rm -f "$prefix.log"

sizes=(16 32 48 64 128 256)
expected=(bin/portlark share/portlark/Portlark.Hlp share/applications/$id.desktop
          share/metainfo/$id.metainfo.xml share/man/man1/portlark.1)
for s in "${sizes[@]}"; do expected+=("share/icons/hicolor/${s}x${s}/apps/portlark.png"); done
diff <(printf '%s\n' "${expected[@]}" | sort) <(cd "$prefix" && find . -type f -printf '%P\n' | sort) >&2 ||
    fail "the installed files are not the expected ones (< expected, > installed)"

# Each icon is a PNG of its folder's size (width and height from its header).
for s in "${sizes[@]}"; do
    png=$prefix/share/icons/hicolor/${s}x${s}/apps/portlark.png
    [ -f "$png" ] || continue
    read -r w1 w2 w3 w4 h1 h2 h3 h4 < <(od -An -tu1 -j16 -N8 "$png")
    w=$(((w1 << 24) | (w2 << 16) | (w3 << 8) | w4))
    h=$(((h1 << 24) | (h2 << 16) | (h3 << 8) | h4))
    [ "$(head -c 8 "$png" | od -An -tx1 | tr -d ' ')" = 89504e470d0a1a0a ] || fail "$png is not a PNG"
    [ "$w" -eq "$s" ] && [ "$h" -eq "$s" ] || fail "$png is ${w}x${h}, not ${s}x${s}"
done

# The installed program answers, and finds no build folder to lean on.
out=$("$prefix/bin/portlark" --version 2>&1)
[ "$out" = "portlark $version" ] || fail "bin/portlark --version printed: $out"

desktop=$prefix/share/applications/$id.desktop
out=$(desktop-file-validate "$desktop" 2>&1) || fail "desktop-file-validate failed"
[ -z "$out" ] || fail "desktop-file-validate: $out"
grep -qx 'Exec=portlark' "$desktop" || fail "the desktop entry does not start portlark"
grep -qx 'Icon=portlark' "$desktop" || fail "the desktop entry does not name the installed icon"
grep -qx 'Categories=Development;Electronics;' "$desktop" || fail "the desktop entry's categories"

metainfo=$prefix/share/metainfo/$id.metainfo.xml
appstreamcli validate --no-net "$metainfo" >&2 || fail "appstreamcli validate failed"
grep -q "<release version=\"$version\"" "$metainfo" || fail "the metainfo's release is not $version"
grep -q "<launchable type=\"desktop-id\">$id.desktop</launchable>" "$metainfo" ||
    fail "the metainfo does not launch the installed desktop entry"
grep -q '<screenshot type="default">' "$metainfo" || fail "the metainfo has no default screenshot"

# The manual page renders without a single warning, and names every option
# the program itself lists.
page=$prefix/share/man/man1/portlark.1
warnings=$(MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)
[ -z "$warnings" ] || fail "man --warnings: $warnings"
warnings=$(groff -man -ww -z "$page" 2>&1)
[ -z "$warnings" ] || fail "groff -ww: $warnings"
text=$(MANWIDTH=200 man -l "$page" 2>/dev/null)
for option in $("$prefix/bin/portlark" --help | grep -o -- '--[a-z][a-z-]*' | sort -u); do
    grep -q -- "$option" <<<"$text" || fail "the manual page does not document $option"
done
for topic in NerovaPortlark.ini '\[Settings\]' '\[Ports\]' COMModeString CommPort DTREnable RTSEnable Handshake \
             'XDG_CACHE_HOME/NerovaPortlark' "portlark $version"; do
    grep -q -- "$topic" <<<"$text" || fail "the manual page does not mention $topic"
done

[ $status -eq 0 ] && echo "install: all checks passed"
exit $status
