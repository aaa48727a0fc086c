#!/bin/sh
# Starts a command under ft232h_emu with the chips a case listed in
# ../chips.txt, one device spec a line (the sandbox runs the tool from a
# directory beside the one that holds the file, the images and the log).
#
#   with_chips.sh FT232H_EMU COMMAND [ARG...]
set -eu
emulator=$1
shift
devices=$(sed 's/^/--device /' ../chips.txt)
# The specs hold no blanks: splitting them into words is intended.
# shellcheck disable=SC2086
exec "$emulator" --log ../requests.log $devices -- "$@"
