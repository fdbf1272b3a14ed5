#!/usr/bin/env bash
# The bundled game played headless by an events script, with its pieces in
# a fixed order (pieces.txt): keys, buttons of the pointer and a tilt of the
# simulated accelerometer place five O pieces (two rows: 300 points), two I
# pieces and an O (one row: 100 more); then pieces are dropped where they
# enter until the game is over. The score on the screen is compared with the
# digits cut out of the font image (the game's panel colours around them),
# and the high-score file must hold it. A second run shows the high score
# read back; a third one a broken high-score file taken as 0.
source "$(dirname "$0")/lib.bash"
e2e_init "$1" "$2"
unset DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM
export MCB_ACCELEROMETER_NODE=$E2E_TMP/no-sensor
err=$E2E_TMP/stderr
E2E_SHOW="$err"
cd "$E2E_TMP"

run() {
    EXITED=0
    timeout 30 "$MCBRUN" "$@" 2>"$err" >/dev/null || EXITED=$?
    e2e_no_sanitizer_reports "$err"
    if LC_ALL=C grep -q '^LOG: uncaught$' "$err"; then
        e2e_fail "the game raised: $(grep -A1 '^LOG: uncaught$' "$err" | tail -n 1)"
    fi
}

game=$E2E_TMP/blocks
e2e_install "$SOURCE/examples/blocks/blocks.mcbs" "$game"
cp "$SOURCE"/examples/blocks/*.raw "$game/"    # the sounds (the images come with the program)
printf 'OOOOOIIO\n' >"$game/pieces.txt"

# The font: glyphs from code 32 side by side, the last row marking where
# each ends (a marker column begins the next glyph; column 0 is not one).
font=$game/font.png
font_width=$(identify -format %w "$font")
glyph_height=$(($(identify -format %h "$font") - 1))
mapfile -t markers < <(convert "$font" -crop "${font_width}x1+0+${glyph_height}" +repage txt:- |
    awk -F'[,:]' 'NR > 1 && $1 >= 2 && !/#000000/ { print $1 }')
[ "${#markers[@]}" -ge 59 ] || e2e_fail "font.png has ${#markers[@]} glyphs"

# Expects TEXT drawn at X, Y of IMAGE in COLOUR over BACKGROUND (RRGGBB),
# followed by an empty glyph's width of background.
expect_text() {
    local image=$1 x=$2 y=$3 colour=$4 background=$5 text=$6
    local parts=() width=0 i code start end
    for ((i = 0; i < ${#text}; i++)); do
        code=$(printf '%d' "'${text:i:1}")
        start=1
        [ "$code" -eq 32 ] || start=${markers[code - 33]}
        end=${markers[code - 32]}
        convert "$font" -crop "$((end - start))x${glyph_height}+${start}+0" +repage "glyph-$i.png"
        parts+=("glyph-$i.png")
        width=$((width + end - start))
    done
    convert "$font" -crop "$((markers[0] - 1))x${glyph_height}+1+0" +repage glyph-space.png
    width=$((width + markers[0] - 1))
    convert "${parts[@]}" glyph-space.png +append -alpha off \
        -fill "#$colour" -opaque white -fill "#$background" -opaque black expected.png
    convert "$image" -crop "${width}x${glyph_height}+${x}+${y}" +repage -alpha off actual.png
    local differ
    differ=$(compare -metric AE expected.png actual.png null: 2>&1) || true
    [ "$differ" = 0 ] || e2e_fail "'$text' at ($x, $y) of $(basename "$image"): $differ pixels differ"
}

panel=182030
digits=FFD000

# The scripted game. The O pieces enter at columns 4-5 and go to 0-1 (four
# Left keys), 2-3 (two taps on the < button), 4-5, 6-7 (two Right keys) and
# 8-9 (tilted right until it meets the wall); the I pieces enter at 3-6.
{
    echo "key Return"
    for _ in 1 2 3 4; do echo "key Left"; done
    echo "key Space"
    for _ in 1 2; do printf 'pointer down 600 240\npointer up 600 240\n'; done
    echo "key Space"
    echo "key Space"
    printf 'key Right\nkey Right\nkey Space\n'
    printf 'key Ctrl+Right\nwait 1200\nkey Ctrl+Space\nkey Space\n'
    printf 'key Left\nkey Left\nkey Left\nkey Space\n'
    printf 'key Right\nkey Space\n'
    for _ in 1 2 3 4; do printf 'pointer down 720 240\npointer up 720 240\n'; done
    printf 'pointer down 720 330\npointer up 720 330\n'   # the DROP button
    printf 'wait 300\nscreenshot playing.png\n'
    for _ in $(seq 30); do echo "key Space"; done
    printf 'wait 100\nscreenshot over.png\nquit\n'
} >play.txt
run --headless --tilt keys --events play.txt "$game"
[ "$EXITED" -eq 0 ] || e2e_fail "the scripted game: status $EXITED"
sequence=$(LC_ALL=C awk '/^LOG: (game|score|high)/ { printf "%s|", $0 }' "$err")
[ "$sequence" = "LOG: high score 0|LOG: game started|LOG: score 300|LOG: score 400|LOG: game over 400|LOG: high score saved|" ] ||
    e2e_fail "the game went otherwise: $sequence"
expect_text playing.png 40 118 "$digits" "$panel" 400     # score
expect_text playing.png 40 198 "$digits" "$panel" 0       # high score
expect_text playing.png 40 278 "$digits" "$panel" 1       # level
expect_text playing.png 40 358 "$digits" "$panel" 3       # rows
expect_text over.png 40 118 "$digits" "$panel" 400
expect_text over.png 40 198 "$digits" "$panel" 400
expect_text over.png 40 90 8890B0 "$panel" SCORE
[ "$(cat "$game/highscore.txt")" = 400 ] || e2e_fail "highscore.txt holds '$(cat "$game/highscore.txt")'"
# The well after the game: the column the pieces were dropped in is full.
e2e_expect_pixel over.png 411 31 "$(e2e_pixel "$game/tiles.png" 33 11)"

# The next start shows the high score from the file.
run --headless --screenshot title.png "$game"
[ "$EXITED" -eq 0 ] || e2e_fail "second start: status $EXITED"
expect_text title.png 40 198 "$digits" "$panel" 400
expect_text title.png 40 118 "$digits" "$panel" 0

# A high-score file that holds no number counts as 0.
printf 'best: many\n' >"$game/highscore.txt"
run --headless --screenshot broken.png "$game"
[ "$EXITED" -eq 0 ] || e2e_fail "broken high-score file: status $EXITED"
expect_text broken.png 40 198 "$digits" "$panel" 0
echo "PASS blocks_headless"
