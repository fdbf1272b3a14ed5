#!/usr/bin/env bash
# Text work in three implementations, timed in one run on this machine: a
# string of 1 048 576 characters built by appending one character at a time,
# split at a separator character into new strings, and a pattern counted in
# it. The bytecode program (vm/strings.mcbs, String natives), the same work
# in Lua 5.4 (vm/strings.lua) and in C++ on std::u16string (StringBench).
# Checks that the three print the same results, then prints the best of N
# runs of each (processor time of the work itself, without process start-up;
# vmrun includes loading the program and the collection after it) and the
# ratios VM / Lua and VM / C++.
# Usage: benchmarks/strings_vs_lua.sh [build dir] [runs]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/../build}
runs=${2:-5}
vmrun=$build/benchmarks/vmrun
cxx=$build/benchmarks/StringBench
command -v lua5.4 >/dev/null || { echo "lua5.4 is not installed (scripts/setup.sh installs it)"; exit 1; }
for b in "$vmrun" "$cxx"; do
  [ -x "$b" ] || { echo "build $b first (cmake --build $build --target $(basename "$b"))"; exit 1; }
done

vm=("$vmrun" "$here/vm/strings.mcbs")
lua=(lua5.4 "$here/vm/strings.lua")
expected=$("${lua[@]}" 2>/dev/null)
for cmd in vm cxx; do
  if [ $cmd = vm ]; then out=$("${vm[@]}" 2>/dev/null); else out=$("$cxx" 2>/dev/null); fi
  [ "$out" = "$expected" ] || { echo "$cmd printed '$out', Lua '$expected'"; exit 1; }
done

. "$here/best_time.bash"

v=$(best "${vm[@]}")
l=$(best "${lua[@]}")
c=$(best "$cxx")
printf "%10s %10s %10s %10s %10s\n" "vm (s)" "lua (s)" "c++ (s)" "vm/lua" "vm/c++"
printf "%10.3f %10.3f %10.3f %10.2f %10.2f\n" "$v" "$l" "$c" \
  "$(awk -v a="$v" -v b="$l" 'BEGIN{print a / b}')" "$(awk -v a="$v" -v b="$c" 'BEGIN{print a / b}')"
