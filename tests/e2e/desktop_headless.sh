#!/usr/bin/env bash
# Headless runs of the real runtime without any display: a screenshot of the
# first picture (landscape and portrait), a screenshot after some run time,
# numbered frames, a fixed run time, an events script driving the demo (also
# scaled, with the pointer mapped back and a keymap), and a capture file
# that cannot be written.
source "$(dirname "$0")/lib.bash"
e2e_init "$1" "$2"
unset DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM
err=$E2E_TMP/stderr
E2E_SHOW="$err"
cd "$E2E_TMP"

run() {
    EXITED=0
    timeout 20 "$MCBRUN" "$@" 2>"$err" >/dev/null || EXITED=$?
    e2e_no_sanitizer_reports "$err"
}

milliseconds() {
    echo $(($(date +%s%N) / 1000000))
}

scene=$E2E_TMP/scene
e2e_install "$SOURCE/tests/e2e/programs/scene.mcbs" "$scene"
demo=$E2E_TMP/demo
e2e_install "$SOURCE/examples/demo.mcbs" "$demo"

# The first picture of the still scene, pixel by pixel where it has details.
run --headless --screenshot first.png "$scene"
[ "$EXITED" -eq 0 ] || e2e_fail "--screenshot: status $EXITED"
[ "$(identify -format %wx%h first.png)" = 800x480 ] || e2e_fail "screenshot is not 800 x 480"
[ "$(e2e_count "$err" '^LOG: drawn$')" -eq 1 ] || e2e_fail "the screenshot is not of the first picture"
e2e_expect_pixel first.png 0 0 FF0000
e2e_expect_pixel first.png 1 0 102040
e2e_expect_pixel first.png 479 479 00FF00
e2e_expect_pixel first.png 2 2 808080
e2e_expect_pixel first.png 2 476 808080
e2e_expect_pixel first.png 2 477 102040
e2e_expect_pixel first.png 10 10 FFFFFF
e2e_expect_pixel first.png 200 100 FFFFFF
e2e_expect_pixel first.png 300 200 FFD000
e2e_expect_pixel first.png 399 249 FFD000
e2e_expect_pixel first.png 400 250 102040
e2e_expect_pixel first.png 799 479 102040
# Only the details differ from the background: 1 + 1 + 475 grey + the
# rectangle's 5000; the diagonal is counted from the picture itself.
diagonal=$(convert first.png -fill black -opaque '#102040' -fill black -opaque '#FFD000' \
    -fill black -opaque '#FF0000' -fill black -opaque '#00FF00' -fill black -opaque '#808080' \
    -fill white -opaque white -format '%[fx:int(mean*w*h+0.5)]' info:)
[ "$diagonal" -ge 190 ] && [ "$diagonal" -le 200 ] || e2e_fail "the diagonal has $diagonal pixels"

# Portrait from the start: the same scene on 480 x 800.
run --headless --portrait --screenshot portrait.png "$scene"
[ "$EXITED" -eq 0 ] || e2e_fail "--portrait: status $EXITED"
[ "$(identify -format %wx%h portrait.png)" = 480x800 ] || e2e_fail "portrait screenshot is not 480 x 800"
e2e_expect_pixel portrait.png 0 0 FF0000
e2e_expect_pixel portrait.png 479 479 00FF00
e2e_expect_pixel portrait.png 300 200 FFD000
e2e_expect_pixel portrait.png 479 799 102040

# --after: the screenshot waits for the run time.
start=$(milliseconds)
run --headless --screenshot later.png --after 400 "$demo"
took=$(($(milliseconds) - start))
[ "$EXITED" -eq 0 ] || e2e_fail "--after: status $EXITED"
[ "$took" -ge 400 ] || e2e_fail "--after 400 ended after $took ms"
[ "$(e2e_count "$err" '^LOG: first draw$')" -eq 1 ] || e2e_fail "no first draw before the screenshot"
e2e_expect_pixel later.png 120 300 E02020

# Frames every 50 ms for 600 ms: numbered from 1, the yellow bar moving.
start=$(milliseconds)
run --headless --frames frames --every 50 --run-for 600 "$demo"
took=$(($(milliseconds) - start))
[ "$EXITED" -eq 0 ] || e2e_fail "--frames/--run-for: status $EXITED"
[ "$took" -ge 600 ] || e2e_fail "--run-for 600 ended after $took ms"
count=$(find frames -name 'frame-*.png' | wc -l)
[ "$count" -ge 4 ] || e2e_fail "only $count frames"
for n in $(seq 1 "$count"); do
    [ -f "$(printf 'frames/frame-%05d.png' "$n")" ] || e2e_fail "frame $n is missing of $count"
