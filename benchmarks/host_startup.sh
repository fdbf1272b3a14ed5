#!/usr/bin/env bash
# Start-up speed: time from process start to the first completed paint of a
# small application (the bundled demo) in the runtime, against an empty Qt 6
# widget program that paints once, both under the same Xvfb, alternating, in
# the same run. Prints the median of each and their ratio.
#
#   benchmarks/host_startup.sh [build directory (default: build)] [runs (default: 20)]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
runs=${2:-20}
[ -x "$build/mcbrun" ] && [ -x "$build/mcb-as" ] || { echo "build mcbrun and mcb-as in $build first" >&2; exit 1; }

tmp=$(mktemp -d)
xvfb=""
cleanup() {
    [ -n "$xvfb" ] && { kill "$xvfb" 2>/dev/null || true; wait "$xvfb" 2>/dev/null || true; }
    rm -rf "$tmp"
}
trap cleanup EXIT

reference=$build/bench-helpers/empty_widget
if [ ! -x "$reference" ] || [ "$root/benchmarks/host/empty_widget.cpp" -nt "$reference" ]; then
    mkdir -p "$build/bench-helpers"
    g++ -std=c++17 -O2 -fPIC -o "$reference" "$root/benchmarks/host/empty_widget.cpp" \
        $(pkg-config --cflags --libs Qt6Widgets)
fi
mkdir -p "$tmp/app"
"$build/mcb-as" -o "$tmp/app/index.mcb" "$root/examples/demo.mcbs"

Xvfb -displayfd 5 -screen 0 800x480x24 -nolisten tcp -noreset 5>"$tmp/display" 2>/dev/null &
xvfb=$!
until [ -s "$tmp/display" ]; do sleep 0.05; done
export DISPLAY=:$(head -n 1 "$tmp/display")
until xdpyinfo >/dev/null 2>&1; do sleep 0.05; done
export DBUS_SESSION_BUS_ADDRESS=disabled:

# Milliseconds from the start of the command to its first paint.
measure() {
    local start end
    start=$(date +%s%N)
    end=$(cd "$tmp/app" && MCB_REPORT_FIRST_PAINT=1 "$@" 2>/dev/null | sed -n 's/^first-paint-ns //p')
    [ -n "$end" ] || { echo "no paint reported by $*" >&2; exit 1; }
    echo $(((end - start) / 1000))
}

median() {
    sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

measure "$reference" >/dev/null   # warm the caches
measure "$build/mcbrun" >/dev/null
: >"$tmp/runtime.us"
: >"$tmp/reference.us"
for _ in $(seq 1 "$runs"); do
    measure "$build/mcbrun" >>"$tmp/runtime.us"
    measure "$reference" >>"$tmp/reference.us"
done
runtime=$(median <"$tmp/runtime.us")
reference_us=$(median <"$tmp/reference.us")
awk -v r="$runtime" -v q="$reference_us" -v n="$runs" 'BEGIN {
    printf "start to first paint, median of %d runs under Xvfb:\n", n
    printf "  mcbrun (demo application): %8.1f ms\n", r / 1000
    printf "  empty Qt widget:           %8.1f ms\n", q / 1000
    printf "  ratio: %.2f\n", r / q
}'
