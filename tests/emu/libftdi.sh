#!/bin/sh
# libftdi's ftdi_eeprom, the other side of the benchmark, on a virtual chip:
# it reads the EEPROM byte for byte and programs an image into it, so that
# its figures are for the same work as the tool's.
#
#   libftdi.sh FT232H_EMU FTDI_EEPROM
set -eu
emu=$1
ftdi_eeprom=$2
work=$(mktemp -d "${TMPDIR:-/tmp}/ft232h-emu-libftdi-XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"
"$emu" --factory-image fresh.bin --serial FT0001AA
"$emu" --factory-image chip.bin --serial FT0009ZZ
printf 'vendor_id=0x0403\nproduct_id=0x6014\nfilename="read.bin"\n' >read.conf
printf 'vendor_id=0x0403\nproduct_id=0x6014\nfilename="fresh.bin"\nflash_raw=true\n' >flash.conf
"$emu" --device type=ft232h,image=chip.bin -- "$ftdi_eeprom" --read-eeprom read.conf >read.txt 2>&1 ||
    { cat read.txt; exit 1; }
cmp read.bin chip.bin
"$emu" --device type=ft232h,image=chip.bin -- "$ftdi_eeprom" --flash-eeprom flash.conf >flash.txt 2>&1 ||
    { cat flash.txt; exit 1; }
cmp chip.bin fresh.bin