done
last=$(printf 'frames/frame-%05d.png' "$count")
[ "$(compare -metric AE frames/frame-00001.png "$last" null: 2>&1)" != 0 ] || e2e_fail "the frames do not change"
e2e_expect_pixel frames/frame-00001.png 450 450 1E5020

# An events script drives the demo: a click moves the marker, Right moves the
# box, C turns it green; a screenshot in the middle, Q at the end (the
# program exits, status 0).
cat >play.txt <<'EVENTS'
# the demo, by script
pointer down 600 100
pointer up 600 100
key Right
key C
wait 100
screenshot played.png
key Q
EVENTS
for scale in 1 2; do
    rm -f played.png
    run --headless --scale "$scale" --events play.txt "$demo"
    [ "$EXITED" -eq 0 ] || e2e_fail "events at scale $scale: status $EXITED"
    # The demo's log without its timer lines ("tick" and a count).
    sequence=$(LC_ALL=C awk '/^LOG: tick$/ { getline; next } /^LOG: / { printf "%s|", $0 }' "$err")
    case "$sequence" in
    *"|LOG: pointer pressed|LOG: 600|LOG: 100|LOG: key|LOG: 16777220|LOG: colour|LOG: 1|LOG: key|LOG: 67|LOG: bye|") ;;
    *) e2e_fail "events at scale $scale did not reach the demo in order: $sequence" ;;
    esac
    [ "$(identify -format %wx%h played.png)" = 800x480 ] || e2e_fail "the script's screenshot is not logical"
    e2e_expect_pixel played.png 600 100 FFFFFF      # the marker followed the pointer
    e2e_expect_pixel played.png 395 240 102040      # not in the middle any more
    e2e_expect_pixel played.png 185 300 20C040      # moved right, now green
    e2e_expect_pixel played.png 105 300 102040
done

# A keymap under the script: W stands for Right.
printf 'W = Right\n' >keys.txt
printf 'key W\nkey Right\nquit\n' >keys-play.txt
run --headless --keymap keys.txt --events keys-play.txt "$demo"
[ "$EXITED" -eq 0 ] || e2e_fail "quit: status $EXITED"
[ "$(e2e_count "$err" '^LOG: 16777220$')" -eq 2 ] || e2e_fail "W did not arrive as Right"

# The simulated accelerometer: a fixed reading, and one tilted by keys
# (nine Ctrl+Right presses: 90 degrees, X = 1 g; the tilt keys do not reach
# the program).
tilt=$E2E_TMP/tilt
e2e_install "$SOURCE/tests/e2e/programs/tilt.mcbs" "$tilt"
export MCB_ACCELEROMETER_NODE=$E2E_TMP/no-sensor
printf 'key A\nquit\n' >read.txt
run --headless --tilt -500,0,-866 --events read.txt "$tilt"
[ "$EXITED" -eq 0 ] || e2e_fail "--tilt X,Y,Z: status $EXITED"
[ "$(grep -A2 '^LOG: x$' "$err" | tr '\n' ' ')" = "LOG: x LOG: -1 LOG: -2147483648 " ] ||
    e2e_fail "--tilt -500,0,-866 did not read -0.5: $(grep -A2 '^LOG: x$' "$err" | tr '\n' ' ')"
{
    echo "key A"
    for _ in $(seq 9); do echo "key Ctrl+Right"; done
    echo "key A"
    echo quit
} >tilt-play.txt
run --headless --tilt keys --events tilt-play.txt "$tilt"
[ "$EXITED" -eq 0 ] || e2e_fail "--tilt keys: status $EXITED"
[ "$(grep -A2 '^LOG: x$' "$err" | tr '\n' ' ')" = "LOG: x LOG: 0 LOG: 0 LOG: x LOG: 1 LOG: 0 " ] ||
    e2e_fail "--tilt keys did not tilt: $(grep -A2 '^LOG: x$' "$err" | tr '\n' ' ')"
unset MCB_ACCELEROMETER_NODE

# A screenshot that cannot be written: said, status 1.
run --headless --screenshot "$E2E_TMP/no/such/dir/shot.png" "$scene"
[ "$EXITED" -eq 1 ] || e2e_fail "unwritable screenshot: status $EXITED"
e2e_expect_grep "$err" "^mcbrun: cannot write $E2E_TMP/no/such/dir/shot.png\$"
echo "PASS desktop_headless"
