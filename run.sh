#!/usr/bin/env bash
# Builds the runtime and runs the bundled demo application in a window.
# Installs the Debian packages it needs first (scripts/setup.sh). Options go
# to the runtime (./run.sh --scale 2, ./run.sh --headless --screenshot s.png).
set -euo pipefail
cd "$(dirname "$0")"

headless=no
for argument in "$@"; do
    case "$argument" in
    --headless | --help | -h | --version) headless=yes ;;
    esac
done
if [ "$headless" = no ] && [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
    cat >&2 <<'TEXT'
run.sh: no display to open the window on. To run the demo headless:
  ./run.sh --headless --screenshot shot.png
      (no window: the demo's first picture is written to shot.png)
  ./run.sh --headless
      (no window at all: the demo runs and logs on standard error; Ctrl+C ends it)
  xvfb-run -a -s "-screen 0 800x480x24" ./run.sh
      (an X server in memory: screenshots with "import -window root shot.png")
TEXT
    exit 1
fi

scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --target mcbrun mcb-as
app=build/examples/demo
mkdir -p "$app"
build/mcb-as -o "$app/index.mcb" examples/demo.mcbs
cp examples/*.png "$app/"                # the images the demo loads

echo "demo: the marker follows the pointer, arrow keys move the box, C changes its colour," \
    "O turns the screen, Q quits" >&2
exec build/mcbrun "$@" "$app"
