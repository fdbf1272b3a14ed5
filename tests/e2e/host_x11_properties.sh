#!/usr/bin/env bash
# The Hildon window-manager protocol on a real X server (Xvfb): the runtime
# marks the root window non-composited, follows the root window's
# _MB_CURRENT_APP_WINDOW with foreground and background events, and asks for
# portrait through its window's _HILDON_PORTRAIT_MODE_REQUEST; a window left
# landscape shows the portrait picture turned. The test plays the window
# manager with a small Xlib helper.
source "$(dirname "$0")/lib.bash"
e2e_init "$1" "$2"

helper=$BUILD/e2e-helpers/x11_property
if [ ! -x "$helper" ] || [ "$SOURCE/tests/e2e/x11_property.c" -nt "$helper" ]; then
    mkdir -p "$BUILD/e2e-helpers"
    gcc -O1 -o "$helper.tmp" "$SOURCE/tests/e2e/x11_property.c" -lX11
    mv "$helper.tmp" "$helper"
fi

app=$E2E_TMP/app
e2e_install "$SOURCE/examples/demo.mcbs" "$app"
e2e_xvfb
# A Hildon desktop: its atoms exist and its current window is someone else's.
"$helper" intern _HILDON_NON_COMPOSITED_WINDOW
"$helper" intern _HILDON_PORTRAIT_MODE_REQUEST
"$helper" set-root _MB_CURRENT_APP_WINDOW 0x123
err=$E2E_TMP/stderr
E2E_SHOW="$err"
cd "$app"
e2e_spawn "$MCBRUN" 2>"$err"
run=$SPAWNED
e2e_wait_for "$err" '^LOG: first draw$'
[ "$("$helper" root _HILDON_NON_COMPOSITED_WINDOW)" = 1 ] || e2e_fail "root window not marked non-composited"
sleep 0.3
[ "$(e2e_count "$err" '^LOG: (fore|back)ground$')" -eq 0 ] || e2e_fail "visibility delivered before the window manager said so"

"$helper" set-root _MB_CURRENT_APP_WINDOW 0xFFFFFFFF
e2e_wait_for "$err" '^LOG: foreground$'
"$helper" set-root _MB_CURRENT_APP_WINDOW 0x456
e2e_wait_for "$err" '^LOG: background$'

# Portrait: requested on the window, which stays landscape (no window
# manager honours it), so the picture is turned by -90 degrees.
xdotool mousemove 400 240 key o
e2e_wait_for "$err" '^LOG: orientation$'
e2e_wait_for "$err" '^LOG: 1$'
deadline=$((SECONDS + 5))
until [ "$("$helper" find _HILDON_PORTRAIT_MODE_REQUEST)" = 1 ]; do
    [ "$SECONDS" -lt "$deadline" ] || e2e_fail "no portrait request on the window"
    sleep 0.05
done
sleep 0.3
shot=$E2E_TMP/portrait.png
import -window root "$shot"
e2e_expect_pixel "$shot" 450 100 1E5020      # logical ground (y 400..479) is a band on the right
e2e_expect_pixel "$shot" 200 179 405080      # logical grid line x = 300 is a row
e2e_expect_pixel "$shot" 200 229 102040      # sky
e2e_expect_pixel "$shot" 320 340 E02020      # the box, logical (100, 280) .. (179, 359)
e2e_expect_pixel "$shot" 600 240 102040      # logical y 600, below the scene: sky

xdotool key o
e2e_wait_for "$err" '^LOG: 2$'
deadline=$((SECONDS + 5))
until [ "$("$helper" find _HILDON_PORTRAIT_MODE_REQUEST)" = 0 ]; do
    [ "$SECONDS" -lt "$deadline" ] || e2e_fail "no landscape request on the window"
    sleep 0.05
done

xdotool key q
e2e_wait_exit "$run"
[ "$EXITED" -eq 0 ] || e2e_fail "exit status $EXITED"
e2e_no_sanitizer_reports "$err"
echo "PASS host_x11_properties"
