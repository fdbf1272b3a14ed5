#!/usr/bin/env bash
# Times the three VM speed programs against the same programs in Lua 5.4, in
# one run on this machine: fib(30) with static calls, 100 000 000 iterations
# of an int add, compare and branch, and a sieve of Eratosthenes to
# 10 000 000 over one heap block. Prints the best of N runs of each and the
# ratio VM / Lua (below 1.0: the VM is faster). Both sides report the
# processor time of the program itself (Lua's os.clock(), vmrun's clock()
# around loading and running), without process start-up.
# Usage: benchmarks/vm_vs_lua.sh [build dir] [runs]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/../build}
runs=${2:-5}
vmrun=$build/benchmarks/vmrun
command -v lua5.4 >/dev/null || { echo "lua5.4 is not installed (scripts/setup.sh installs it)"; exit 1; }
[ -x "$vmrun" ] || { echo "build $vmrun first (cmake --build $build --target vmrun)"; exit 1; }

. "$here/best_time.bash"

printf "%-8s %10s %10s %8s\n" program "vm (s)" "lua (s)" ratio
for p in fib loop sieve; do
  v=$(best "$vmrun" "$here/vm/$p.mcbs")
  l=$(best lua5.4 "$here/vm/$p.lua")
  printf "%-8s %10.3f %10.3f %8.2f\n" "$p" "$v" "$l" "$(awk -v a="$v" -v b="$l" 'BEGIN{print a / b}')"
done
