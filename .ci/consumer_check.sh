#!/bin/bash
# shellcheck disable=SC2015  # "a && b || fail": fail when either check fails
# What a user gets: the installed tree, the library as seen by a program of
# one's own (through CMake and through pkg-config), the two Debian packages
# as lintian sees them and as installed on this machine, and the manual
# pages. Runs as root on a fresh Debian machine (the packages are installed
# with dpkg and removed again). Everything is built as the README builds the
# packages: with packaging/debian/cache.cmake, hardened.
#
#   .ci/consumer_check.sh        build directory: build/consumer-check
#   LUMTAR_CHECK_DIR=dir .ci/consumer_check.sh
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${LUMTAR_CHECK_DIR:-$root/build/consumer-check}

missing=()
for pkg in cmake g++ make pkgconf groff-base man-db dpkg-dev file lintian; do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' || missing+=("$pkg")
done
if ((${#missing[@]})); then
    apt-get update
    DEBIAN_FRONTEND=noninteractive apt-get install -y "${missing[@]}"
fi

tmp=$(mktemp -d /tmp/lumtar-consumer.XXXXXX)
packages=(lumtar liblumlib-dev)
packages_installed=no
cleanup() {
    if [[ $packages_installed == yes ]]; then
        dpkg -r "${packages[@]}" >/dev/null || echo "warning: could not remove the packages ${packages[*]}" >&2
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

# The lines of a rendered page wider than 80 columns (wc -L counts a
# Japanese character as two).
wide_lines() {
    local line
    while IFS= read -r line; do
        (($(printf '%s' "$line" | LC_ALL=C.UTF-8 wc -L) <= 80)) || printf '  |%s\n' "$line"
    done
}

# A page renders within 80 columns, and the Japanese one puts no ASCII
# space after a full stop.
check_man_layout() {
    local page=$1 what=$2 text
    text=$(LC_ALL=C.UTF-8 MANWIDTH=80 man -l "$page" 2>/dev/null | col -bx)
    [[ -n $text ]] || fail "man -l renders $what"
    (($(LC_ALL=C.UTF-8 wc -L <<<"$text") <= 80)) \
        || fail "$what is wider than 80 columns at MANWIDTH=80:"$'\n'"$(wide_lines <<<"$text")"
    pass "within 80 columns at MANWIDTH=80: $what"
    if [[ $page == */ja/* ]]; then
        ! grep -n '。 ' <<<"$text" || fail "$what: an ASCII space after \"。\" on the lines above"
        pass "no ASCII space after \"。\": $what"
    fi
}

# Every file the manual-page checks look at, formatted in a UTF-8 locale;
# a page may be compressed, as installed.
check_man_page() {
    local page=$1 what=$2
    local groff_args=(-man -ww -z)
    [[ $page == */ja/* ]] && groff_args=(-k -Tutf8 -man -ww -z)
    # shellcheck disable=SC2016  # the inner shell expands them
    quiet "groff -ww: $what" bash -c 'zcat -f "$1" | groff "${@:2}"' bash "$page" "${groff_args[@]}"
    quiet "man --warnings: $what" env LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$page"
    quiet "NAME section readable by mandb: $what" lexgrog "$page"
    check_man_layout "$page" "$what"
}

echo "== manual pages in the source tree"
for page in "$root"/man/*.[13] "$root"/man/ja/*.1; do
    check_man_page "$page" "${page#"$root"/}"
done

echo "== Debian packages, made by the README's commands: one configure, one build, cpack"
# A fresh directory: an old cache would outweigh the initial cache, and a
# second configure would hide what the first one leaves out.
rm -rf "$build"
(cd "$root" && cmake -C packaging/debian/cache.cmake -S . -B "$build") >/dev/null
cmake --build "$build" -j2 >/dev/null
(cd "$build" && cpack -G DEB >/dev/null)

echo "== the same build, for installs under /usr/local and other prefixes"
cmake -DCMAKE_INSTALL_PREFIX=/usr/local -UCMAKE_INSTALL_LIBDIR -UCMAKE_INSTALL_INCLUDEDIR "$build" >/dev/null
cmake --build "$build" -j2 >/dev/null

echo "== install to a temporary prefix chosen at install time"
prefix=$tmp/prefix
cmake --install "$build" --prefix "$prefix" >/dev/null
(cd "$prefix" && find . -type f | sort) >"$tmp/installed.txt"
echo "installed files:"
sed 's/^/  /' "$tmp/installed.txt"
tool_files=(bin/lumtar share/man/man1/lumtar.1.gz share/man/ja/man1/lumtar.1.gz
    share/doc/lumtar/copyright share/doc/lumtar/changelog.gz)
dev_files=(lib/liblumlib.a include/lumlib/messages.h include/lumlib/memory.h include/lumlib/files.h
    include/lumlib/numbers.h include/lumlib/strings.h lib/cmake/lumlib/lumlibConfig.cmake
    lib/cmake/lumlib/lumlibConfigVersion.cmake lib/cmake/lumlib/lumlibTargets.cmake lib/pkgconfig/lumlib.pc
    share/man/man3/lumlib.3.gz share/man/man3/lumlib-strings.3.gz
    share/doc/liblumlib-dev/copyright share/doc/liblumlib-dev/changelog.gz)
for f in "${tool_files[@]}" "${dev_files[@]}"; do
    [[ -f $prefix/$f ]] || fail "installed: $f"
done
pass "installed tree holds the program, library, headers, CMake package, pkg-config file, manual pages and licence"
# The two components, one per package, together make the whole install.
for component in tool dev; do
    cmake --install "$build" --prefix "$tmp/component-$component" --component "$component" >/dev/null
    (cd "$tmp/component-$component" && find . -type f)
done | sort >"$tmp/components.txt"
cmp -s "$tmp/installed.txt" "$tmp/components.txt" \
    || fail "the components tool and dev hold the whole install: $(diff "$tmp/installed.txt" "$tmp/components.txt")"
for f in "${tool_files[@]}"; do [[ -f $tmp/component-tool/$f ]] || fail "component tool: $f"; done
for f in "${dev_files[@]}"; do [[ -f $tmp/component-dev/$f ]] || fail "component dev: $f"; done
pass "the components tool and dev split the install between them"
expect_equal "lumlib.pc names the licence" \
    "$(sed -n 's/^License: //p' "$prefix/lib/pkgconfig/lumlib.pc")" "MIT"
expect_equal "lumlib.pc names the install-time prefix" \
    "$(PKG_CONFIG_LIBDIR=$prefix/lib/pkgconfig pkg-config --variable=libdir lumlib)" "$prefix/lib"
expect_equal "lumlib.pc version" \
    "$(PKG_CONFIG_LIBDIR=$prefix/lib/pkgconfig pkg-config --modversion lumlib)" \
    "$(sed -n 's/^project(lumtar VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")"
run_consumers prefix "$prefix/lib/pkgconfig" "$prefix/lib/cmake/lumlib" -DCMAKE_PREFIX_PATH="$prefix"
expect_equal "man finds the installed lumtar(1)" \
    "$(MANPATH=$prefix/share/man man -w lumtar)" "$prefix/share/man/man1/lumtar.1.gz"
expect_equal "man finds the installed Japanese lumtar(1)" \
    "$(MANPATH=$prefix/share/man man -L ja -w lumtar)" "$prefix/share/man/ja/man1/lumtar.1.gz"
expect_equal "man finds the installed lumlib(3)" \
    "$(MANPATH=$prefix/share/man man -w 3 lumlib)" "$prefix/share/man/man3/lumlib.3.gz"

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

echo "== Debian packages"
[[ $(id -u) == 0 ]] || fail "installing the packages needs root"
debs=()
for package in "${packages[@]}"; do
    deb=$(ls "$build/${package}_"*.deb)
    debs+=("$deb")
    # The README's dpkg -i line names the files that cpack makes.
    grep -qF "build/deb/$(basename "$deb")" "$root/README.md" || fail "README.md names $(basename "$deb")"
done
pass "cpack -G DEB made $(cd "$build" && echo ./*.deb), the files the README installs"

# lintian: no error and no warning; informational and pedantic tags are
# shown with their explanation.
lintian_out=$(lintian --pedantic --display-info --info --fail-on error,warning "${debs[@]}" 2>&1) \
    || fail "lintian --pedantic:"$'\n'"$lintian_out"
printf '%s\n' "$lintian_out" | sed 's/^/  /'
pass "lintian --pedantic reports no error and no warning on either package"

# field VALUE: the value of a control field of a package.
field() { dpkg-deb -f "$1" "$2"; }
expect_equal "lumtar: Section" "$(field "${debs[0]}" Section)" utils
expect_equal "liblumlib-dev: Section" "$(field "${debs[1]}" Section)" libdevel
for deb in "${debs[@]}"; do
    name=$(field "$deb" Package)
    echo "$name:"
    dpkg-deb -f "$deb" Package Version Architecture Section Source Depends Suggests Maintainer | sed 's/^/  /'
    dpkg-deb -c "$deb" | sed 's/^/  /'
    [[ $(field "$deb" Source) == lumtar ]] || fail "$name: Source is lumtar"
    description=$(field "$deb" Description)
    # A synopsis and one paragraph, with no blank " ." line.
    (($(wc -l <<<"$description") > 2)) && ! grep -q '^ \.$' <<<"$description" \
        || fail "$name: a synopsis and one paragraph of description"
    pass "$name: Source and a one-paragraph description"
    dpkg-deb -x "$deb" "$tmp/deb-$name"
    doc=$tmp/deb-$name/usr/share/doc/$name
    cmp -s "$doc/copyright" "$build/copyright" || fail "$name: /usr/share/doc/$name/copyright"
    contact=$(sed -n 's/^Upstream-Contact: *//p' "$doc/copyright")
    [[ -n $contact ]] || fail "$name: the copyright file has an empty Upstream-Contact"
    expect_equal "$name: the copyright file's Upstream-Contact is the maintainer" "$contact" \
        "$(field "$deb" Maintainer)"
    grep -q '^Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/$' "$doc/copyright" \
        && grep -q '^License: Expat$' "$doc/copyright" || fail "$name: a machine-readable copyright file"
    zcat "$doc/changelog.gz" | cmp -s - "$root/packaging/debian/changelog" || fail "$name: changelog.gz"
    pass "$name: copyright (DEP-5, Expat) and changelog.gz"
    # gzip -9n: no file name and no time stamp (bytes 3 to 7 zero), best compression.
    for page in $(cd "$tmp/deb-$name" && find usr/share/man -type f | sort); do
        [[ $page == *.gz && $(od -An -tx1 -N9 "$tmp/deb-$name/$page" | tr -d ' \n') == 1f8b08000000000002 ]] \
            || fail "$name: $page is compressed with gzip -9n"
        check_man_page "$tmp/deb-$name/$page" "package $name: $page"
    done
done
dpkg-deb -f "${debs[1]}" Depends | grep -q '^libstdc++-[0-9]*-dev$' || fail "liblumlib-dev depends on the C++ library"
dpkg-deb -f "${debs[0]}" Depends | grep -q 'libc6' || fail "lumtar depends on the C library"
pass "dependencies: lumtar on what it links, liblumlib-dev on the C++ library"

# The program as the package holds it: stripped, and built with the
# hardening flags.
program=$tmp/deb-lumtar/usr/bin/lumtar
elf=$(file -b "$program"; readelf -hlSd "$program"; nm -D "$program")
grep -q ', stripped' <<<"$elf" || fail "the packaged lumtar is stripped"
grep -q 'Type:.*DYN' <<<"$elf" || fail "the packaged lumtar is a position-independent executable"
grep -q GNU_RELRO <<<"$elf" || fail "the packaged lumtar has a RELRO segment"
grep -q 'FLAGS_1.*NOW' <<<"$elf" || fail "the packaged lumtar binds every symbol at start"
grep -q ' U __stack_chk_fail' <<<"$elf" || fail "the packaged lumtar uses the stack protector"
grep -q ' U __[a-z]*_chk' <<<"$elf" || fail "the packaged lumtar calls fortified functions"
! grep -q '\.comment' <<<"$elf" || fail "the packaged lumtar keeps no .comment section"
pass "the packaged lumtar is stripped, PIE, RELRO with BIND_NOW, stack-protected and fortified"

dpkg -i "${debs[@]}" >/dev/null
packages_installed=yes
pass "dpkg -i $(basename "${debs[0]}") $(basename "${debs[1]}")"
for package in "${packages[@]}"; do
    dpkg -s "$package" | grep -q '^Status: install ok installed' || fail "$package: package status"
done
/usr/bin/lumtar -usage >"$tmp/usage.txt" || fail "lumtar -usage from the package"
grep -q '^Usage: lumtar \[-t\] \[-l <len>\] <keycode> <filenames>$' "$tmp/usage.txt" \
    || fail "lumtar -usage prints the usage line"
pass "lumtar -usage from the package ($(wc -l <"$tmp/usage.txt") lines)"
# The README's and the page's advice for a terminal without a locale: the
# C locale gives the stored Shift-JIS, C.UTF-8 gives UTF-8.
help_c=$(LC_ALL=C /usr/bin/lumtar -usage)
help_utf8=$(LC_ALL=C.UTF-8 /usr/bin/lumtar -usage)
! grep -q 'ファイル' <<<"$help_c" && grep -q 'ファイル' <<<"$help_utf8" \
    || fail "LC_ALL=C.UTF-8 lumtar -usage prints the Japanese help in UTF-8"
pass "LC_ALL=C.UTF-8 lumtar -usage prints the Japanese help in UTF-8"
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
    echo "skipped: man lookups of the installed packages (dpkg on this machine leaves manual pages out)"
else
    expect_equal "man finds lumtar(1) from the package" "$(man -w lumtar)" "/usr/share/man/man1/lumtar.1.gz"
    expect_equal "man finds the Japanese lumtar(1) from the package" "$(man -L ja -w lumtar)" \
        "/usr/share/man/ja/man1/lumtar.1.gz"
    expect_equal "man finds lumlib-strings(3) from the package" "$(man -w 3 lumlib-strings)" \
        "/usr/share/man/man3/lumlib-strings.3.gz"
fi

echo "consumer check: all $checks checks passed"
