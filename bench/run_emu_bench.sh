#!/usr/bin/env bash
# Times each command of the tool with FTDI's own library against a virtual
# FT232H, beside libftdi's ftdi_eeprom reading and flashing the same virtual
# chip, and prints a Markdown table. Each run starts from the same fresh chip
# image. Needs a native or emu build with ft232h_emu, FTDI's library fetched
# into it (bash scripts/run_all.sh, or bash emu/demo.sh, does both), hyperfine
# and ftdi_eeprom.
#
#   bench/run_emu_bench.sh [BUILD_DIRECTORY]     (default: build/native)
set -euo pipefail

source_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=$(cd "${1:-$source_dir/build/native}" && pwd)
emu=$build/emu/ft232h_emu
library=$(find "$build" -path '*/ftdi/libftd2xx.so' -print -quit)
for needed in "$emu" "$build/app/ft232h_eeprom" "$library"; do
    [ -n "$needed" ] && [ -f "$needed" ] || { echo "missing: ${needed:-libftd2xx.so} (build and fetch first)" >&2; exit 1; }
done
command -v hyperfine >/dev/null && command -v ftdi_eeprom >/dev/null ||
    { echo "needs hyperfine and ftdi_eeprom" >&2; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/ft232h-emu-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT
cp "$build/app/ft232h_eeprom" "$library" "$work/"
cd "$work"
"$emu" --factory-image fresh.bin --serial FT6XK1QA
cp fresh.bin chip0.bin
on_chip() { echo "$emu --device type=ft232h,image=chip0.bin -- $*"; }
# A dump of the fresh chip is what -w programs back.
$(on_chip ./ft232h_eeprom -r 0) >/dev/null
cp ft232h_eeprom_no0.ini ft232h_eeprom_to_write_no0.ini
printf 'vendor_id=0x0403\nproduct_id=0x6014\nfilename="read.bin"\n' >read.conf
printf 'vendor_id=0x0403\nproduct_id=0x6014\nfilename="fresh.bin"\nflash_raw=true\n' >flash.conf

runs=${FT232H_EMU_BENCH_RUNS:-20}
rows=(
    'table and usage|./ft232h_eeprom'
    '`-chk 0`|./ft232h_eeprom -chk 0'
    '`-set 0`|./ft232h_eeprom -set 0'
    '`-r 0`|./ft232h_eeprom -r 0'
    '`-w 0`|./ft232h_eeprom -w 0'
    '`-erase 0`|./ft232h_eeprom -erase 0'
    '`-init 0`|./ft232h_eeprom -init 0'
    '`ftdi_eeprom --read-eeprom`|ftdi_eeprom --read-eeprom read.conf'
    '`ftdi_eeprom --flash-eeprom`|ftdi_eeprom --flash-eeprom flash.conf'
    'launcher alone (/bin/true)|/bin/true'
)
echo "| Run | Median | Min | Max |"
echo "|---|---:|---:|---:|"
for row in "${rows[@]}"; do
    name=${row%%|*}
    command=${row#*|}
    hyperfine --style none --runs "$runs" --warmup 2 --prepare "cp fresh.bin chip0.bin" \
        --export-json result.json "$(on_chip "$command") >/dev/null" >/dev/null 2>&1
    python3 - "$name" <<'EOF'
import json, statistics, sys
times = json.load(open("result.json"))["results"][0]["times"]
ms = lambda s: "%.0f ms" % (s * 1000)
print("| %s | %s | %s | %s |" % (sys.argv[1], ms(statistics.median(times)), ms(min(times)), ms(max(times))))
EOF
done
