#!/usr/bin/env bash
# The demo application in the real runtime on Qt's offscreen platform: it
# starts, draws, animates with its timer and logs; SIGTERM ends the run in
# order (status 0), and the window is grabbed at the end (MCB_SCREENSHOT).
source "$(dirname "$0")/lib.bash"
e2e_init "$1" "$2"

app=$E2E_TMP/app
e2e_install "$SOURCE/examples/demo.mcbs" "$app"
err=$E2E_TMP/stderr
shot=$E2E_TMP/window.png
E2E_SHOW="$err"
cd "$app"
QT_QPA_PLATFORM=$OFFSCREEN MCB_SCREENSHOT=$shot e2e_spawn "$MCBRUN" 2>"$err"
run=$SPAWNED

e2e_wait_for "$err" '^LOG: demo started \(caf.\)$'
e2e_wait_for "$err" '^LOG: first draw$'
e2e_wait_for "$err" '^LOG: foreground$'      # no window manager: told at start
e2e_wait_for "$err" '^LOG: 50$' 15           # 50 timer expiries
e2e_expect_grep "$err" '^FATAL: Failed to connect to dbus$'
kill -TERM "$run"
e2e_wait_exit "$run"
[ "$EXITED" -eq 0 ] || e2e_fail "exit status $EXITED after SIGTERM"

[ -f "$shot" ] || e2e_fail "no screenshot"
e2e_expect_pixel "$shot" 750 300 102040      # sky
e2e_expect_pixel "$shot" 450 450 1E5020      # ground
e2e_expect_pixel "$shot" 120 300 E02020      # the box
e2e_expect_pixel "$shot" 400 240 FFFFFF      # the marker
[ "$(e2e_count "$app/demo.log" '^LOG: tick$')" -ge 2 ] || e2e_fail "the log file misses the ticks"
e2e_no_sanitizer_reports "$err"
echo "PASS host_offscreen"
