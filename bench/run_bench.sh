#!/usr/bin/env bash
# Benchmarks the tool against the simulated D2XX library and writes the
# figures into docs/performance.md, between the bench markers (added at the
# end when missing).
#
# Needs cmake, a C++20 compiler, a C compiler (cc), hyperfine and valgrind.
# Builds the tool and the simulator optimised (preset "bench": the C++
# runtime linked into both, so that like FTDI's library the simulator needs
# only the C library; the tool stripped by the install step, as released) and
# bench/baseline_load.c, a C process (no C++ runtime) that only loads the
# same library and asks it for its device count.
#
# Measured:
#   - each command's whole-process time (hyperfine, median of many runs after
#     a warm-up) as a ratio to the baseline process, measured alongside it;
#   - the instructions each run executes (callgrind's total Ir), which do not
#     change from run to run as times do;
#   - growth: a plain listing of 1, 16 and 128 devices, and a dump (-r) and a
#     program (-w) with settings files that already hold 10, 1 000 and
#     100 000 other lines. Every run starts from the same files (hyperfine's
#     --prepare), so runs that change the EEPROM or the file measure the same
#     work each time.
#
# The tool's directory, where the settings files go, is under build/bench on
# the disk, as a user's would be. The dump and the program are measured once
# more with that directory on a RAM file system (/dev/shm, when there is
# one), which shows what the disk itself adds to them: their targets are
# 1.5x the baseline in RAM and 2x on the disk, where the dump pays for
# syncing the settings file and its directory.
#
# The simulator's state file stands for the devices' EEPROMs, not for
# anything the tool writes: it is kept on the RAM file system in every run
# (FT232H_SIM_STATE), so that the disk rows show the disk's cost to the
# tool's own files rather than the simulator replacing its state on the
# disk after each -set, -erase, -init and -w.
#
# Environment: FT232H_BENCH_RUNS (default 100) runs per measurement, made in
# FT232H_BENCH_ROUNDS (default 10) rounds;
# FT232H_BENCH_PRINT_ONLY=1 prints the tables without touching the document.
set -euo pipefail

source_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$source_dir"
runs=${FT232H_BENCH_RUNS:-100}
rounds=${FT232H_BENCH_ROUNDS:-10}
runs_per_round=$(((runs + rounds - 1) / rounds))
unset FT232H_SIM_STATE

for tool in cmake cc hyperfine valgrind callgrind_annotate; do
    command -v "$tool" >/dev/null || { echo "the benchmark needs $tool" >&2; exit 1; }
done

echo "building the tool and the simulator (preset bench)" >&2
cmake --preset bench >/dev/null
cmake --build --preset bench >/dev/null
compiler=$(sed -n 's/^CMAKE_CXX_COMPILER:[A-Z]*=//p' build/bench/CMakeCache.txt)
cc -std=c11 -O2 -s bench/baseline_load.c -o build/bench/baseline_load -ldl

work="$source_dir/build/bench/run"
rm -rf "$work"
mkdir -p "$work/states" "$work/files" "$work/results"
# The tool as a release archive holds it: installed, so stripped.
cmake --install build/bench --strip --prefix "$work/install" >/dev/null
cp "$work/install/ft232h_eeprom" build/bench/sim/libftd2xx.so build/bench/baseline_load "$work/"
ram=""
if [ -d /dev/shm ] && [ -w /dev/shm ]; then
    ram=$(mktemp -d /dev/shm/ft232h-bench-XXXXXX)
    trap 'rm -rf "$ram"' EXIT
    cp "$work/ft232h_eeprom" "$work/libftd2xx.so" "$work/baseline_load" "$ram/"
    export FT232H_SIM_STATE="$ram/ftd2xx_sim_state.txt"
fi
record=0800000003041460010064000000000000000400000400000000000000000000000000000000000001000000

# --- the worlds and files every run starts from --------------------------------
ft232h_device() {  # position serial
    printf 'device %d\n  type 8\n  serial %s\n  description Single RS232-HS\n' "$1" "$2"
    printf '  eeprom_record_hex %s\n  eeprom_manufacturer FTDI\n  eeprom_manufacturer_id FT\n' "$record"
    printf '  eeprom_description USB <-> Serial Converter\n  eeprom_serial %s\n' "$2"
}
{
    ft232h_device 0 FT000001
    printf 'device 1\n  type 5\n  serial FT2232A\n  description Dual RS232-HS A\n'
    ft232h_device 2 FT000003
} > "$work/states/default.txt"
for count in 1 16 128; do
    for ((i = 0; i < count; i++)); do ft232h_device "$i" "$(printf 'FT%06d' "$i")"; done > "$work/states/list$count.txt"
