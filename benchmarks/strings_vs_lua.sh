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
. "$(dirname "$0")/three_way.bash"
three_way strings StringBench "$@"
