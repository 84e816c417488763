#!/usr/bin/env bash
# Drives the real dialogs of the Windows build under wine on a virtual display: runs sorvik.exe
# with no arguments, types the path of a VAG file into the open-file dialog, cancels the folder
# browser, and checks that the WAV file is written beside the input. Given the test program as
# well, it then runs the test of an archive without its index files on the same display, with the
# output redirected: no message box may hold that run up.
#
# Usage: tests/dialog/open_file_dialog.sh path/to/sorvik.exe [path/to/sorvik_tests.exe]
# Needs wine, xvfb-run (xvfb, xauth) and xdotool; skips with a message when any is
# missing. On failure a screenshot is left in the work folder (with imagemagick's import).
set -euo pipefail

exe=$(realpath "$1")
tests_exe=${2:+$(realpath "$2")}
for tool in wine xvfb-run xauth xdotool; do
    if ! command -v "$tool" >/dev/null; then
        echo "dialog test skipped: $tool is not installed"
        exit 0
    fi
done

work=$(mktemp -d /tmp/sorvik-dialog-XXXXXX)
mkdir -p "$work/in" "$work/run"
cp "$(dirname "$0")/../data/nolibgs_hello.vag" "$work/in/tone.vag"  # a real mono VAG file

# A prefix of its own: a desktop process started earlier without a display would not show windows.
# An English locale, so the dialogs have the titles looked for below.
export WINEPREFIX="$work/wineprefix" WINEARCH=win64 WINEDEBUG=-all LC_ALL=C.UTF-8
windows_input="Z:${work//\//\\}\\in\\tone.vag"

cat > "$work/drive.sh" <<DRIVE
#!/usr/bin/env bash
set -u
wineboot --init </dev/null >/dev/null 2>&1
cd "$work/run"
wine "$exe" </dev/null >"$work/output.txt" 2>"$work/errors.txt" &
program=\$!
# Waits up to 60 s for a visible window of that title and prints its id. (xdotool's own --sync
# can die of an X error when a window goes away while it looks.)
find_window() {
    for _ in \$(seq 1 120); do
        found=\$(xdotool search --onlyvisible --name "\$1" 2>/dev/null | head -1)
        if [ -n "\$found" ]; then echo "\$found"; return; fi
        sleep 0.5
    done
}
fail() {
    echo "dialog test: \$1"
    /usr/bin/import -window root "$work/screen.png" 2>/dev/null || true
    kill \$program 2>/dev/null
    exit 1
}
opener=\$(find_window '^Open\$')
[ -n "\$opener" ] || fail "the open-file dialog did not appear"
xdotool windowfocus --sync "\$opener"
xdotool type --delay 20 '$windows_input'
xdotool key Return
browser=\$(find_window '^Browse for Folder\$')
[ -n "\$browser" ] || fail "the folder browser did not appear"
xdotool windowfocus --sync "\$browser"
xdotool key Escape
for _ in \$(seq 1 60); do
    kill -0 \$program 2>/dev/null || break
    sleep 1
done
kill -0 \$program 2>/dev/null && fail "sorvik.exe did not end"
wait \$program || exit 1
if [ -n "$tests_exe" ]; then
    timeout 180 wine "$tests_exe" --gtest_filter='CommandLine.AnArchiveWithAMissingIndex*' \
        </dev/null >"$work/unattended.txt" 2>&1 ||
        fail "a redirected run without an index did not end by itself (status \$?)"
fi
DRIVE
chmod +x "$work/drive.sh"

status=0
xvfb-run -a -s "-screen 0 1024x768x24" "$work/drive.sh" || status=$?
wineserver -k 2>/dev/null || true

expected_output=$(printf 'starting...\rdestination:\r\n\tZ:%s\\in\\\r\n\r\ndecoding file(s):\r\n\r\t1\r\nfinished!\r\n' "${work//\//\\}")
if [ $status -ne 0 ]; then
    echo "dialog test FAILED (status $status); see $work"
    exit 1
fi
if [ "$(cat "$work/output.txt")" != "$expected_output" ]; then
    echo "dialog test FAILED: unexpected console output:"
    od -c "$work/output.txt" | head -20
    exit 1
fi
# Beside the input: the WAV alone, no temporary file left over; nothing in the working folder.
if [ "$(head -c 4 "$work/in/tone.WAV" 2>/dev/null)" != "RIFF" ] ||
    [ "$(ls -A "$work/in")" != $'tone.WAV\ntone.vag' ] || [ -n "$(ls -A "$work/run")" ]; then
    echo "dialog test FAILED: the WAV is not alone beside the input; files:"
    find "$work" -path "$work/wineprefix" -prune -o -type f -print
    exit 1
fi
echo "dialog test passed: $(stat -c %s "$work/in/tone.WAV")-byte WAV beside the input"
rm -rf "$work"
