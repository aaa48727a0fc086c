#!/usr/bin/env bash
# Kills dumps at random moments and checks that every settings file is left
# old or new, whole: kill_during_dump.sh CONFIG KILLS [LINES] [ENCODING]
#
# CONFIG is the file that says which build to test (the row runner's:
# tool=, library=, launcher= a ;-separated command such as Wine's). The
# settings file holds LINES lines of a user's notes (100 000 by default) and
# the dump of another board; each round puts it back, starts `-r 0` and
# sends SIGKILL: half the rounds at a random moment of the whole run, half
# at a random moment after the dump's temporary file appears, which is
# where a file could be torn. It prints how many files were old, new and
# neither, and how many kills left a temporary file; a file that is neither
# fails the run.
set -euo pipefail
shopt -s nullglob

config=$1 kills=$2 lines=${3:-100000} encoding=${4:-}
value() { sed -n "s/^$1=//p" "$config"; }
IFS=';' read -r -a launcher <<<"$(value launcher)"
work=$(mktemp -d "${TMPDIR:-/tmp}/ft232h-kill-XXXXXX")
trap 'rm -rf "$work"' EXIT
cp "$(value tool)" "$(value library)" "$work/"
cp "$(dirname "${BASH_SOURCE[0]}")/../../sim/demo_state.txt" "$work/ftd2xx_sim_state.txt"
exe="$work/$(basename "$(value tool)")" settings="$work/ft232h_eeprom_no0.ini"
run() { "${launcher[@]}" "$exe" "$@" >/dev/null 2>&1; }

# The old file: the notes and the dump of board 3; the new one: the same
# notes and the dump of board 0, written once without interruption.
awk -v n="$lines" 'BEGIN { for (i = 0; i < n; ++i) printf "; note %d about this board\r\n", i }' \
    >"$work/ft232h_eeprom_no3.ini"
# The file's text, whatever its encoding.
text() { if [ -n "$encoding" ]; then tail -c +3 "$1" | iconv -f "$encoding" -t UTF-8; else cat "$1"; fi; }
if [ -n "$encoding" ]; then
    { printf '\xff\xfe' && iconv -f UTF-8 -t "$encoding" "$work/ft232h_eeprom_no3.ini"; } >"$work/utf16.ini"
    mv "$work/utf16.ini" "$work/ft232h_eeprom_no3.ini"
fi
run -r 3
text "$work/ft232h_eeprom_no3.ini" | grep -q 'SerialNumber="FT9ZP2MC"' || { echo "the dump did not write board 3" >&2 && exit 1; }
mv "$work/ft232h_eeprom_no3.ini" "$work/old.ini"
cp "$work/old.ini" "$settings"
start=$(date +%s%N)
run -r 0
duration=$(($(date +%s%N) - start))
cp "$settings" "$work/new.ini"
text "$work/new.ini" | grep -q 'SerialNumber="FT6XK1QA"' || { echo "the dump did not write board 0" >&2 && exit 1; }
[ -z "$encoding" ] || [ "$(head -c 2 "$work/new.ini" | od -An -tx1 | tr -d ' ')" = fffe ] ||
    { echo "the dump did not keep the file UTF-16" >&2 && exit 1; }

# A delay in seconds, at random below $1 nanoseconds.
random_delay() { printf '0.%09d' $(((RANDOM * 32768 + RANDOM) % $1)); }

old=0 new=0 neither=0 left=0 aimed=0
for ((round = 0; round < kills; ++round)); do
    cp "$work/old.ini" "$settings"
    "${launcher[@]}" "$exe" -r 0 >/dev/null 2>&1 &
    pid=$!
    window=$duration
    if ((round % 2 == 1)); then
        while kill -0 "$pid" 2>/dev/null && ! compgen -G "$settings.*.tmp" >/dev/null; do :; done
        if compgen -G "$settings.*.tmp" >/dev/null; then aimed=$((aimed + 1)) window=$((duration / 5)); fi
    fi
    sleep "$(random_delay "$window")"
    kill -KILL "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    if cmp -s "$settings" "$work/old.ini"; then old=$((old + 1))
    elif cmp -s "$settings" "$work/new.ini"; then new=$((new + 1))
    else neither=$((neither + 1)) && echo "kill $round left neither file: $(stat -c %s "$settings") bytes" >&2; fi
    temporaries=("$settings".*.tmp)
    left=$((left + ${#temporaries[@]})) && rm -f "${temporaries[@]}"
done

echo "$kills kills of a dump into $lines lines of notes${encoding:+ in $encoding} ($((duration / 1000000)) ms a run): $old old, $new new," \
    "$neither neither; $aimed kills aimed after the temporary file appeared; $left left a temporary file"
[ "$neither" -eq 0 ]
