#!/usr/bin/env bash
# Builds the tool and the simulated D2XX library, puts them side by side in a
# scratch directory with two simulated FT232H at list positions 0 and 3 and
# an FT2232H, whose two channels take positions 1 and 2, and runs a few
# commands, as a user would.
set -euo pipefail

source_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$source_dir"
bash scripts/require_packages.sh "bash sim/demo.sh" cmake make g++
cmake --preset demo >/dev/null
cmake --build --preset demo >/dev/null

demo_dir=$(mktemp -d "${TMPDIR:-/tmp}/ft232h-demo-XXXXXX")
cp build/demo/app/ft232h_eeprom build/demo/sim/libftd2xx.so "$demo_dir/"
# The simulator reads its devices from this file beside itself and writes
# every change back, so each run sees what the previous one did.
cp sim/demo_state.txt "$demo_dir/ftd2xx_sim_state.txt"

# On a terminal the tool shows its Shift_JIS text in the terminal's own
# character set; into a pipe or file it writes the exact Shift_JIS bytes,
# which this demo turns into UTF-8 for reading.
show() {
    printf '\n$ ft232h_eeprom %s\n' "$*"
    if [ -t 1 ]; then
        "$demo_dir/ft232h_eeprom" "$@"
    else
        "$demo_dir/ft232h_eeprom" "$@" | iconv -f CP932 -t UTF-8 | tr -d '\r'
    fi
}

show
show -chk 3
show -set 3
show -chk 3
show -r 3
printf '\n$ cat ft232h_eeprom_no3.ini\n'
tr -d '\r' < "$demo_dir/ft232h_eeprom_no3.ini"
show -erase 1
show -x 0

rm -rf "$demo_dir"
