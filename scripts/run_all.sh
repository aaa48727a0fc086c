#!/usr/bin/env bash
# Builds everything and runs every test suite, installing first what a fresh
# Debian machine lacks. Each suite runs under CTest; a suite that cannot run
# fails the whole run rather than being skipped.
set -euo pipefail

source_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$source_dir"

log() { printf '\n==> %s\n' "$*"; }

# --- what the suites need -------------------------------------------------
# npm fetches FTDI's own library for the vendor suite.
bash scripts/require_packages.sh "bash scripts/run_all.sh" \
    cmake make g++ libgtest-dev libgmock-dev \
    g++-mingw-w64-x86-64 g++-mingw-w64-i686 wine wine64 wine32:i386 \
    valgrind clang libclang-rt-14-dev clang-tidy cppcheck clang-format \
    hyperfine pkg-config umockdev libumockdev-dev libftdi1-dev ftdi-eeprom locales npm

# Wine takes its code page from the locale, and maps file names through it
# only when the C library knows the locale: rows run the Windows builds
# under a Japanese one (code page 932). Making it needs root.
if ! locale -a 2>/dev/null | grep -qix 'ja_JP.utf8'; then
    log "making the locale ja_JP.UTF-8"
    localedef -i ja_JP -c -f UTF-8 ja_JP.UTF-8
fi

jobs=2

# The 32-bit Windows build runs under the 32-bit half of Wine, which needs a
# kernel that runs 32-bit x86 programs. Where the kernel's 32-bit emulation
# is off (some virtual machines), that build is still made and packaged, but
# it cannot be run here: that is said, and its runs are left out.
run_windows=(mingw64 mingw32)
wine=wine
if ! /lib/ld-linux.so.2 --help >/dev/null 2>&1; then
    run_windows=(mingw64)
    # Debian's wine command starts the 32-bit loader whenever it is
    # installed; the 64-bit one runs 64-bit programs on its own.
    wine=/usr/lib/wine/wine64
    export WINELOADER=$wine
    log "this machine cannot run 32-bit x86 programs (its kernel's 32-bit emulation is off): the 32-bit Windows build is made and packaged, but not run under Wine"
fi

# --- Windows cross builds (tested under Wine from the native suite) -------
for preset in mingw64 mingw32; do
    log "building for Windows: $preset, and its release archive"
    cmake --preset "$preset" >/dev/null
    # The package target builds everything first.
    cmake --build --preset "$preset" -j "$jobs" --target package
    if [[ " ${run_windows[*]} " != *" $preset "* ]]; then
        continue
    fi
    # A 32-bit prefix must be made by a Wine that has its 32-bit half, and the
    # first start of a prefix takes seconds: make each once, before the tests.
    WINEPREFIX="$source_dir/build/$preset/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" "$wine" wineboot -i >/dev/null 2>&1
    WINEPREFIX="$source_dir/build/$preset/wineprefix" wineserver -w
    # Wine's server otherwise quits seconds after each run, and a run that
    # starts while it is quitting can fail to start at all: keep it up for
    # the whole test run.
    WINEPREFIX="$source_dir/build/$preset/wineprefix" wineserver -p
done
stop_wine() {
    for preset in "${run_windows[@]}"; do
        WINEPREFIX="$source_dir/build/$preset/wineprefix" wineserver -k 2>/dev/null || true
    done
}
trap stop_wine EXIT

# --- the Linux release archive (unpacked and run by the native suite) ------
log "building the Linux release and its archive"
cmake --preset release >/dev/null
cmake --build --preset release -j "$jobs" --target package

# --- native build with every suite ----------------------------------------
log "building natively"
archive() { echo "$source_dir/build/$1/ft232h_eeprom-1.0.0-$2"; }
windows_builds=()
archives=("native=$(archive release "linux-$(uname -m).tar.gz")")
for preset in "${run_windows[@]}"; do
    windows_builds+=("$preset=$source_dir/build/$preset")
    archives+=("$preset=$(archive "$preset" "$([ "$preset" = mingw64 ] && echo win64 || echo win32).zip")")
done
join() { local IFS=';'; echo "$*"; }
cmake --preset native \
    -DFT232H_VENDOR_D2XX_TESTS=ON \
    -DFT232H_E2E_WINE="$wine" \
    -DFT232H_E2E_WINDOWS_BUILDS="$(join "${windows_builds[@]}")" \
    -DFT232H_RELEASE_ARCHIVES="$(join "${archives[@]}")" \
    >/dev/null
cmake --build --preset native -j "$jobs"

log "native suites, and the Windows builds under Wine"
ctest --preset native
for preset in "${run_windows[@]}"; do
    log "Windows-only suites: $preset"
    ctest --preset "$preset"
done

# --- a plain build on a machine without GoogleTest -------------------------
# What a packager's build farm does: no preset, no test-only packages. It
# must say what it leaves out, build, and pass the rows, which need none.
log "a plain build that cannot find GoogleTest, and its native rows"
no_gtest_config=$(cmake -S . -B build/no-gtest -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON)
if ! grep -q "GoogleTest not found" <<<"$no_gtest_config"; then
    echo "configuring without GoogleTest did not say that the unit suites are left out"
    exit 1
fi
cmake --build build/no-gtest -j "$jobs"
ctest --test-dir build/no-gtest -L '^native$' -j "$jobs" --output-on-failure --no-tests=error --timeout 900

# --- the release archives, built again ------------------------------------
log "release archives: two more builds of the commit, compared byte for byte"
bash scripts/reproducible_archives.sh

# --- the same native suites under the sanitizers ---------------------------
log "native suites under AddressSanitizer and UndefinedBehaviorSanitizer"
cmake --preset sanitize >/dev/null
cmake --build --preset sanitize -j "$jobs"
ctest --preset sanitize

# --- fuzzing: the seeds, then a minute per target --------------------------
log "fuzz targets (clang, libFuzzer, ASan and UBSan)"
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$jobs"
ctest --preset fuzz

# --- clang-tidy, cppcheck and the layout -----------------------------------
log "static analysis"
bash scripts/static_analysis.sh

log "every suite passed"
