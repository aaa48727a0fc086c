#!/bin/sh
# A package laid out as ftdi-d2xx is but holding other bytes (an empty
# library archive) must be refused by the fetch script for its hash, before
# anything of it is linked.
#
#   refuses_unpinned_package.sh FETCH_SCRIPT WORK_DIRECTORY
set -eu
fetch=$1
work=$2

rm -rf "$work"
mkdir -p "$work/package/lib/Linux" "$work/package/inc"
printf '!<arch>\n' >"$work/package/lib/Linux/libftd2xx.a"
: >"$work/package/inc/ftd2xx.h"
: >"$work/package/inc/WinTypes.h"
(cd "$work" && tar -czf ftdi-d2xx-1.3.1.tgz package)

if sh "$fetch" --tarball "$work/ftdi-d2xx-1.3.1.tgz" "$work/output" 2>"$work/errors.txt"; then
    echo "a package other than the pinned one was taken"
    exit 1
fi
if ! grep -q "refusing the tarball of ftdi-d2xx@1.3.1: its sha512 is" "$work/errors.txt"; then
    echo "refused, but not for its hash:"
    cat "$work/errors.txt"
    exit 1
fi
if [ -e "$work/output/libftd2xx.so" ]; then
    echo "refused, but the library was made anyway"
    exit 1
fi
cat "$work/errors.txt"
