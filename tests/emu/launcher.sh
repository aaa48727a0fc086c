#!/bin/sh
# What ft232h_emu does apart from the chips: it refuses a device or an
# argument it cannot take before the command runs (a misspelt fault must not
# leave a sound chip under a row), writes the fresh image that the demo and
# the benchmark start from, and passes a signal on to the command.
#
#   launcher.sh FT232H_EMU IMAGE_CHECK
set -eu
emu=$1
check=$2
work=$(mktemp -d "${TMPDIR:-/tmp}/ft232h-emu-launcher-XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"
failures=0
fail() {
    echo "FAILED: $*" >&2
    failures=$((failures + 1))
}

# refused TEXT ARG...: the launcher's status 125, TEXT on its standard
# error, and the command (touch ran) not run.
refused() {
    expected=$1
    shift
    status=0
    "$emu" "$@" >/dev/null 2>errors.txt || status=$?
    [ "$status" = 125 ] || fail "$*: status $status, not 125"
    grep -qF -- "$expected" errors.txt || fail "$*: no \"$expected\" in: $(cat errors.txt)"
    [ ! -e ran ] || fail "$*: the command ran"
}
printf 'short' >short.bin
refused "unknown device setting 'fault=stall-contrl'" --device type=ft232h,fault=stall-contrl -- touch ran
refused "'stall-control' in a device is not KEY=VALUE" --device stall-control -- touch ran
refused "request=0x100 is not a request number" --device fault=fail-control,request=0x100 -- touch ran
refused "after=6x is not a count of requests" --device fault=fail-control,after=6x -- touch ran
refused "usage: ft232h_emu" --device type=ft232h
refused "short.bin is not a 256-byte EEPROM image" --device image=short.bin -- touch ran
refused "cannot open missing/requests.log" --log missing/requests.log --device type=ft232h -- touch ran
refused "cannot run ./no-such-command" --device type=ft232h -- ./no-such-command
refused "1 to 15 ASCII letters and digits" --factory-image bad.bin --serial FT-0001
[ ! -e bad.bin ] || fail "an image for a serial number refused"

# The fresh chip, as libftdi reads it.
"$emu" --factory-image fresh.bin --serial FT0001AA || fail "--factory-image: status $?"
"$check" fresh.bin >fields.txt || fail "the fresh image does not decode"
for field in Manufacturer=FTDI 'Description=USB <-> Serial Converter' SerialNumber=FT0001AA VendorId=1027 \
    ProductId=24596 MaxPower=100 DriverType=1; do
    grep -qxF "$field" fields.txt || fail "the fresh image has no $field"
done

# SIGTERM to the launcher ends the command, whose status it returns.
"$emu" --device type=ft232h,image=fresh.bin -- sh -c 'echo $$ >command.pid; exec sleep 60' &
launcher=$!
tries=0
while [ ! -s command.pid ] && [ "$tries" -lt 100 ]; do
    sleep 0.1
    tries=$((tries + 1))
done
kill -TERM "$launcher"
status=0
wait "$launcher" || status=$?
[ "$status" = 143 ] || fail "SIGTERM: status $status, not 143"
if kill -0 "$(cat command.pid)" 2>/dev/null; then
    fail "SIGTERM did not reach the command"
    kill "$(cat command.pid)"
fi

[ "$failures" = 0 ]
