#!/usr/bin/env bash
# Builds the release archives of the checked-out commit twice, from two
# copies of it in two folders, one after the other, and compares them byte
# for byte: anyone who builds a commit again must get the published archive.
#
#   reproducible_archives.sh [PRESET...]    (default: release mingw64 mingw32)
#
# Prints the SHA-256 of each archive. The copies are clones of the commit, so
# uncommitted changes play no part. Each copy is configured without the test
# suites: the archive holds the tool and the README only, and building the
# simulator and the checks as well would only make this take longer.
set -euo pipefail

source_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
presets=("$@")
if [ ${#presets[@]} -eq 0 ]; then
    presets=(release mingw64 mingw32)
fi
commit=$(git -C "$source_dir" rev-parse HEAD)
work=$(mktemp -d "${TMPDIR:-/tmp}/ft232h-reproducible-XXXXXX")
trap 'rm -rf "$work"' EXIT

archive_name() {
    case $1 in
    release) echo "ft232h_eeprom-1.0.0-linux-$(uname -m).tar.gz" ;;
    mingw64) echo "ft232h_eeprom-1.0.0-win64.zip" ;;
    mingw32) echo "ft232h_eeprom-1.0.0-win32.zip" ;;
    *)
        echo "no release archive is made by the preset $1" >&2
        exit 2
        ;;
    esac
}

# The two copies differ in the folder's name and depth, and in when they
# are built.
copies=("$work/first" "$work/second/deeper")
for copy in "${copies[@]}"; do
    mkdir -p "$(dirname "$copy")"
    git clone --quiet --shared --no-checkout "$source_dir" "$copy"
    git -C "$copy" checkout --quiet --detach "$commit"
    for preset in "${presets[@]}"; do
        archive_name "$preset" >/dev/null
        (cd "$copy" && cmake --preset "$preset" -DFT232H_BUILD_TESTS=OFF >/dev/null &&
            cmake --build --preset "$preset" -j 2 --target package >/dev/null)
    done
    sleep 2
done

different=0
for preset in "${presets[@]}"; do
    name=$(archive_name "$preset")
    first="${copies[0]}/build/$preset/$name"
    second="${copies[1]}/build/$preset/$name"
    sha256sum "$first" | sed "s|  .*|  $name ($preset, first copy)|"
    sha256sum "$second" | sed "s|  .*|  $name ($preset, second copy)|"
    if ! cmp "$first" "$second"; then
        echo "FAILED: $name differs between the two builds of $commit"
        different=$((different + 1))
    fi
done
if [ "$different" -gt 0 ]; then
    exit 1
fi
echo "the ${#presets[@]} archives of $commit are the same in both builds"
