#!/usr/bin/env bash
# Makes sure the Debian packages that one of the README's commands needs are
# installed, before it builds anything:
#
#   require_packages.sh COMMAND PACKAGE...
#
# Missing packages are installed with apt-get when this runs as root (with
# the i386 architecture added first for a PACKAGE:i386); otherwise one
# sentence on standard error names them, and the status is 1. npm counts as
# present when the command is there: Node.js may come from outside Debian.
set -euo pipefail

if [ $# -lt 1 ]; then
    echo "usage: $0 COMMAND PACKAGE..." >&2
    exit 2
fi
command_name=$1
shift

missing=()
for package in "$@"; do
    if [ "$package" = npm ]; then
        command -v npm >/dev/null || missing+=(npm)
    elif ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$package")
    fi
done
if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi

foreign=false
if printf '%s\n' "${missing[@]}" | grep -q ':i386$'; then
    foreign=true
fi
if [ "$(id -u)" -ne 0 ]; then
    how="apt-get update && apt-get install ${missing[*]}"
    if $foreign; then
        how="dpkg --add-architecture i386 && $how"
    fi
    echo "$command_name needs ${missing[*]}: run it as root to have them installed, or install them first ($how)." >&2
    exit 1
fi
echo "$command_name: installing ${missing[*]}"
if $foreign; then
    dpkg --add-architecture i386
fi
apt-get update -qq
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null
