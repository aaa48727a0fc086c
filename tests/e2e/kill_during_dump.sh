#!/usr/bin/env bash
# Kills dumps at random moments and checks that every settings file is left
# old or new, whole: kill_during_dump.sh CONFIG KILLS [LINES [USER [ENCODING]]]
#
# CONFIG is the file that says which build to test (the row runner's:
# tool=, library=, launcher= a ;-separated command such as Wine's). The
# settings file holds the dump of another board and LINES lines of a user's
# notes (100 000 by default); each round puts it back, starts `-r 0` and
# sends SIGKILL: half the rounds at a random moment of the whole run, half
# at a random moment after the dump's temporary file appears, which is
# where a file could be torn. It prints how many files were old, new and
# neither, and how many kills left a temporary file; a file that is neither
# fails the run.
#
# With USER (root only), the dumps run as that user, who may write the
# settings file but not the folder, so each dump rewrites the file in place
# from its first change, nearly all of it here. A kill then may leave the
# file new up to some byte and old from there on ("torn"), but never a
# temporary file; the aimed rounds aim at the moment the tool holds the file.
#
# With ENCODING UTF-16LE, the settings file is a UTF-16 one, as PowerShell
# writes it, and must stay one. USER may be empty.
set -euo pipefail
shopt -s nullglob

config=$1 kills=$2 lines=${3:-100000} user=${4:-} encoding=${5:-}
value() { sed -n "s/^$1=//p" "$config"; }
IFS=';' read -r -a launcher <<<"$(value launcher)"
work=$(mktemp -d "${TMPDIR:-/tmp}/ft232h-kill-XXXXXX")
trap 'rm -rf "$work"' EXIT
cp "$(value tool)" "$(value library)" "$work/"
cp "$(dirname "${BASH_SOURCE[0]}")/../../sim/demo_state.txt" "$work/ftd2xx_sim_state.txt"
exe="$work/$(basename "$(value tool)")" settings="$work/ft232h_eeprom_no0.ini"
run() { "${launcher[@]}" "$exe" "$@" >/dev/null 2>&1; }
as_user=()
if [ -n "$user" ]; then
    chmod 0755 "$work"
    as_user=(setpriv --reuid="$user" --regid="$(id -g "$user")" --clear-groups)
fi
# Puts the old file back, writable by the user, under the same name.
restore() { cp "$work/old.ini" "$settings" && { [ -z "$user" ] || chmod 0666 "$settings"; }; }

# The old file: the dump of board 3 and the notes; the new one: the dump of
# board 0 and the same notes, written once without interruption, by the user
# who then kills the runs.
run -r 3
grep -q 'SerialNumber="FT9ZP2MC"' "$work/ft232h_eeprom_no3.ini" || { echo "the dump did not write board 3" >&2 && exit 1; }
awk -v n="$lines" 'BEGIN { for (i = 0; i < n; ++i) printf "; note %d about this board\r\n", i }' \
    >>"$work/ft232h_eeprom_no3.ini"
mv "$work/ft232h_eeprom_no3.ini" "$work/old.ini"
# The file's text, whatever its encoding.
text() { if [ -n "$encoding" ]; then tail -c +3 "$1" | iconv -f "$encoding" -t UTF-8; else cat "$1"; fi; }
if [ -n "$encoding" ]; then
    { printf '\xff\xfe' && iconv -f UTF-8 -t "$encoding" "$work/old.ini"; } >"$work/utf16.ini"
    mv "$work/utf16.ini" "$work/old.ini"
fi
restore
inode=$(stat -c %i "$settings")
start=$(date +%s%N)
"${as_user[@]}" "${launcher[@]}" "$exe" -r 0 >/dev/null 2>&1
duration=$(($(date +%s%N) - start))
cp "$settings" "$work/new.ini"
text "$work/new.ini" | grep 'SerialNumber="FT6XK1QA"' >/dev/null || { echo "the dump did not write board 0" >&2 && exit 1; }
[ -z "$encoding" ] || [ "$(head -c 2 "$work/new.ini" | od -An -tx1 | tr -d ' ')" = fffe ] ||
    { echo "the dump did not keep the file UTF-16" >&2 && exit 1; }
if [ -n "$user" ] && [ "$(stat -c %i "$settings")" != "$inode" ]; then
    echo "the dump as $user replaced the file instead of rewriting it in place" >&2 && exit 1
fi

# Where a kill could tear the file: while the temporary file exists; in
# place, while the tool holds the settings file.
writing() {
    local fd
    if [ -z "$user" ]; then
        compgen -G "$settings.*.tmp" >/dev/null
        return
    fi
    for fd in /proc/"$pid"/fd/*; do
        [[ $fd -ef $settings ]] && return 0
    done
    return 1
}

# The settings file is the new one up to some byte and the old one from
# there on: it matches the new one for as long as it can, and the old one
# from that byte to the end.
torn() {
    local differ at
    differ=$(cmp "$settings" "$work/new.ini" 2>&1) && return 0
    if [[ $differ == *EOF* ]]; then
        at=$(stat -c %s "$settings" "$work/new.ini" | sort -n | head -1)
    else
        at=$(sed -n 's/.* differ: [a-z]* \([0-9]*\),.*/\1/p' <<<"$differ")
        at=$((at - 1))
    fi
    cmp -s -i "$at" "$settings" "$work/old.ini"
}

# A delay in seconds, at random below $1 nanoseconds.
random_delay() { printf '0.%09d' $(((RANDOM * 32768 + RANDOM) % $1)); }

old=0 new=0 torn=0 neither=0 left=0 aimed=0
for ((round = 0; round < kills; ++round)); do
    restore
    "${as_user[@]}" "${launcher[@]}" "$exe" -r 0 >/dev/null 2>&1 &
    pid=$!
    window=$duration
    if ((round % 2 == 1)); then
        while kill -0 "$pid" 2>/dev/null && ! writing; do :; done
        if writing; then aimed=$((aimed + 1)) window=$((duration / 5)); fi
    fi
    sleep "$(random_delay "$window")"
    kill -KILL "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    if cmp -s "$settings" "$work/old.ini"; then old=$((old + 1))
    elif cmp -s "$settings" "$work/new.ini"; then new=$((new + 1))
    elif [ -n "$user" ] && torn; then torn=$((torn + 1))
    else neither=$((neither + 1)) && echo "kill $round left neither file: $(stat -c %s "$settings") bytes" >&2; fi
    temporaries=("$settings".*.tmp)
    left=$((left + ${#temporaries[@]})) && rm -f "${temporaries[@]}"
done

aim="the temporary file appeared" && [ -n "$user" ] && aim="the tool opened the file"
echo "$kills kills of a dump into $lines lines of notes${encoding:+ in $encoding}${user:+ as $user, in place}" \
    "($((duration / 1000000)) ms a run): $old old, $new new, $torn torn, $neither neither;" \
    "$aimed kills aimed after $aim; $left left a temporary file"
[ "$neither" -eq 0 ] && { [ -z "$user" ] || [ "$left" -eq 0 ]; }
