#!/bin/bash
# The Windows zip as a user gets it: unpacked into an empty directory, a
# program of one's own built against it with mingw-w64 and nothing of the
# source tree, and run under Wine, as docs/windows.md says.
#
#   .ci/windows_zip_check.sh [ZIP]    default: the zip of build/windows
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
version=$(sed -n 's/^project(lumtar VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
zip=$(realpath "${1:-$root/build/windows/lumtar-$version-win64.zip}")

tmp=$(mktemp -d /tmp/lumtar-zip.XXXXXX)
# Wine as a user starts it: a prefix of its own, no display, and no offer
# to install Mono or Gecko.
export WINEPREFIX=$tmp/wine WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
cleanup() {
    wineserver -k 2>/dev/null || true
    rm -rf "$tmp"
}
trap cleanup EXIT
fail() {
    echo "FAILED: $*" >&2
    exit 1
}

mkdir "$tmp/unzipped"
(cd "$tmp/unzipped" && cmake -E tar xf "$zip") || fail "unzip $zip"
unzipped=$tmp/unzipped/lumtar-$version-win64
echo "the zip holds:"
(cd "$tmp/unzipped" && find . -type f | sort | sed 's/^/  /')

# The program lives outside the source tree, as a user's would.
cp -r "$root/examples/consumer" "$tmp/consumer"
build_on_zip() {
    cmake -S "$tmp/consumer" -B "$tmp/build" --toolchain "$unzipped/cmake/mingw-w64-x86_64.cmake" \
        -Dlumlib_DIR="$unzipped/lib/cmake/lumlib" -DCMAKE_CXX_FLAGS="-Wall -Wextra -Werror" &&
        cmake --build "$tmp/build"
}
build_on_zip >"$tmp/build.log" 2>&1 || fail "build a program on the zip alone:"$'\n'"$(cat "$tmp/build.log")"
echo "ok: a program builds on the zip alone"

# The prefix first, so that the program's output holds only its own words;
# every output goes to a file: a Wine helper that inherited a pipe would
# hold it open after the program ends.
wineboot -i >"$tmp/wineboot.log" 2>&1 || fail "wineboot: $(cat "$tmp/wineboot.log")"
wine "$tmp/build/consumer.exe" >"$tmp/said" 2>&1 || fail "the program under Wine (status $?): $(cat "$tmp/said")"
said=$(tr -d '\r' <"$tmp/said")
[[ $said == "size: 1,234,567 (as documented)" ]] || fail "the program under Wine said '$said'"
echo "ok: it runs under Wine: $said"
