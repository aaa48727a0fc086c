#!/usr/bin/env bash
# Runs the tool once under valgrind's memcheck, beside the simulated D2XX
# library in a directory of its own, and fails on any memory error or
# definite leak, or on an exit status other than 0.
#
#   run_under_valgrind.sh VALGRIND TOOL LIBRARY SCENARIO
#
# SCENARIO names the devices, the files and the arguments of the run (see
# the case below).
set -euo pipefail

valgrind=$1
tool=$2
library=$3
scenario=$4

sandbox=$(mktemp -d "${TMPDIR:-/tmp}/ft232h-valgrind-XXXXXX")
trap 'rm -rf "$sandbox"' EXIT
cp "$tool" "$sandbox/ft232h_eeprom"

# FT232H devices at list positions 0 and 2, another FTDI chip at 1.
demo_state="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)/sim/demo_state.txt"
write_devices() {
    { echo "log 1"; cat "$demo_state"; } > "$sandbox/ftd2xx_sim_state.txt"
}

add_fault() {
    echo "fault $1 $2" >> "$sandbox/ftd2xx_sim_state.txt"
}

write_settings_file() {
    printf '%s\r\n' '[DESC]' 'Manufacturer="FTDI"' 'ManufacturerId="FT"' 'Description="YM2610 board"' \
        'SerialNumber="FT000001"' '[COMMON]' 'deviceType=8' 'VendorId=1027' 'ProductId=24596' 'MaxPower=100' \
        '[FT232H]' 'Cbus5=8' 'Cbus6=8' 'IsFifo=1' > "$sandbox/$1"
}

library_name=$(basename "$library")
arguments=()
case "$scenario" in
    no_arguments)         write_devices ;;
    check)                write_devices; arguments=(-chk 0) ;;
    set)                  write_devices; arguments=(-set 0) ;;
    dump)                 write_devices; arguments=(-r 0) ;;
    dump_into_existing)   write_devices; write_settings_file ft232h_eeprom_no0.ini; arguments=(-r 0) ;;
    program)              write_devices; write_settings_file ft232h_eeprom_to_write_no0.ini; arguments=(-w 0) ;;
    program_without_file) write_devices; arguments=(-w 0) ;;
    erase)                write_devices; arguments=(-erase 0) ;;
    init)                 write_devices; arguments=(-init 2) ;;
    wrong_option)         write_devices; arguments=(-x 0) ;;
    missing_device)       write_devices; arguments=(-chk 1) ;;
    device_number_typo)   write_devices; arguments=(-set 0x) ;;
    failing_open)         write_devices; add_fault FT_Open 3; arguments=(-set 0) ;;
    failing_read)         write_devices; add_fault FT_EEPROM_Read 11; arguments=(-r 0) ;;
    failing_list)         write_devices; add_fault FT_CreateDeviceInfoList 4; arguments=(-chk 0) ;;
    no_devices)           arguments=(-chk 0) ;;
    no_library)           library_name=""; arguments=(-chk 0) ;;
    *) echo "unknown scenario: $scenario" >&2; exit 2 ;;
esac
if [ -n "$library_name" ]; then
    cp "$library" "$sandbox/$library_name"
fi

# The tool is run from another directory: it must find everything beside itself.
cd "$sandbox/.."
status=0
"$valgrind" --quiet --error-exitcode=101 --leak-check=full --errors-for-leak-kinds=definite,indirect \
    --show-leak-kinds=definite,indirect --track-origins=yes \
    "$sandbox/ft232h_eeprom" "${arguments[@]}" > "$sandbox/output.txt" || status=$?
# What the tool printed (Shift_JIS), for a look at a failed run.
cat "$sandbox/output.txt"
if [ "$status" -ne 0 ]; then
    echo "valgrind or the tool ended with status $status (101: memcheck found errors)" >&2
    exit 1
fi
if [ ! -s "$sandbox/output.txt" ]; then
    echo "the tool printed nothing" >&2
    exit 1
fi