done

# Settings lines that are not the tool's: sections of ten keys each.
other_lines() {  # count
    awk -v n="$1" 'BEGIN { for (i = 0; i < n; i++) {
        if (i % 11 == 0) printf "[Other%d]\r\n", i / 11; else printf "Key%d=Value of line %d\r\n", i, i } }'
}
dump_keys() {
    printf '%s\r\n' '[DESC]' 'Manufacturer="FTDI"' 'ManufacturerId="FT"' 'Description="USB <-> Serial Converter"' \
        'SerialNumber="FT000001"' '[COMMON]' 'deviceType=8' 'VendorId=1027' 'ProductId=24596' 'SerNumEnable=1' \
        'MaxPower=100' 'SelfPowered=0' 'RemoteWakeup=0' 'PullDownEnable=0' '[FT232H]' 'ACSlowSlew=0' \
        'ACSchmittInput=0' 'ACDriveCurrent=4' 'ADSlowSlew=0' 'ADSchmittInput=0' 'ADDriveCurrent=4' 'Cbus0=0' \
        'Cbus1=0' 'Cbus2=0' 'Cbus3=0' 'Cbus4=0' 'Cbus5=0' 'Cbus6=0' 'Cbus7=0' 'Cbus8=0' 'Cbus9=0' 'FT1248Cpol=0' \
        'FT1248Lsb=0' 'FT1248FlowControl=0' 'IsFifo=0' 'IsFifoTar=0' 'IsFastSer=0' 'IsFT1248=0' \
        'PowerSaveEnable=0' 'DriverType=1'
}
dump_keys > "$work/files/write.ini"
for lines in 10 1000 100000; do
    other_lines "$lines" > "$work/files/dump_$lines.ini"
    { other_lines "$lines"; dump_keys; } > "$work/files/write_$lines.ini"
done

