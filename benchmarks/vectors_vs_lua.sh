#!/usr/bin/env bash
# Vector work in three implementations, timed in one run on this machine:
# 1 000 000 ints appended to a vector one call at a time, summed through
# element addresses, then half of them removed from the end one call at a
# time. The bytecode program (vm/vector.mcbs, Vector natives), the same work
# in Lua 5.4 (vm/vector.lua, a table with table.remove) and in C++ on
# std::vector (VectorBench). Checks that the three print the same results,
# then prints the best of N runs of each (processor time of the work itself,
# without process start-up; vmrun includes loading the program and the
# collection after it) and the ratios VM / Lua and VM / C++.
# Usage: benchmarks/vectors_vs_lua.sh [build dir] [runs]
set -euo pipefail
. "$(dirname "$0")/three_way.bash"
three_way vector VectorBench "$@"
