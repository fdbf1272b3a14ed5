#!/usr/bin/env bash
# The cost of trace recording: fib(30) (a call-heavy program) and the sieve
# (no calls in its loops) run by vmrun without and with "--trace FILE", in
# one run, best of N processor times each. With a reference build (another
# build directory, e.g. of an older commit) its untraced times are measured
# in the same run, so tracing that is off can be compared with no tracing.
# Usage: benchmarks/trace_overhead.sh [build dir] [runs] [reference build dir]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/../build}
runs=${2:-5}
reference=${3:-}
vmrun=$build/benchmarks/vmrun
[ -x "$vmrun" ] || { echo "build $vmrun first (cmake --build $build --target vmrun)"; exit 1; }
[ -z "$reference" ] || [ -x "$reference/benchmarks/vmrun" ] || { echo "no vmrun in $reference"; exit 1; }
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

time_of() {  # the reported "time N s" of one run
    "$@" 2>&1 >/dev/null | awk '/^time /{print $2}'
}
best() {  # best of $runs, the variants interleaved run by run
    local -n out=$1
    shift
    local variant t
    for _ in $(seq "$runs"); do
        for variant in "$@"; do
            # shellcheck disable=SC2086
            t=$(time_of $variant)
            if [ -z "${out[$variant]:-}" ] || awk -v a="$t" -v b="${out[$variant]}" 'BEGIN{exit !(a < b)}'; then
                out[$variant]=$t
            fi
        done
    done
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN{printf "%.2f", a / b}'; }

if [ -n "$reference" ]; then
    printf "%-6s %10s %10s %8s %10s %8s %10s\n" program "off (s)" "on (s)" "on/off" "ref (s)" "off/ref" "trace MB"
else
    printf "%-6s %10s %10s %8s %10s\n" program "off (s)" "on (s)" "on/off" "trace MB"
fi
for p in fib sieve; do
    program=$here/vm/$p.mcbs
    off="$vmrun $program"
    on="$vmrun --trace $scratch/$p.trace $program"
    ref=${reference:+$reference/benchmarks/vmrun $program}
    declare -A times=()
    if [ -n "$reference" ]; then best times "$off" "$on" "$ref"; else best times "$off" "$on"; fi
    mb=$(awk -v b="$(stat -c %s "$scratch/$p.trace")" 'BEGIN{printf "%.1f", b / 1e6}')
    if [ -n "$reference" ]; then
        printf "%-6s %10.3f %10.3f %8s %10.3f %8s %10s\n" "$p" "${times[$off]}" "${times[$on]}" \
            "$(ratio "${times[$on]}" "${times[$off]}")" "${times[$ref]}" "$(ratio "${times[$off]}" "${times[$ref]}")" "$mb"
    else
        printf "%-6s %10.3f %10.3f %8s %10s\n" "$p" "${times[$off]}" "${times[$on]}" \
            "$(ratio "${times[$on]}" "${times[$off]}")" "$mb"
    fi
    unset times
done
