#!/bin/sh
# Fetches FTDI's Linux D2XX library and headers from the npm package
# ftdi-d2xx (which carries them as a static archive) and links the archive
# into libftd2xx.so, the file the tool loads.
#
#   fetch_vendor_d2xx.sh [--tarball FILE] OUTPUT_DIRECTORY [C++ COMPILER]
#
# OUTPUT_DIRECTORY receives libftd2xx.so and include/{ftd2xx.h,WinTypes.h}.
# It must be a build directory: the vendor's files are never committed.
# With --tarball, FILE takes the place of the download (a copy fetched
# before, for a machine without the registry).
# Any failure (no network, no npm, a changed package) stops with a non-zero
# status, so a suite that needs the library fails instead of passing unseen.
set -eu

package=ftdi-d2xx
version=1.3.1
# The tarball's hash as npm's registry and lockfiles record it
# (npm view ftdi-d2xx@1.3.1 dist.integrity). Whatever the registry, a mirror
# or a proxy hands out later, only these bytes are linked into a library
# that the tests then load and run.
integrity=sha512-Z5ylmoLym2VIpXt8P9A2qHg+asmUFPkv/fE67T1DGgN+59lzRPJk9+ZmuISU/voEbqYy6LnKMiYqxYDBTTzU4g==

given=
if [ "${1:-}" = --tarball ] && [ $# -ge 2 ]; then
    given=$2
    shift 2
fi
if [ $# -lt 1 ]; then
    echo "usage: $0 [--tarball FILE] OUTPUT_DIRECTORY [C++ COMPILER]" >&2
    exit 2
fi
output=$1
compiler=${2:-c++}

fail() {
    echo "fetch_vendor_d2xx: $*" >&2
    exit 1
}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT INT TERM

tarball="$work/$package-$version.tgz"
if [ -n "$given" ]; then
    cp "$given" "$tarball" || fail "cannot read $given"
else
    command -v npm >/dev/null 2>&1 || fail "npm is needed to fetch $package@$version"
    # npm pack downloads the package as a tarball without installing it (no
    # install scripts run).
    (cd "$work" && npm pack "$package@$version" >pack.log 2>&1) ||
        fail "npm pack $package@$version failed: $(cat "$work/pack.log")"
    [ -f "$tarball" ] || fail "npm pack did not produce $tarball"
fi

# Both sides in hexadecimal, with nothing beyond coreutils.
expected=$(printf '%s' "${integrity#sha512-}" | base64 -d | od -An -v -tx1 | tr -d ' \n')
actual=$(sha512sum "$tarball" | cut -d ' ' -f 1)
[ "$actual" = "$expected" ] ||
    fail "refusing the tarball of $package@$version: its sha512 is $actual, not the pinned $expected ($integrity)"

archive=package/lib/Linux/libftd2xx.a
tar -xzf "$tarball" -C "$work" "$archive" package/inc/ftd2xx.h package/inc/WinTypes.h ||
    fail "$package@$version no longer has $archive and its headers"

mkdir -p "$output/include"
cp "$work/package/inc/ftd2xx.h" "$work/package/inc/WinTypes.h" "$output/include/"

# The archive's objects go in whole: the library's entry points are found by
# name at run time, so nothing refers to them at link time.
"$compiler" -shared -o "$work/libftd2xx.so" \
    -Wl,--whole-archive "$work/$archive" -Wl,--no-whole-archive -lpthread -ldl -lrt ||
    fail "linking $archive into a shared library failed"
# Moved into place last, so an interrupted run never leaves a library that
# looks complete.
mv "$work/libftd2xx.so" "$output/libftd2xx.so"
echo "fetch_vendor_d2xx: $package@$version -> $output/libftd2xx.so"
