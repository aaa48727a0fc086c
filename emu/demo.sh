#!/usr/bin/env bash
# Builds the tool and ft232h_emu, fetches FTDI's own Linux D2XX library into
# the build directory, and runs a few commands as a user would: the tool,
# unchanged, with FTDI's library, against a virtual FT232H whose EEPROM is a
# 256-byte file. Installs what it needs when run as root (umockdev, its
# development files, pkg-config, npm and the compilers); otherwise it names
# what is missing and stops before building.
set -euo pipefail

source_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$source_dir"
bash scripts/require_packages.sh "bash emu/demo.sh" cmake make g++ pkg-config umockdev libumockdev-dev npm
cmake --preset emu >/dev/null
cmake --build --preset emu >/dev/null

# FTDI's library is fetched once per build directory and never committed.
library_dir=build/emu/ftdi
if [ ! -f "$library_dir/libftd2xx.so" ]; then
    sh scripts/fetch_vendor_d2xx.sh "$library_dir" >/dev/null
fi

demo_dir=$(mktemp -d "${TMPDIR:-/tmp}/ft232h-emu-demo-XXXXXX")
trap 'rm -rf "$demo_dir"' EXIT
cp build/emu/app/ft232h_eeprom "$library_dir/libftd2xx.so" "$demo_dir/"
emu=build/emu/emu/ft232h_emu
# A fresh chip: what FTDI's library programs with its defaults, with a
# serial number of our choosing.
"$emu" --factory-image "$demo_dir/chip0.bin" --serial FT6XK1QA

# Each run plugs the virtual chip in with the EEPROM file as it is, and
# writes the EEPROM back to the file when the tool has ended. On a terminal
# the tool shows its Shift_JIS text in the terminal's own character set;
# into a pipe it writes the exact Shift_JIS bytes, turned into UTF-8 here.
show() {
    printf '\n$ ft232h_eeprom %s\n' "$*"
    if [ -t 1 ]; then
        (cd "$demo_dir" && "$source_dir/$emu" --device "type=ft232h,image=chip0.bin" -- ./ft232h_eeprom "$@")
    else
        (cd "$demo_dir" && "$source_dir/$emu" --device "type=ft232h,image=chip0.bin" -- ./ft232h_eeprom "$@") |
            iconv -f CP932 -t UTF-8 | tr -d '\r'
    fi
}

show
show -chk 0
show -set 0
show -chk 0
show -r 0
printf '\n$ cat ft232h_eeprom_no0.ini\n'
tr -d '\r' < "$demo_dir/ft232h_eeprom_no0.ini"
show -erase 0
printf '\n$ od -An -tx1 -v chip0.bin | sort -u      # the EEPROM file after -erase\n'
od -An -tx1 -v "$demo_dir/chip0.bin" | sort -u
show -init 0
show
