# Sourced by the timing scripts. three_way NAME CXX [build dir] [runs]: the
# bytecode program vm/NAME.mcbs under vmrun, vm/NAME.lua under Lua 5.4 and
# the C++ benchmark CXX must print the same results; then prints the best
# time of each and the ratios VM / Lua and VM / C++.
three_way() {
  local name=$1 cxxname=$2 here
  here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
  . "$here/best_time.bash"
  local build=${3:-$here/../build}
  runs=${4:-5}
  local vmrun=$build/benchmarks/vmrun cxx=$build/benchmarks/$cxxname
  command -v lua5.4 >/dev/null || { echo "lua5.4 is not installed (scripts/setup.sh installs it)"; exit 1; }
  for b in "$vmrun" "$cxx"; do
    [ -x "$b" ] || { echo "build $b first (cmake --build $build --target $(basename "$b"))"; exit 1; }
  done
  local vm=("$vmrun" "$here/vm/$name.mcbs") lua=(lua5.4 "$here/vm/$name.lua")
  local expected out
  expected=$("${lua[@]}" 2>/dev/null)
  for cmd in vm cxx; do
    if [ $cmd = vm ]; then out=$("${vm[@]}" 2>/dev/null); else out=$("$cxx" 2>/dev/null); fi
    [ "$out" = "$expected" ] || { echo "$cmd printed '$out', Lua '$expected'"; exit 1; }
  done
  local v l c
  v=$(best "${vm[@]}")
  l=$(best "${lua[@]}")
  c=$(best "$cxx")
  printf "%10s %10s %10s %10s %10s\n" "vm (s)" "lua (s)" "c++ (s)" "vm/lua" "vm/c++"
  printf "%10.3f %10.3f %10.3f %10.2f %10.2f\n" "$v" "$l" "$c" \
    "$(awk -v a="$v" -v b="$l" 'BEGIN{print a / b}')" "$(awk -v a="$v" -v b="$c" 'BEGIN{print a / b}')"
}
