#!/usr/bin/env bash
# The command line of the real runtime: --help and --version without any
# display, one-line mistakes with status 2 (unknown option, missing
# directory, bad keymap, events and settings files, no display), the
# application given as a directory or its index.mcb, and the settings file
# under XDG_CONFIG_HOME with the command line winning.
source "$(dirname "$0")/lib.bash"
e2e_init "$1" "$2"
out=$E2E_TMP/stdout
err=$E2E_TMP/stderr
E2E_SHOW="$out $err"

# Runs the runtime with no display of any kind; status in EXITED.
run_bare() {
    EXITED=0
    env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM timeout 20 "$MCBRUN" "$@" >"$out" 2>"$err" || EXITED=$?
    e2e_no_sanitizer_reports "$err"
}

expect_status() {
    [ "$EXITED" -eq "$1" ] || e2e_fail "$2: status $EXITED, expected $1"
}

# The only line of standard error is exactly this.
expect_one_line() {
    local lines
    lines=$(wc -l <"$err")
    [ "$lines" -eq 1 ] || e2e_fail "$lines lines on standard error, expected one: $1"
    [ "$(cat "$err")" = "$1" ] || e2e_fail "standard error is '$(cat "$err")', expected '$1'"
}

run_bare --help
expect_status 0 "--help"
[ -s "$err" ] && e2e_fail "--help wrote on standard error"
head -n 1 "$out" | grep -qx 'Usage: mcbrun \[OPTIONS\] \[APPDIR | APPDIR/index.mcb\]' || e2e_fail "no usage line"
for option in --auto --keymap --help --version --windowed --fullscreen --scale --portrait --window-position \
    --headless --screenshot --after --frames --every --run-for --events --tilt --location --location-nmea \
    --memory-limit F11 F12; do
    grep -qE -- "^  (-h, )?$option( |$)" "$out" || e2e_fail "--help does not list $option"
done
e2e_expect_grep "$out" '^Exit status:$'
run_bare -h
expect_status 0 "-h"

version=$(sed -nE 's/^project\(mcb VERSION ([0-9.]+) .*/\1/p' "$SOURCE/CMakeLists.txt")
run_bare --version
expect_status 0 "--version"
[ "$(cat "$out")" = "mcbrun $version" ] || e2e_fail "--version printed '$(cat "$out")', expected 'mcbrun $version'"

# No display: one line that says how to run headless, never Qt's abort.
app=$E2E_TMP/app
e2e_install "$SOURCE/tests/e2e/programs/scene.mcbs" "$app"
run_bare "$app"
expect_status 2 "no display"
expect_one_line "mcbrun: no display to open a window on (DISPLAY is not set); use --headless to run without one"
EXITED=0
env -u QT_QPA_PLATFORM DISPLAY=:9999 timeout 20 "$MCBRUN" "$app" >"$out" 2>"$err" || EXITED=$?
expect_status 2 "a display that does not answer"
expect_one_line "mcbrun: cannot open the display :9999; use --headless to run without one"

run_bare --fullscreen --bogus "$app"
expect_status 2 "unknown option"
expect_one_line "mcbrun: unknown option '--bogus' (mcbrun --help lists the options)"
run_bare --scale 0 "$app"
expect_status 2 "--scale 0"
expect_one_line "mcbrun: --scale: '0' is not a whole number from 1 to 16 or 'fit'"
run_bare --headless "$E2E_TMP/none"
expect_status 2 "missing directory"
expect_one_line "mcbrun: no such application directory: '$E2E_TMP/none'"

printf 'W = Up\n# fine so far\nNokey = Down\n' >"$E2E_TMP/keys.txt"
run_bare --headless --keymap "$E2E_TMP/keys.txt" "$app"
expect_status 2 "bad keymap"
expect_one_line "mcbrun: $E2E_TMP/keys.txt:3: unknown host key 'Nokey'"
run_bare --headless --keymap "$E2E_TMP/no-keys.txt" "$app"
expect_status 2 "missing keymap"
expect_one_line "mcbrun: cannot read the keymap file $E2E_TMP/no-keys.txt"
printf 'wait 10\npointer down 1 2\npointer fly 3 4\n' >"$E2E_TMP/events.txt"
run_bare --headless --events "$E2E_TMP/events.txt" "$app"
expect_status 2 "bad events file"
expect_one_line "mcbrun: $E2E_TMP/events.txt:3: expected 'pointer down|move|up X Y', found 'pointer fly 3 4'"

# The application as a directory or as its index.mcb, from anywhere.
cd "$E2E_TMP"
for given in "$app" "$app/index.mcb" app app/index.mcb; do
    rm -f shot.png
    run_bare --headless --screenshot shot.png "$given"
    expect_status 0 "application '$given'"
    e2e_expect_grep "$err" '^LOG: drawn$'
    e2e_expect_pixel shot.png 0 0 FF0000
done

# The settings file: scale from the file, the command line wins; the keymap
# path is relative to the file; a mistake names its line.
mkdir -p "$XDG_CONFIG_HOME/mcbrun"
conf=$XDG_CONFIG_HOME/mcbrun/mcbrun.conf
printf '# mine\nscale = 2\nkeymap = keys.txt\n' >"$conf"
printf 'Q = Up\n' >"$XDG_CONFIG_HOME/mcbrun/keys.txt"
EXITED=0
MCB_SCREENSHOT=$E2E_TMP/window.png timeout 20 "$MCBRUN" --headless --run-for 300 "$app" >"$out" 2>"$err" || EXITED=$?
expect_status 0 "settings file"
[ "$(identify -format %wx%h "$E2E_TMP/window.png")" = 1600x960 ] || e2e_fail "scale 2 from the settings file not used"
EXITED=0
MCB_SCREENSHOT=$E2E_TMP/window.png timeout 20 "$MCBRUN" --headless --scale 1 --run-for 300 "$app" >"$out" 2>"$err" ||
    EXITED=$?
[ "$(identify -format %wx%h "$E2E_TMP/window.png")" = 800x480 ] || e2e_fail "--scale 1 did not win over the file"
printf 'Q = Nokey\n' >"$XDG_CONFIG_HOME/mcbrun/keys.txt"
run_bare --headless "$app"
expect_status 2 "keymap named by the settings file"
expect_one_line "mcbrun: $XDG_CONFIG_HOME/mcbrun/keys.txt:1: unknown application key 'Nokey'"
printf 'scale = 2\nwindow = big\n' >"$conf"
run_bare --headless "$app"
expect_status 2 "bad settings file"
expect_one_line "mcbrun: $conf:2: unknown setting 'window' (scale, keymap, window-position and memory-limit are known)"
run_bare --help
expect_status 0 "--help with a bad settings file"
echo "PASS desktop_command_line"
