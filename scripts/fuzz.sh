#!/usr/bin/env bash
# Runs the libFuzzer targets of a fuzz build (cmake -DMCB_FUZZ=ON with
# clang++) for a fixed time each, several at once. A single allocation over
# 200 MiB is a finding: the largest the runtime makes on purpose is a bitmap's
# 128 MiB of pixels (the VM's own space is mapped, not allocated). An input
# that runs for 60 s is a hang. Every file it writes goes
# below the output directory: the growing corpora (started from the seeds in
# fuzz/corpus), the inputs of findings, logs, and what Qt and fontconfig
# would keep in the home directory. Exits with 1 when any target found
# something (a crash, a timeout, a leak or an out-of-memory).
#
#   scripts/fuzz.sh [-t SECONDS] [-j JOBS] [-o OUTDIR] BUILD_DIR [TARGET...]
#
# TARGET is a name such as loader or run (fuzz_loader, fuzz_run); all by default.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=30
jobs=$(nproc)
out=
while getopts "t:j:o:" opt; do
    case $opt in
        t) seconds=$OPTARG ;;
        j) jobs=$OPTARG ;;
        o) out=$OPTARG ;;
        *) exit 2 ;;
    esac
done
shift $((OPTIND - 1))
[ $# -ge 1 ] || { echo "usage: $0 [-t SECONDS] [-j JOBS] [-o OUTDIR] BUILD_DIR [TARGET...]" >&2; exit 2; }
build=$(cd "$1" && pwd)
shift
out=${out:-$build/fuzz-run}
mkdir -p "$out"
out=$(cd "$out" && pwd)

if [ $# -gt 0 ]; then
    targets=("$@")
else
    targets=()
    for t in "$build"/fuzz/fuzz_*; do
        [ -f "$t" ] && [ -x "$t" ] && targets+=("$(basename "$t" | sed 's/^fuzz_//')")
    done
fi

# Nothing outside the output directory.
mkdir -p "$out/home" "$out/runtime" "$out/tmp"
chmod 700 "$out/runtime"
export HOME=$out/home XDG_RUNTIME_DIR=$out/runtime XDG_CACHE_HOME=$out/home/.cache \
    XDG_CONFIG_HOME=$out/home/.config XDG_DATA_HOME=$out/home/.local TMPDIR=$out/tmp \
    QT_QPA_PLATFORM=offscreen DBUS_SESSION_BUS_ADDRESS=disabled:
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:allocator_may_return_null=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

# Seeds of each target: its own directory or shared ones, and the inputs of
# past findings, which run first of all (under the same limits).
seeds_of() {
    local s=$root/fuzz/corpus
    case $1 in
        loader | run | disassembler) echo "$s/bytecode" ;;
        assembler) echo "$root/tests/asm $root/examples $root/benchmarks/vm $root/tests/e2e/programs" ;;
        *) [ -d "$s/$1" ] && echo "$s/$1" ;;
    esac
    [ -d "$root/fuzz/regressions/$1" ] && echo "$root/fuzz/regressions/$1"
    return 0
}
dict_of() {
    case $1 in
        loader | run | disassembler) echo "$root/fuzz/dict/bytecode.dict" ;;
        assembler) echo "$root/fuzz/dict/assembly.dict" ;;
        natives) echo "$root/fuzz/dict/natives.dict" ;;
    esac
}

run_one() {
    local t=$1
    local corpus=$out/corpus/$t artifacts=$out/findings/$t log=$out/logs/$t.log
    mkdir -p "$corpus" "$artifacts" "$out/logs"
    local args=(-max_total_time="$seconds" -timeout=60 -rss_limit_mb=2048 -malloc_limit_mb=200
        -artifact_prefix="$artifacts/" -print_final_stats=1 -close_fd_mask=1)
    local dict
    dict=$(dict_of "$t")
    [ -n "$dict" ] && args+=(-dict="$dict")
    local status=0
    # shellcheck disable=SC2046
    (cd "$out/tmp" && "$build/fuzz/fuzz_$t" "${args[@]}" "$corpus" $(seeds_of "$t")) >"$log" 2>&1 || status=$?
    local runs
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    echo "$t ${runs:-0} $status"
}
export -f run_one seeds_of dict_of
export build out seconds root

results=$(printf '%s\n' "${targets[@]}" | xargs -P "$jobs" -I{} bash -c 'run_one {}')
total=0
failed=0
echo "target            executions  result"
while read -r t runs status; do
    total=$((total + runs))
    result=ok
    if [ "$status" -ne 0 ]; then
        result="FINDING (status $status): see $out/logs/$t.log and $out/findings/$t"
        failed=1
    fi
    printf '%-16s %12s  %s\n' "$t" "$runs" "$result"
done <<<"$results"
echo "total executions: $total"
if [ "$failed" -ne 0 ]; then
    for t in "${targets[@]}"; do
        if grep -q "ERROR: \|SUMMARY: \|==ERROR\|deadly signal\|Timeout\|out-of-memory" "$out/logs/$t.log" 2>/dev/null; then
            echo "---- $t"
            grep -m 20 -A 30 "ERROR: \|==ERROR\|deadly signal\|ALARM\|out-of-memory" "$out/logs/$t.log" | head -60
        fi
    done
fi
exit $failed
