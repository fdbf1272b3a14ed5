#!/usr/bin/env bash
# The desktop window on a real X server (Xvfb 1600 x 960, no window manager):
# --scale 2 gives a 1600 x 960 window titled with the application's name
# whose screenshot, downscaled, equals the unscaled window's, every pixel a
# 2 x 2 block; F11 turns the window full screen with the picture scaled to
# fit and the pointer mapped back, and back again; F12 saves a screenshot
# next to the application.
source "$(dirname "$0")/lib.bash"
e2e_init "$1" "$2"
unset QT_QPA_PLATFORM
e2e_xvfb 1600x960
err=$E2E_TMP/stderr
E2E_SHOW="$err"
cd "$E2E_TMP"

scene=$E2E_TMP/scene
e2e_install "$SOURCE/tests/e2e/programs/scene.mcbs" "$scene"
demo=$E2E_TMP/demo
e2e_install "$SOURCE/examples/demo.mcbs" "$demo"

# The visible window with that title.
window_of() {
    local id deadline=$((SECONDS + 10))
    until id=$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -n 1) && [ -n "$id" ]; do
        [ "$SECONDS" -lt "$deadline" ] || e2e_fail "no visible window named '$1'"
        sleep 0.05
    done
    echo "$id"
}

# Waits until the window has that size.
expect_size() {
    local id=$1 size=$2 now deadline=$((SECONDS + 5))
    until now=$(xdotool getwindowgeometry "$id" | sed -n 's/^ *Geometry: //p') && [ "$now" = "$size" ]; do
        [ "$SECONDS" -lt "$deadline" ] || e2e_fail "window is $now, expected $size"
        sleep 0.05
    done
}

# Scaled by 2: the window and its picture.
e2e_spawn "$MCBRUN" --scale 2 "$scene" 2>"$err"
run=$SPAWNED
e2e_wait_for "$err" '^LOG: drawn$'
id=$(window_of scene)
expect_size "$id" 1600x960
sleep 0.3
import -window root big.png
kill -TERM "$run"
e2e_wait_exit "$run"
[ "$EXITED" -eq 0 ] || e2e_fail "scaled run: status $EXITED"

# Unscaled, at the top-left corner.
e2e_spawn "$MCBRUN" --window-position 0,0 "$scene" 2>"$err"
run=$SPAWNED
e2e_wait_for "$err" '^LOG: drawn$'
id=$(window_of scene)
expect_size "$id" 800x480
sleep 0.3
import -window root -crop 800x480+0+0 +repage small.png
kill -TERM "$run"
e2e_wait_exit "$run"

e2e_expect_pixel small.png 0 0 FF0000
e2e_expect_pixel small.png 479 479 00FF00
e2e_expect_pixel big.png 1 1 FF0000
e2e_expect_pixel big.png 959 959 00FF00
convert big.png -sample 50% down.png
[ "$(compare -metric AE down.png small.png null: 2>&1)" = 0 ] || e2e_fail "the scaled window, downscaled, differs from the unscaled one"
convert down.png -sample 200% up.png
[ "$(compare -metric AE up.png big.png null: 2>&1)" = 0 ] || e2e_fail "the scaled window is not made of 2 x 2 blocks"

# F11 and F12 in the demo's window.
e2e_spawn "$MCBRUN" "$demo" 2>"$err"
run=$SPAWNED
e2e_wait_for "$err" '^LOG: first draw$'
id=$(window_of demo)
expect_size "$id" 800x480
xdotool mousemove 400 240 key F11
expect_size "$id" 1600x960
sleep 0.3
xdotool mousemove 1201 201 click 1       # logical (600, 100) at scale 2
e2e_wait_for "$err" '^LOG: pointer pressed$'
e2e_wait_for "$err" '^LOG: 600$'
e2e_wait_for "$err" '^LOG: 100$'
sleep 0.3
import -window root full.png
e2e_expect_pixel full.png 1201 201 FFFFFF    # the marker, scaled
xdotool key F11
expect_size "$id" 800x480
xdotool mousemove 100 100 key F12
e2e_wait_for "$err" '^mcbrun: screenshot saved as '
shot=$(find "$demo" -name 'screenshot-*.png' | head -n 1)
[ -n "$shot" ] || e2e_fail "F12 saved no screenshot in the application directory"
[ "$(identify -format %wx%h "$shot")" = 800x480 ] || e2e_fail "the F12 screenshot is not logical"
e2e_expect_pixel "$shot" 600 100 FFFFFF
[ "$(e2e_count "$err" '^LOG: 16777216$')" -eq 0 ] || e2e_fail "F11 or F12 reached the program"
xdotool key q
e2e_wait_exit "$run"
[ "$EXITED" -eq 0 ] || e2e_fail "demo: status $EXITED"
e2e_no_sanitizer_reports "$err"
echo "PASS desktop_xvfb"
