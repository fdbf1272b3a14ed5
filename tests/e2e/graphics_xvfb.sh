#!/usr/bin/env bash
# Images and fonts in the real runtime on an X server (Xvfb): a program draws
# an image loaded from its directory, text in a bitmap font and in the
# system font, and the image turned by 0, 90 and 180 degrees (each key turns
# it a quarter). Screenshots of the root window are checked at known points.
source "$(dirname "$0")/lib.bash"
e2e_init "$1" "$2"

app=$E2E_TMP/app
e2e_install "$SOURCE/tests/e2e/programs/graphics.mcbs" "$app"
cp "$SOURCE/examples/font.png" "$app/"
# 40 x 30: the left half red, the right half blue.
convert -size 40x30 xc:'#FF0000' -fill '#0000FF' -draw 'rectangle 20,0 39,29' "PNG32:$app/image.png"
e2e_xvfb
err=$E2E_TMP/stderr
E2E_SHOW="$err"
cd "$app"
e2e_spawn "$MCBRUN" 2>"$err"
run=$SPAWNED

# Screenshot after the next draw that follows the given number of turns.
shoot() {
    local turns=$1 shot=$2
    e2e_wait_count "$err" '^LOG: turn$' "$turns"
    sleep 0.3
    import -window root "$shot"
}

e2e_wait_for "$err" '^LOG: drawn$'
shot=$E2E_TMP/upright.png
shoot 0 "$shot"
e2e_expect_pixel "$shot" 5 5 808080         # the background
e2e_expect_pixel "$shot" 25 25 FF0000       # the image at (20, 20)
e2e_expect_pixel "$shot" 55 45 0000FF
e2e_expect_pixel "$shot" 61 25 808080
# "HI" in the bitmap font at (100, 300), green: glyphs start one column in,
# each font pixel is 3 x 3, rows 1 to 21 of the line.
e2e_expect_pixel "$shot" 102 304 00FF00     # H: left stroke
e2e_expect_pixel "$shot" 108 304 808080     # between the strokes
e2e_expect_pixel "$shot" 108 311 00FF00     # the bar
e2e_expect_pixel "$shot" 114 318 00FF00     # right stroke
e2e_expect_pixel "$shot" 126 315 00FF00     # I: the stem, 18 pixels on
e2e_expect_pixel "$shot" 102 323 808080     # below the glyphs
e2e_expect_pixel "$shot" 100 304 808080     # the glyph's first column is empty
# A full block in the system font at (300, 300), white.
e2e_expect_pixel "$shot" 310 320 FFFFFF
e2e_expect_pixel "$shot" 295 320 808080
# The image centred on (400, 100), upright: red left, blue right.
e2e_expect_pixel "$shot" 390 100 FF0000
e2e_expect_pixel "$shot" 410 100 0000FF
e2e_expect_pixel "$shot" 400 80 808080

xdotool key a
shot=$E2E_TMP/quarter.png
shoot 1 "$shot"
e2e_expect_pixel "$shot" 400 90 0000FF      # turned counter-clockwise: blue on top
e2e_expect_pixel "$shot" 400 110 FF0000
e2e_expect_pixel "$shot" 380 100 808080     # 30 wide now
e2e_expect_pixel "$shot" 400 82 0000FF      # 40 tall

xdotool key b
shot=$E2E_TMP/half.png
shoot 2 "$shot"
e2e_expect_pixel "$shot" 390 100 0000FF     # upside down: blue left, red right
e2e_expect_pixel "$shot" 410 100 FF0000
e2e_expect_pixel "$shot" 400 80 808080
e2e_expect_pixel "$shot" 25 25 FF0000       # the plain image is unchanged

kill -TERM "$run"
e2e_wait_exit "$run"
[ "$EXITED" -eq 0 ] || e2e_fail "exit status $EXITED after SIGTERM"
e2e_no_sanitizer_reports "$err"
echo "PASS graphics_xvfb"
