#!/usr/bin/env bash
# Every speed figure of the runtime in one run, with its ratio against the
# reference measured in the same run: the interpreter programs against Lua
# 5.4 and luajit -joff, the fixed-point multiply-add against the same loop
# in C++, the heap's small-block allocation against glibc malloc and its
# collection pauses (the heap benchmark binaries as they are), and the
# bundled game's events per second replayed headless.
# Usage: benchmarks/all_figures.sh [build dir] [runs] [replay seconds]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../build}" && pwd)
runs=${2:-5}
replay=${3:-10}
bench=$build/benchmarks
for b in vmrun FixedPointBench HeapBench AppReplay; do
  [ -x "$bench/$b" ] || { echo "build $bench/$b first (cmake --build $build --target $b)"; exit 1; }
done

# real_time of a google-benchmark run in ns per its per_iteration counter or
# per iteration: NAME -> seconds per unit of work.
gbench() {
  "$1" --benchmark_format=json --benchmark_repetitions="$runs" --benchmark_report_aggregates_only=false \
    2>/dev/null | python3 -c '
import json, sys
best = {}
for b in json.load(sys.stdin)["benchmarks"]:
    if b.get("run_type") != "iteration":
        continue
    unit = {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}[b["time_unit"]]
    t = b.get("per_iteration", b["real_time"] * unit)
    name = b["run_name"]
    best[name] = min(best.get(name, t), t)
for name, t in best.items():
    print(name, t)'
}
pick() { awk -v n="$2" '$1 == n {print $2}' <<<"$1"; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN{printf "%.2f", a / b}'; }

echo "== Interpreter (best of $runs; targets vm/jit <= 1.0, vm/lua <= 0.7)"
"$here/vm_vs_lua.sh" "$build" "$runs"

echo
echo "== Fixed-point multiply-add, 10^7 iterations (target bytecode/C++ <= 3)"
f=$(gbench "$bench/FixedPointBench")
fb=$(pick "$f" BM_FixedMulAddBytecode/iterations:3)
fc=$(pick "$f" BM_FixedMulAddNative/iterations:10)
printf "bytecode %.2f ns, C++ %.2f ns per iteration: %sx\n" "$(awk -v a="$fb" 'BEGIN{print a*1e9}')" \
  "$(awk -v a="$fc" 'BEGIN{print a*1e9}')" "$(ratio "$fb" "$fc")"

echo
echo "== Heap (target alloc/free <= 1.5x malloc; pause at 10^5 live objects <= 2 ms)"
h=$(gbench "$bench/HeapBench")
ha=$(pick "$h" BM_HeapAllocFree)
hm=$(pick "$h" BM_MallocFree)
[ -n "$ha" ] && [ -n "$hm" ] && printf "alloc/free %.1f ns, malloc/free %.1f ns: %sx\n" \
  "$(awk -v a="$ha" 'BEGIN{print a*1e9}')" "$(awk -v a="$hm" 'BEGIN{print a*1e9}')" "$(ratio "$ha" "$hm")"
awk '$1 !~ /^BM_(HeapAllocFree|MallocFree)$/ {printf "%s %.3f ms\n", $1, $2 * 1e3}' <<<"$h"
if [ -x "$bench/GcPause" ]; then
  "$bench/GcPause"
fi

echo
echo "== The bundled game replayed headless for $replay s"
"$bench/AppReplay" "$replay"
