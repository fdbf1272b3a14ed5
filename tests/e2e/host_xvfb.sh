#!/usr/bin/env bash
# The demo application in the real runtime on an X server (Xvfb, no window
# manager): its first picture, the pointer and keys injected with xdotool,
# the timer's animation, its log, and the exit key. What it drew is read from
# screenshots of the root window.
source "$(dirname "$0")/lib.bash"
e2e_init "$1" "$2"

app=$E2E_TMP/app
e2e_install "$SOURCE/examples/demo.mcbs" "$app"
e2e_xvfb
err=$E2E_TMP/stderr
E2E_SHOW="$err"
cd "$app"
e2e_spawn "$MCBRUN" 2>"$err"
run=$SPAWNED

e2e_wait_for "$err" '^LOG: first draw$'
e2e_expect_grep "$err" '^FATAL: Failed to connect to dbus$'   # no system bus: runs on
sleep 0.3
shot=$E2E_TMP/first.png
import -window root "$shot"
e2e_expect_pixel "$shot" 750 300 102040     # sky
e2e_expect_pixel "$shot" 450 450 1E5020     # ground
e2e_expect_pixel "$shot" 799 479 1E5020     # the window covers the screen
e2e_expect_pixel "$shot" 300 200 405080     # grid
e2e_expect_pixel "$shot" 120 300 E02020     # the box, red
e2e_expect_pixel "$shot" 400 240 FFFFFF     # the marker in the middle

xdotool mousemove 600 100 click 1
e2e_wait_for "$err" '^LOG: pointer pressed$'
e2e_wait_for "$err" '^LOG: 600$'
xdotool key Right
e2e_wait_for "$err" '^LOG: 16777220$'
xdotool key c
e2e_wait_for "$err" '^LOG: colour$'
e2e_wait_for "$err" '^LOG: 67$'
sleep 0.3
shot=$E2E_TMP/after.png
import -window root "$shot"
e2e_expect_pixel "$shot" 600 100 FFFFFF     # the marker followed the pointer
e2e_expect_pixel "$shot" 395 240 102040
e2e_expect_pixel "$shot" 185 300 20C040     # moved right, now green
e2e_expect_pixel "$shot" 105 300 102040

e2e_wait_for "$err" '^LOG: tick$' 10        # 25 timer expiries
e2e_expect_grep "$err" '^LOG: foreground$'

xdotool key q
e2e_wait_for "$err" '^LOG: bye$'
e2e_wait_exit "$run"
[ "$EXITED" -eq 0 ] || e2e_fail "exit status $EXITED after the exit key"

# The log file has every line in UTF-8.
log=$app/demo.log
head -n 1 "$log" | od -An -tx1 | tr -d ' \n' | grep -q '4c4f473a2064656d6f20737461727465642028636166c3a929' ||
    e2e_fail "demo.log does not start with the UTF-8 line"
grep -a '^LOG: demo started' "$err" | od -An -tx1 | tr -d ' \n' | grep -q '636166e929' ||
    e2e_fail "standard error does not carry the Latin-1 byte"
e2e_expect_grep "$log" '^LOG: bye$'
e2e_no_sanitizer_reports "$err"
echo "PASS host_xvfb"
