#!/usr/bin/env bash
# Times the three VM speed programs against the same programs in Lua 5.4 and
# in LuaJIT's interpreter (luajit -joff), in one run on this machine: fib(30)
# with static calls, 100 000 000 iterations of an int add, compare and
# branch, and a sieve of Eratosthenes to 10 000 000 over one heap block.
# Prints the best of N runs of each and the ratios VM / Lua and VM / LuaJIT
# (below 1.0: the VM is faster). Every side reports the processor time of the
# program itself (os.clock(), vmrun's clock() around loading and running),
# without process start-up.
# Usage: benchmarks/vm_vs_lua.sh [build dir] [runs]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/../build}
runs=${2:-5}
vmrun=$build/benchmarks/vmrun
for tool in lua5.4 luajit; do
  command -v $tool >/dev/null || { echo "$tool is not installed (scripts/setup.sh installs it)"; exit 1; }
done
[ -x "$vmrun" ] || { echo "build $vmrun first (cmake --build $build --target vmrun)"; exit 1; }

. "$here/best_time.bash"

ratio() { awk -v a="$1" -v b="$2" 'BEGIN{printf "%.2f", a / b}'; }
printf "%-8s %10s %10s %10s %8s %8s\n" program "vm (s)" "lua (s)" "luajit (s)" vm/lua vm/jit
for p in fib loop sieve; do
  v=$(best "$vmrun" "$here/vm/$p.mcbs")
  l=$(best lua5.4 "$here/vm/$p.lua")
  j=$(best luajit -joff "$here/vm/$p.lua")
  printf "%-8s %10.3f %10.3f %10.3f %8s %8s\n" "$p" "$v" "$l" "$j" "$(ratio "$v" "$l")" "$(ratio "$v" "$j")"
done
