#!/usr/bin/env bash
# Builds the runtime and runs the bundled game (examples/blocks) in a window;
# ./run.sh --demo runs the demo application instead. Installs the Debian
# packages it needs first (scripts/setup.sh). Other options go to the runtime
# (./run.sh --scale 2, ./run.sh --headless --screenshot s.png).
set -euo pipefail
cd "$(dirname "$0")"

example=blocks
if [ "${1:-}" = --demo ]; then
    example=demo
    shift
fi

headless=no
for argument in "$@"; do
    case "$argument" in
    --headless | --help | -h | --version) headless=yes ;;
    esac
done
if [ "$headless" = no ] && [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
    cat >&2 <<'TEXT'
run.sh: no display to open the window on. To run the game headless:
  ./run.sh --headless --screenshot shot.png
      (no window: the game's first picture is written to shot.png)
  ./run.sh --headless
      (no window at all: the game runs and logs on standard error; Ctrl+C ends it)
  ./run.sh --demo --headless --screenshot shot.png
      (the same for the demo application)
  xvfb-run -a -s "-screen 0 800x480x24" ./run.sh
      (an X server in memory: screenshots with "import -window root shot.png")
TEXT
    exit 1
fi

scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --target mcbrun mcb-as
app=build/examples/$example
mkdir -p "$app"
if [ "$example" = blocks ]; then
    build/mcb-as -o "$app/index.mcb" examples/blocks/blocks.mcbs
    cp examples/blocks/*.png examples/blocks/*.raw "$app/"   # its images and sounds (its high score stays)
    echo "blocks: Return starts, Left/Right move, Up turns, Down drops a row, Space drops," \
        "P pauses, Q quits; or tap the buttons; with --tilt keys Ctrl+arrows tilt" >&2
    exec build/mcbrun "$@" "$app"
fi
build/mcb-as -o "$app/index.mcb" examples/demo.mcbs
cp examples/*.png "$app/"                # the images the demo loads

echo "demo: the marker follows the pointer, arrow keys move the box, C changes its colour," \
    "O turns the screen, Q quits" >&2
exec build/mcbrun "$@" "$app"
