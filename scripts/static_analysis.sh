#!/usr/bin/env bash
# Static analysis: clang-tidy (.clang-tidy) and cppcheck over the tool's own
# code in app/, d2xx/ and eeprom/, cppcheck also over the virtual chip in
# emu/, clang-tidy's naming check over the simulator, the virtual chips and
# the suites as well (sim/, emu/ and tests/ hold a .clang-tidy that runs it
# alone), and the clang-format layout (.clang-format) of every C++ file.
# Every check runs even when an earlier one failed; the script fails when any
# of them found something.
#
# clang-tidy reads the compile commands of the "tidy" preset, which describes
# this machine's build with every suite, and for the naming check alone those
# of "tidy-mingw64" for the files only Windows compiles; the other checks
# leave the files of other platforms (_win32, _macos) to cppcheck, which
# needs no system headers. tests/vendor/ is left out, as it compiles only
# against FTDI's header, which the vendor suite fetches at build time.
set -uo pipefail

source_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$source_dir"
jobs=${FT232H_ANALYSIS_JOBS:-2}
failed=()

log() { printf '\n==> %s\n' "$*"; }

log "clang-tidy"
if cmake --preset tidy >/dev/null; then
    # The project's own translation units, as the build compiles them.
    mapfile -t units < <(grep -o '"file": *"[^"]*"' build/tidy/compile_commands.json |
        sed -E 's/"file": *"(.*)"/\1/' | grep -E "^$source_dir/(app|d2xx|eeprom|sim|emu|tests)/" |
        grep -v "^$source_dir/tests/vendor/" | sort -u)
    if [ ${#units[@]} -eq 0 ]; then
        echo "no translation units of the tool in the compile commands"
        failed+=(clang-tidy)
    elif ! printf '%s\0' "${units[@]}" |
        xargs -0 -n 1 -P "$jobs" clang-tidy -p build/tidy --quiet 2>/dev/null; then
        failed+=(clang-tidy)
    fi
else
    failed+=(clang-tidy)
fi

log "clang-tidy: names in the files only Windows compiles"
# The _win32 files and tests/windows/ read as the mingw-w64 build compiles
# them, by clang for the same target, with the naming check alone: the other
# checks keep to this machine's build. GCC's charset options, which clang
# lacks, are left out of the commands, and GCC's C++ headers are named, as
# clang does not find them for that target by itself.
if cmake --preset tidy-mingw64 >/dev/null; then
    commands=build/tidy-mingw64/compile_commands.json
    compiler=$(sed -n 's/^CMAKE_CXX_COMPILER:[A-Z]*=//p' build/tidy-mingw64/CMakeCache.txt)
    sed -i -E -e "s#\"command\": \"$compiler #\"command\": \"clang++ --target=x86_64-w64-mingw32 #" \
        -e 's/ -f(exec|input)-charset=[^ ]*//g' "$commands"
    header_arguments=(--extra-arg=-nostdinc++)
    while read -r directory; do
        header_arguments+=("--extra-arg=-isystem$directory")
    done < <(echo | "$compiler" -xc++ -E -v - 2>&1 | sed -n '/search starts here/,/End of search/p' | grep '/c++')
    mapfile -t units < <(grep -o '"file": *"[^"]*"' "$commands" | sed -E 's/"file": *"(.*)"/\1/' |
        grep -E "^$source_dir/((app|d2xx|eeprom|sim)/.*_win32\.cpp|tests/windows/)" | sort -u)
    if [ ${#units[@]} -eq 0 ]; then
        echo "no Windows translation units in the compile commands"
        failed+=(clang-tidy-windows)
    elif ! printf '%s\0' "${units[@]}" |
        xargs -0 -n 1 -P "$jobs" clang-tidy -p build/tidy-mingw64 --quiet \
            --checks='-*,readability-identifier-naming' "${header_arguments[@]}" 2>/dev/null; then
        failed+=(clang-tidy-windows)
    fi
else
    failed+=(clang-tidy-windows)
fi

log "cppcheck"
# Every source of the three directories, whichever platform it is for, and
# the virtual chip's launcher. Left out: system headers, which cppcheck does
# not need; useStlAlgorithm, as readability-use-anyofallof in .clang-tidy (a
# loop that returns early reads as well); and settings_file.cpp's AST error,
# cppcheck 2.10 not parsing a lambda with a template parameter list, which
# clang-tidy covers.
if ! cppcheck --quiet --enable=warning,style,performance,portability --error-exitcode=1 --inline-suppr \
    --std=c++20 --language=c++ -I "$source_dir" -j "$jobs" \
    --suppress=missingIncludeSystem --suppress=useStlAlgorithm \
    --suppress=internalAstError:eeprom/settings_file.cpp \
    --template='{file}:{line}:{column}: {severity}: {message} [{id}]' \
    app d2xx eeprom emu; then
    failed+=(cppcheck)
fi

log "clang-format"
mapfile -t sources < <(find app d2xx eeprom sim emu tests bench -type f \( -name '*.cpp' -o -name '*.hpp' -o -name '*.c' \) | sort)
unformatted=0
for source in "${sources[@]}"; do
    if ! clang-format --dry-run --Werror "$source" >/dev/null 2>&1; then
        echo "not laid out as .clang-format says: $source"
        unformatted=$((unformatted + 1))
    fi
done
if [ "$unformatted" -gt 0 ]; then
    echo "$unformatted of ${#sources[@]} files; clang-format -i FILE shows the layout it wants"
    failed+=(clang-format)
fi

if [ ${#failed[@]} -gt 0 ]; then
    log "static analysis failed: ${failed[*]}"
    exit 1
fi
log "static analysis found nothing"
