#!/bin/bash
# What a user gets: the installed tree, the library as seen by a program of
# one's own (through CMake and through pkg-config), the Debian package on
# this machine, and the manual pages. Runs as root on a fresh Debian
# machine (the package is installed with dpkg and removed again).
#
#   .ci/consumer_check.sh        build directory: build/consumer-check
#   LUMTAR_CHECK_DIR=dir .ci/consumer_check.sh
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${LUMTAR_CHECK_DIR:-$root/build/consumer-check}

missing=()
for pkg in cmake g++ make pkgconf groff-base man-db dpkg-dev file; do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' || missing+=("$pkg")
done
if ((${#missing[@]})); then
    apt-get update
    DEBIAN_FRONTEND=noninteractive apt-get install -y "${missing[@]}"
fi

tmp=$(mktemp -d /tmp/lumtar-consumer.XXXXXX)
package_installed=no
cleanup() {
    if [[ $package_installed == yes ]]; then
        dpkg -r lumtar >/dev/null || echo "warning: could not remove the lumtar package" >&2
    fi
    rm -rf "$tmp"
}
trap cleanup EXIT

checks=0
pass() {
    checks=$((checks + 1))
    echo "ok: $*"
}
fail() {
    echo "FAILED: $*" >&2
    exit 1
}
# Runs a command that must succeed and print nothing on standard error.
quiet() {
    local what=$1
    shift
    local err
    err=$("$@" 2>&1 >/dev/null) || fail "$what (status $?): $err"
    [[ -z $err ]] || fail "$what: $err"
    pass "$what"
}
# Runs a consumer: it must end with status 0 and report what it checked.
consumer_runs() {
    local what=$1 program=$2 said
    said=$("$program" 2>&1) || fail "$what (status $?): $said"
    [[ $said == "size: 1,234,567 (as documented)" ]] || fail "$what: said '$said'"
    pass "$what"
}
expect_equal() {
    [[ $2 == "$3" ]] || fail "$1: got '$2', expected '$3'"
    pass "$1"
}

# The consumer lives outside the source tree, as a user's program would.
cp -r "$root/examples/consumer" "$tmp/consumer"

# run_consumers LABEL PKG_CONFIG_LIBDIR EXPECTED_lumlib_DIR CMAKE_ARGS...
# Builds the consumer with find_package and with pkg-config, and runs both.
# An empty PKG_CONFIG_LIBDIR leaves pkg-config to its own search path.
run_consumers() {
    local label=$1 pc_libdir=$2 expect_dir=$3
    shift 3
    local out=$tmp/consumer-$label
    rm -rf "$out"
    cmake -S "$tmp/consumer" -B "$out/cmake" -DCMAKE_CXX_FLAGS="-Wall -Wextra -Werror" "$@" >"$out.log" \
        || fail "$label: configure the consumer with find_package (see $out.log)"
    local found
    found=$(sed -n 's/^lumlib_DIR:[A-Z]*=//p' "$out/cmake/CMakeCache.txt")
    expect_equal "$label: find_package(lumlib) finds the installed package" "$found" "$expect_dir"
    cmake --build "$out/cmake" >>"$out.log" || fail "$label: build the consumer with find_package (see $out.log)"
    consumer_runs "$label: consumer built with find_package runs" "$out/cmake/consumer"

    local flags
    if [[ -n $pc_libdir ]]; then
        flags=$(PKG_CONFIG_LIBDIR=$pc_libdir pkg-config --cflags --libs lumlib)
    else
        flags=$(pkg-config --cflags --libs lumlib)
    fi || fail "$label: pkg-config finds lumlib"
    # shellcheck disable=SC2086  # the flags are words
    g++ -std=c++17 -Wall -Wextra -Werror -o "$out/consumer-pc" "$tmp/consumer/main.cpp" $flags \
        || fail "$label: build the consumer with pkg-config ($flags)"
    consumer_runs "$label: consumer built with pkg-config ($flags) runs" "$out/consumer-pc"
}

# Every file the manual-page checks look at, formatted in a UTF-8 locale.
check_man_page() {
    local page=$1 what=$2
    local groff_args=(-man -ww -z)
    [[ $page == */ja/* ]] && groff_args=(-k -Tutf8 -man -ww -z)
    quiet "groff -ww: $what" groff "${groff_args[@]}" "$page"
    quiet "man --warnings: $what" env LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$page"
    quiet "NAME section readable by mandb: $what" lexgrog "$page"
}

echo "== manual pages in the source tree"
for page in "$root"/man/*.[13] "$root"/man/ja/*.1; do
    check_man_page "$page" "${page#"$root"/}"
done

echo "== build"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF -DLUMTAR_BUILD_BENCHMARKS=OFF \
    -DCMAKE_INSTALL_PREFIX=/usr/local -UCMAKE_INSTALL_LIBDIR -UCMAKE_INSTALL_INCLUDEDIR >/dev/null
cmake --build "$build" -j2 --target lumtar lumlib >/dev/null

echo "== install to a temporary prefix chosen at install time"
prefix=$tmp/prefix
cmake --install "$build" --prefix "$prefix" >/dev/null
(cd "$prefix" && find . -type f | sort) >"$tmp/installed.txt"
echo "installed files:"
sed 's/^/  /' "$tmp/installed.txt"
for f in bin/lumtar lib/liblumlib.a include/lumlib/messages.h include/lumlib/memory.h include/lumlib/files.h \
    include/lumlib/numbers.h include/lumlib/strings.h lib/cmake/lumlib/lumlibConfig.cmake \
    lib/cmake/lumlib/lumlibConfigVersion.cmake lib/cmake/lumlib/lumlibTargets.cmake lib/pkgconfig/lumlib.pc \
    share/man/man1/lumtar.1 share/man/ja/man1/lumtar.1 share/man/man3/lumlib.3; do
    [[ -f $prefix/$f ]] || fail "installed: $f"
done
pass "installed tree holds the program, library, headers, CMake package, pkg-config file and manual pages"
expect_equal "lumlib.pc names the install-time prefix" \
    "$(PKG_CONFIG_LIBDIR=$prefix/lib/pkgconfig pkg-config --variable=libdir lumlib)" "$prefix/lib"
expect_equal "lumlib.pc version" \
    "$(PKG_CONFIG_LIBDIR=$prefix/lib/pkgconfig pkg-config --modversion lumlib)" \
    "$(sed -n 's/^project(lumtar VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")"
run_consumers prefix "$prefix/lib/pkgconfig" "$prefix/lib/cmake/lumlib" -DCMAKE_PREFIX_PATH="$prefix"
expect_equal "man finds the installed lumtar(1)" \
    "$(MANPATH=$prefix/share/man man -w lumtar)" "$prefix/share/man/man1/lumtar.1"
expect_equal "man finds the installed Japanese lumtar(1)" \
    "$(MANPATH=$prefix/share/man man -L ja -w lumtar)" "$prefix/share/man/ja/man1/lumtar.1"
expect_equal "man finds the installed lumlib(3)" \
    "$(MANPATH=$prefix/share/man man -w 3 lumlib)" "$prefix/share/man/man3/lumlib.3"

# The README's example must build and run against the installed library.
readme_example=$(awk '/^## Using the library/ { in_section = 1; next }
    in_section && /^## / { exit }
    in_section && /^```cpp/ { in_code = 1; next }
    in_code && /^```/ { exit }
    in_code { print }' "$root/README.md" 2>/dev/null || true)
if [[ -n $readme_example ]]; then
    printf '%s\n' "$readme_example" >"$tmp/readme_example.cpp"
    # shellcheck disable=SC2046  # the flags are words
    g++ -std=c++17 -Wall -Wextra -Werror -o "$tmp/readme_example" "$tmp/readme_example.cpp" \
        $(PKG_CONFIG_LIBDIR=$prefix/lib/pkgconfig pkg-config --cflags --libs lumlib) \
        || fail "the README's \"Using the library\" example builds"
    "$tmp/readme_example" >/dev/null 2>&1 || fail "the README's example runs"
    pass "the README's \"Using the library\" example builds and runs"
else
    echo "skipped: README.md has no \"Using the library\" example yet"
fi

echo "== install with absolute library and include directories"
absolute=$tmp/absolute
cmake "$build" -DCMAKE_INSTALL_PREFIX="$absolute" -DCMAKE_INSTALL_LIBDIR="$absolute/arch-lib" \
    -DCMAKE_INSTALL_INCLUDEDIR="$absolute/headers" >/dev/null
cmake --install "$build" >/dev/null
expect_equal "lumlib.pc keeps an absolute library directory" \
    "$(PKG_CONFIG_LIBDIR=$absolute/arch-lib/pkgconfig pkg-config --variable=libdir lumlib)" "$absolute/arch-lib"
expect_equal "lumlib.pc keeps an absolute include directory" \
    "$(PKG_CONFIG_LIBDIR=$absolute/arch-lib/pkgconfig pkg-config --variable=includedir lumlib)" \
    "$absolute/headers"
run_consumers absolute "$absolute/arch-lib/pkgconfig" "$absolute/arch-lib/cmake/lumlib" \
    -Dlumlib_DIR="$absolute/arch-lib/cmake/lumlib"

echo "== Debian package"
[[ $(id -u) == 0 ]] || fail "installing the package needs root"
cmake "$build" -DCMAKE_INSTALL_PREFIX=/usr -UCMAKE_INSTALL_LIBDIR -UCMAKE_INSTALL_INCLUDEDIR >/dev/null
(cd "$build" && rm -f lumtar_*.deb && cpack -G DEB >/dev/null)
deb=$(ls "$build"/lumtar_*.deb)
pass "cpack -G DEB made $(basename "$deb")"
dpkg-deb -f "$deb" Package Version Architecture Depends Maintainer | sed 's/^/  /'
dpkg-deb -x "$deb" "$tmp/deb"
for page in "$tmp"/deb/usr/share/man/man[13]/* "$tmp"/deb/usr/share/man/ja/man1/*; do
    check_man_page "$page" "package: ${page#"$tmp"/deb/}"
done
dpkg -i "$deb" >/dev/null
package_installed=yes
pass "dpkg -i $(basename "$deb")"
dpkg -s lumtar | grep -q '^Status: install ok installed' || fail "package status"
/usr/bin/lumtar -usage >"$tmp/usage.txt" || fail "lumtar -usage from the package"
grep -q '^Usage: lumtar \[-t\] \[-l <len>\] <keycode> <filenames>$' "$tmp/usage.txt" \
    || fail "lumtar -usage prints the usage line"
pass "lumtar -usage from the package ($(wc -l <"$tmp/usage.txt") lines)"
# Long enough that the enciphered first block cannot pass for text.
for i in 1 2 3 4 5 6 7 8; do printf 'Line %s of a plain text file, to be hidden.\n' "$i"; done >"$tmp/plain.txt"
cp "$tmp/plain.txt" "$tmp/work.txt"
/usr/bin/lumtar -t 'a key' "$tmp/work.txt"
cmp -s "$tmp/plain.txt" "$tmp/work.txt" && fail "the packaged lumtar changes a file"
/usr/bin/lumtar -t 'a key' "$tmp/work.txt"
cmp -s "$tmp/plain.txt" "$tmp/work.txt" || fail "the packaged lumtar turns a file back"
pass "the packaged lumtar enciphers a file and turns it back"
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
run_consumers system "" "/usr/lib/$multiarch/cmake/lumlib"
if grep -qs '^path-exclude.*/usr/share/man' /etc/dpkg/dpkg.cfg.d/*; then
    echo "skipped: man lookups of the installed package (dpkg on this machine leaves manual pages out)"
else
    expect_equal "man finds lumtar(1) from the package" "$(man -w lumtar)" "/usr/share/man/man1/lumtar.1"
    expect_equal "man finds the Japanese lumtar(1) from the package" "$(man -L ja -w lumtar)" \
        "/usr/share/man/ja/man1/lumtar.1"
    expect_equal "man finds lumlib-strings(3) from the package" "$(man -w 3 lumlib-strings)" \
        "/usr/share/man/man3/lumlib-strings.3"
fi

echo "consumer check: all $checks checks passed"
