#!/usr/bin/env bash
# The Windows flavour: cross-builds sorvik.exe for x86-64 and i686 with mingw-w64 (statically
# linked) and packs each into its zip, runs the whole x86-64 test suite under wine (once in the
# Western code page 1252 and once in code page 932; its Japanese paths and archive names must work
# in both), runs the i686 suite under 32-bit wine and compares the two programs' outputs, then
# drives the real dialogs on a virtual display, where a redirected run without its index files
# must not wait for a message box.
# Usage: .ci/windows.sh            (from anywhere; build folders go into the repository)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

if [ "$(id -u)" = 0 ] && command -v apt-get >/dev/null; then
    export DEBIAN_FRONTEND=noninteractive
    dpkg --add-architecture i386
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends cmake ninja-build googletest python3 \
        g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix wine64 wine32 wine locales \
        xvfb xauth xdotool imagemagick >/dev/null
fi
# Wine takes its ANSI code page from the locale; ja_JP gives code page 932.
if ! locale -a 2>/dev/null | grep -qi '^ja_JP\.utf-\?8$'; then
    localedef -i ja_JP -f UTF-8 ja_JP.UTF-8
fi

# --- Cross builds ----------------------------------------------------------------------------------
# Both flavours with their tests; warnings fail both builds.
for flavour in win64:x86_64:ON win32:i686:ON; do
    IFS=: read -r name processor tests <<<"$flavour"
    cmake -S . -B "build-$name" -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DSORVIK_BUILD_TESTS="$tests" -DSORVIK_BUILD_BENCH=OFF -DSORVIK_WARNINGS_AS_ERRORS=ON \
        -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw-$processor.cmake" >/dev/null
    cmake --build "build-$name"
done
file build-win32/sorvik.exe build-win64/sorvik.exe 2>/dev/null || true
status=0
# Each release exe is stripped and carries its version (the resource's strings are UTF-16).
for flavour in win32:i686 win64:x86_64; do
    IFS=: read -r name processor <<<"$flavour"
    ! "$processor-w64-mingw32-objdump" -h "build-$name/sorvik.exe" | grep -q '\.debug' ||
        { echo "build-$name/sorvik.exe: not stripped"; status=1; }
    strings -e l "build-$name/sorvik.exe" | grep -qx ProductVersion ||
        { echo "build-$name/sorvik.exe: no version resource"; status=1; }
done

# --- The zips ----------------------------------------------------------------------------------------
# cpack packs what `cmake --install` puts in place into build-<name>/sorvik-<version>-<name>.zip.
# Lists the zip and fails when it is missing or lacks the program, the README or the licence.
check_zip() {
    rm -f "build-$1"/sorvik-*-"$1".zip
    (cd "build-$1" && cpack >/dev/null) || return 1
    local zip listing
    zip=$(find "build-$1" -maxdepth 1 -name "sorvik-*-$1.zip" | head -1)
    [ -n "$zip" ] || { echo "cpack made no zip in build-$1"; return 1; }
    listing=$(python3 -m zipfile -l "$zip") || return 1
    echo "$zip holds:"
    echo "$listing"
    for file in sorvik.exe README.md LICENSE docs/formats.md; do
        grep -q "^sorvik-[^/]*-$1/$file " <<<"$listing" || { echo "$zip: $file is missing"; return 1; }
    done
}
for name in win64 win32; do
    check_zip "$name" || status=1
done

# --- The test suites under wine ----------------------------------------------------------------
# No display: the dialogs and the message box fail at once instead of waiting for a user.
unset DISPLAY
export WINEDEBUG=-all
keepers=()
# Starts the wine prefix of build-<name> for the architecture `arch` (win64 or win32).
start_wine() {
    export WINEPREFIX="$root/build-$1/wineprefix" WINEARCH=$2
    mkdir -p "$WINEPREFIX"
    wineserver -p </dev/null >/dev/null 2>&1 || true  # already running is fine
    wineboot --init </dev/null >/dev/null 2>&1
    # Without a display, the first window call after a few idle seconds waits 10 s for wine's
    # desktop process; a process that stays connected to it keeps every such call fast.
    wine cmd /c "ping -n 3600 127.0.0.1 >nul" </dev/null >/dev/null 2>&1 &
    keepers+=($!)
}
stop_wine() {
    for keeper in "${keepers[@]}"; do kill "$keeper" 2>/dev/null || true; done
    keepers=()
    wineserver -k </dev/null >/dev/null 2>&1 || true
}
trap stop_wine EXIT

# Now and then wine fails to start a test process at all: it exits within milliseconds, before
# the program prints anything. A failed test is therefore run a second time.
wine_ctest=(ctest --output-on-failure --timeout 300 -j "$(nproc)" --repeat until-pass:2)
start_wine win64 win64
# Code page 1252 (wine takes its ANSI code page from the locale's language, and needs a UTF-8
# locale to store Japanese names on the disk), then ja_JP's 932.
(cd build-win64 && LC_ALL=C.UTF-8 "${wine_ctest[@]}") || status=1
(cd build-win64 && LC_ALL=ja_JP.UTF-8 "${wine_ctest[@]}") || status=1
# The samples decoded, and encoded back, by the x86-64 program; the i686 one must agree.
compare=$(mktemp -d /tmp/sorvik-compare-XXXXXX)
run_flavour() {
    mkdir -p "$compare/$1"
    cp samples/*.vag "$compare/$1/"
    # Relative paths: a Unix path's leading '/' would read as an option.
    (cd "$compare/$1" && wine "$root/build-$1/sorvik.exe" "*.vag" wav >/dev/null &&
        wine "$root/build-$1/sorvik.exe" "wav\\*.WAV" vag >/dev/null)
}
run_flavour win64 || { echo "the x86-64 program failed on the samples"; status=1; }
stop_wine
start_wine win32 win32
(cd build-win32 && LC_ALL=C.UTF-8 "${wine_ctest[@]}") || status=1
run_flavour win32 || { echo "the i686 program failed on the samples"; status=1; }
stop_wine
trap - EXIT
if ! diff -r "$compare/win64" "$compare/win32"; then
    echo "the i686 program's outputs differ from the x86-64 program's"
    status=1
fi
rm -rf "$compare"

# --- The real dialogs on a virtual display ----------------------------------------------------------
tests/dialog/open_file_dialog.sh build-win64/sorvik.exe build-win64/tests/sorvik_tests.exe ||
    status=1
exit $status
