#!/usr/bin/env bash
# Checks or fixes the formatting of the project's C++ files with clang-format
# 14 and the repository's .clang-format. Installs clang-format when missing
# (Debian 12).
#
#   scripts/format.sh check   lists the files that are not formatted and fails
#                             when there is any (the default)
#   scripts/format.sh fix     formats them in place
set -euo pipefail

mode=${1:-check}
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/common.sh"
install_missing clang-format-14
cd "$root"

mapfile -t files < <(git ls-files '*.cpp' '*.h')
case "$mode" in
check)
    bad=()
    for f in "${files[@]}"; do
        clang-format-14 --style=file "$f" | cmp -s - "$f" || bad+=("$f")
    done
    if [ ${#bad[@]} -gt 0 ]; then
        printf 'not formatted: %s\n' "${bad[@]}"
        echo "run scripts/format.sh fix" >&2
        exit 1
    fi
    echo "all ${#files[@]} files formatted"
    ;;
fix)
    clang-format-14 --style=file -i "${files[@]}"
    ;;
*)
    echo "usage: $0 check|fix" >&2
    exit 2
    ;;
esac