# A prepare script per measurement: the world, and the settings files, put
# in the tool's directory `dir`.
dir=$work
prepare_script() {  # name world [source target]...
    local name=$1 world=$2
    shift 2
    {
        echo "cp '$work/states/$world.txt' '${FT232H_SIM_STATE:-$dir/ftd2xx_sim_state.txt}'"
        echo "rm -f '$dir/ft232h_eeprom_no0.ini' '$dir/ft232h_eeprom_to_write_no0.ini'"
        while [ $# -gt 0 ]; do
            echo "cp '$work/files/$1' '$dir/$2'"
            shift 2
        done
    } > "$work/prepare_$name.sh"
    echo "$work/prepare_$name.sh"
}

# --- measuring ---------------------------------------------------------------
# Median seconds of the baseline and of the command. The runs are made in
# rounds, each measuring the baseline and then the command, so that the
# machine's load changing over a measurement (the cores are shared) weighs
# on both alike; each figure is the median of its rounds' medians. The
# first measurement after baseline_command is cleared is the baseline
# itself, measured alone.
baseline_command=""
baseline_prepare=""
median_times() {  # name prepare command...
    local name=$1 prepare=$2 round
    shift 2
    for ((round = 0; round < rounds; round++)); do
        if [ "$*" = "$baseline_command" ]; then
            hyperfine --shell=none --warmup 3 --runs "$runs_per_round" --style none --output null \
                --prepare "bash $prepare" --export-csv "$work/results/$name.$round.csv" "$*" >/dev/null
            awk -F, 'NR == 2 { print $4, $4 }' "$work/results/$name.$round.csv"
        else
            hyperfine --shell=none --warmup 3 --runs "$runs_per_round" --style none --output null \
                --prepare "bash $baseline_prepare" --prepare "bash $prepare" \
                --export-csv "$work/results/$name.$round.csv" "$baseline_command" "$*" >/dev/null
            awk -F, 'NR == 2 { baseline = $4 } NR == 3 { print baseline, $4 }' "$work/results/$name.$round.csv"
        fi
    done > "$work/results/$name.rounds"
    echo "$(cut -d' ' -f1 "$work/results/$name.rounds" | sort -g | middle)" \
        "$(cut -d' ' -f2 "$work/results/$name.rounds" | sort -g | middle)"
}
middle() { awk '{ value[NR] = $1 } END { print value[int((NR + 1) / 2)] }'; }

# Total instructions of one run; its profile is kept as results/NAME.callgrind.
instructions() {  # name prepare command...
    local name=$1 prepare=$2
    shift 2
    bash "$prepare"
    valgrind --tool=callgrind --callgrind-out-file="$work/results/$name.callgrind" "$@" 2>&1 >/dev/null |
        sed -n 's/.*Collected : \([0-9]*\).*/\1/p'
}

# Instructions a run executed in one file's own code (the tool, or the
# simulated library), not counting what it called elsewhere.
instructions_in() {  # name file
    callgrind_annotate --threshold=100 "$work/results/$1.callgrind" 2>/dev/null |
        awk -v file="[$2]" 'index($0, file) && $1 ~ /^[0-9,]+$/ { gsub(",", "", $1); total += $1 }
            END { print total + 0 }'
}

declare -A seconds paired ir
measure() {  # name prepare command...
    local name=$1 times
    echo "measuring $name" >&2
    if [ -z "$baseline_command" ]; then
        baseline_command="${*:3}"
        baseline_prepare=$2
    fi
    times=$(median_times "$@")
    paired[$name]=${times% *}
    seconds[$name]=${times#* }
    ir[$name]=$(instructions "$name" "${@:2}")
}

tool="$dir/ft232h_eeprom"
measure baseline "$(prepare_script baseline default)" "$dir/baseline_load"
measure list "$(prepare_script list default)" "$tool"
measure chk "$(prepare_script chk default)" "$tool" -chk 0
measure set "$(prepare_script set default)" "$tool" -set 0
measure erase "$(prepare_script erase default)" "$tool" -erase 0
measure init "$(prepare_script init default)" "$tool" -init 0
measure dump "$(prepare_script dump default)" "$tool" -r 0
measure program "$(prepare_script program default write.ini ft232h_eeprom_to_write_no0.ini)" "$tool" -w 0
for count in 1 16 128; do
    measure "list$count" "$(prepare_script "list$count" "list$count")" "$tool"
done
for lines in 10 1000 100000; do
    measure "dump$lines" "$(prepare_script "dump$lines" default "dump_$lines.ini" ft232h_eeprom_no0.ini)" "$tool" -r 0
    measure "program$lines" "$(prepare_script "program$lines" default "write_$lines.ini" \
        ft232h_eeprom_to_write_no0.ini)" "$tool" -w 0
done

if [ -n "$ram" ]; then
    dir=$ram
    tool="$dir/ft232h_eeprom"
    baseline_command=""
    measure ram_baseline "$(prepare_script ram_baseline default)" "$dir/baseline_load"
    measure ram_dump "$(prepare_script ram_dump default)" "$tool" -r 0
    measure ram_program "$(prepare_script ram_program default write.ini ft232h_eeprom_to_write_no0.ini)" "$tool" -w 0
fi

# --- the tables --------------------------------------------------------------
ms() { awk -v s="$1" 'BEGIN { printf "%.2f ms", s * 1000 }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
thousands() { echo "$1" | sed -E ':a; s/([0-9])([0-9]{3})($|,)/\1,\2\3/; ta'; }
within() { awk -v a="$1" -v b="$2" -v limit="$3" 'BEGIN { print (a / b <= limit) ? "yes" : "**no**" }'; }
# Instructions per item beyond the smallest size, from one step to the next.
per_item() { awk -v a="$1" -v b="$2" -v n="$3" -v m="$4" 'BEGIN { printf "%.0f", (b - a) / (m - n) }'; }
# Linear or better: the cost of one more item at the large end is at most
# 1.5 times (plus a small allowance) its cost at the small end.
linear() { awk -v small="$1" -v large="$2" 'BEGIN { print (large <= 1.5 * small + 1000) ? "yes" : "**no**" }'; }
# "yes" when every answer on standard input is.
all_met() { if grep -q no; then echo "**no**"; else echo yes; fi; }

table=$(
    cpu=$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -n 1)
    echo "Measured by \`bench/run_bench.sh\` on $(nproc) cores of ${cpu:-an unnamed CPU}, tool and simulator built"
    echo "optimised with $("$compiler" --version | head -n 1). Times are medians of $runs runs after a warm-up"
    echo "(in $rounds rounds alternating with the baseline's, the median of the rounds' medians),"
    echo "each divided by the baseline's median measured in the same go; instructions are callgrind's total"
    echo "for one run, the same from run to run. The baseline process, written in C so that it loads no"
    echo "C++ runtime, starts, loads the same simulated library from its directory, asks it once for its"
    echo "device count and ends. The tool is measured as a release archive holds it: the C++ runtime"
    echo "linked in, stripped. The simulated library, like FTDI's, needs only the C library."
    echo "The tool's directory, which holds the settings files, is on an $(df --output=fstype "$work" | tail -n 1)"
    echo "disk; the rows marked RAM repeat a run with it on tmpfs."
    if [ -n "$ram" ]; then
        echo "The simulator keeps its state, which stands for the devices' EEPROMs, on tmpfs in every run."
    else
        echo "The simulator keeps its state, which stands for the devices' EEPROMs, beside the tool."
    fi
    echo
    echo "| Run | Time | × baseline | Instructions | × baseline | Target | Met |"
    echo "|---|---:|---:|---:|---:|---|---|"
    row() {  # name label target limit
        local met="" target=""
        if [ -n "${4:-}" ]; then
            target="time ≤ $4× baseline"
            met=$(within "${seconds[$1]}" "${paired[$1]}" "$4")
        fi
        echo "| $2 | $(ms "${seconds[$1]}") | $(ratio "${seconds[$1]}" "${paired[$1]}") |" \
            "$(thousands "${ir[$1]}") | $(ratio "${ir[$1]}" "${ir[baseline]}") | $target | $met |"
    }
    row baseline "baseline: load the library, count devices"
    row list "\`ft232h_eeprom\` (table and usage)"
    row chk "\`-chk 0\`" "" 1.25
    row set "\`-set 0\`" "" 1.25
    row erase "\`-erase 0\`" "" 1.25
    row init "\`-init 0\`" "" 1.25
    row dump "\`-r 0\` into a new file, on the disk" "" 2
    row program "\`-w 0\`, on the disk" "" 2
    if [ -n "$ram" ]; then
        ram_row() {  # name label [limit]
            local met="" target=""
            if [ -n "${3:-}" ]; then
                target="time ≤ $3× baseline"
                met=$(within "${seconds[$1]}" "${paired[$1]}" "$3")
            fi
            echo "| $2 | $(ms "${seconds[$1]}") | $(ratio "${seconds[$1]}" "${paired[$1]}") |" \
                "$(thousands "${ir[$1]}") | $(ratio "${ir[$1]}" "${ir[ram_baseline]}") | $target | $met |"
        }
        ram_row ram_baseline "baseline, directory on a RAM file system"
        ram_row ram_dump "\`-r 0\` into a new file, RAM" 1.5
        ram_row ram_program "\`-w 0\`, RAM" 1.5
    fi
    echo
    extra=$((ir[chk] - ir[baseline]))
    own=$(instructions_in chk "$work/ft232h_eeprom")
    simulated=$(($(instructions_in chk "$work/libftd2xx.so") - $(instructions_in baseline "$work/libftd2xx.so")))
    echo "Where the $(thousands "$extra") instructions that \`-chk 0\` executes beyond the baseline go:"
    echo "$(thousands "$own") in the tool's own code, $(thousands "$simulated") more than the baseline's in the simulated"
    echo "library's own code (it reads its state file again at every call, and the tool makes several calls"
    echo "where the baseline makes one), the rest in the C library and the dynamic loader for both."
    echo
    echo "Growth: a listing with more devices, and a dump or a program with settings files that already"
    echo "hold other lines. \"Per item\" is the extra instructions one more device or line costs over the"
    echo "step before; growth is linear or better when the last step's cost per item is at most 1.5 times"
    echo "the first's."
    echo
    echo "| Run | Size | Time | Instructions | Per item |"
    echo "|---|---:|---:|---:|---:|"
    growth_rows() {  # prefix label unit sizes...
        local prefix=$1 label=$2 unit=$3 previous="" cost=""
        shift 3
        for size in "$@"; do
            if [ -n "$previous" ]; then
                cost=$(thousands "$(per_item "${ir[$prefix$previous]}" "${ir[$prefix$size]}" "$previous" "$size")")
            fi
            echo "| $label | $(thousands "$size") $unit | $(ms "${seconds[$prefix$size]}") |" \
                "$(thousands "${ir[$prefix$size]}") | $cost |"
            previous=$size
        done
    }
    growth_rows list "listing" devices 1 16 128
    growth_rows dump "\`-r 0\`" "other lines" 10 1000 100000
    growth_rows program "\`-w 0\`" "other lines" 10 1000 100000
    echo
    echo "| Target | Met |"
    echo "|---|---|"
    echo "| \`-chk\`, \`-set\`, \`-erase\`, \`-init\` within 1.25× the baseline's time |" \
        "$(for c in chk set erase init; do within "${seconds[$c]}" "${paired[$c]}" 1.25; done | all_met) |"
    if [ -n "$ram" ]; then
        echo "| \`-r\`, \`-w\` within 1.5× the baseline's time on a RAM file system |" \
            "$(for c in ram_dump ram_program; do within "${seconds[$c]}" "${paired[$c]}" 1.5; done | all_met) |"
    else
        echo "| \`-r\`, \`-w\` within 1.5× the baseline's time on a RAM file system | not measured (no /dev/shm) |"
    fi
    echo "| \`-r\`, \`-w\` within 2× the baseline's time on the disk |" \
        "$(for c in dump program; do within "${seconds[$c]}" "${paired[$c]}" 2; done | all_met) |"
    growth_met() {  # prefix small middle large
        linear "$(per_item "${ir[$1$2]}" "${ir[$1$3]}" "$2" "$3")" "$(per_item "${ir[$1$3]}" "${ir[$1$4]}" "$3" "$4")"
    }
    echo "| listing grows no faster than linearly with the devices | $(growth_met list 1 16 128) |"
    echo "| \`-r\` grows no faster than linearly with the file's lines | $(growth_met dump 10 1000 100000) |"
    echo "| \`-w\` grows no faster than linearly with the file's lines | $(growth_met program 10 1000 100000) |"
    echo "| a dump into a 100 000-line file takes well under a second (≤ 0.5 s) |" \
        "$(awk -v s="${seconds[dump100000]}" 'BEGIN { print (s <= 0.5) ? "yes" : "**no**" }') |"
    # What a missed time target is made of, where the instructions say the
    # tool's own work is not it.
    if [ "$(for c in set erase init; do within "${seconds[$c]}" "${paired[$c]}" 1.25; done | all_met)" != yes ]; then
        echo
        echo "\`-set\`, \`-erase\` and \`-init\` execute $(ratio "${ir[set]}" "${ir[baseline]}")×," \
            "$(ratio "${ir[erase]}" "${ir[baseline]}")× and $(ratio "${ir[init]}" "${ir[baseline]}")× the baseline's"
        echo "instructions. Beyond what \`-chk\` does, they make the simulator replace its state file"
        echo "(a temporary file and a rename), which is where their extra time goes; from run to run of this"
        echo "benchmark their ratios move by a few tenths with the machine's load."
    fi
    if [ -n "$ram" ]; then
        # The disk's share: what each run takes there beyond its baseline,
        # less what it takes beyond its baseline in RAM.
        disk_share() {  # disk ram
            awk -v d="${seconds[$1]}" -v db="${paired[$1]}" -v r="${seconds[$2]}" -v rb="${paired[$2]}" \
                'BEGIN { share = ((d - db) - (r - rb)) * 1000
                         if (share < 0.05) print "nothing measurable"; else printf "%.2f ms", share }'
        }
        echo
        if [ "$(for c in dump program; do within "${seconds[$c]}" "${paired[$c]}" 2; done | all_met)" != yes ] &&
            [ "$(for c in ram_dump ram_program; do within "${seconds[$c]}" "${paired[$c]}" 1.5; done | all_met)" = yes ]; then
            echo "The target on the disk is missed where the one in RAM is met: the difference is the disk's."
        fi
        echo "What the disk adds beyond the baseline's own file access: $(disk_share dump ram_dump) to the dump,"
        echo "which replaces the settings file whole (a temporary file and a rename, so that an interrupted"
        echo "dump never leaves a broken file) and syncs the new file before the rename and its directory after"
        echo "it, the price of a dump"
        echo "that survives a power cut; $(disk_share program ram_program) to the program, which only reads one."
    fi
)

echo
echo "$table"

if [ "${FT232H_BENCH_PRINT_ONLY:-0}" = 1 ]; then
    exit 0
fi
readme="$source_dir/docs/performance.md"
begin='<!-- bench:begin -->'
end='<!-- bench:end -->'
if [ ! -f "$readme" ] || ! grep -qF "$begin" "$readme" || ! grep -qF "$end" "$readme"; then
    printf '\n%s\n%s\n' "$begin" "$end" >> "$readme"
fi
printf '%s\n' "$table" > "$work/table.md"
awk -v begin="$begin" -v end="$end" -v table="$work/table.md" '
    $0 == begin { print; while ((getline line < table) > 0) print line; skipping = 1; next }
    $0 == end { skipping = 0 }
    !skipping { print }' "$readme" > "$work/performance.md"
cp "$work/performance.md" "$readme"
echo >&2
echo "docs/performance.md updated between $begin and $end" >&2
