#!/usr/bin/env bash
# Opcode pair frequencies over the speed programs and the bundled
# applications, from a counting build (configured with
# -DCMAKE_CXX_FLAGS=-DMCB_COUNT_PAIRS; vmrun, mcbrun and mcb-as built). Each
# program's pairs are weighted by its share, so that no single long loop
# decides the table: prints the top pairs by their mean share over the
# programs, then each program's own top pairs.
# Usage: benchmarks/pair_counts.sh build-count [top N]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
build=$(cd "${1:?counting build directory}" && pwd)
top=${2:-25}
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

for p in fib loop sieve strings vector; do
  MCB_PAIR_COUNTS=$tmp/$p.counts "$build/benchmarks/vmrun" "$here/vm/$p.mcbs" >/dev/null 2>&1 || true
done

# The applications, headless for a few seconds; the game is started with
# Return and played with a few keys.
mkdir -p "$tmp/blocks" "$tmp/demo"
cp "$root"/examples/blocks/*.png "$root"/examples/blocks/*.raw "$tmp/blocks/"
cp "$root"/examples/*.png "$tmp/demo/"
"$build/mcb-as" -o "$tmp/blocks/index.mcb" "$root/examples/blocks/blocks.mcbs"
"$build/mcb-as" -o "$tmp/demo/index.mcb" "$root/examples/demo.mcbs"
{
  echo "key Return"
  for _ in $(seq 40); do printf 'key Left\nwait 100\nkey Up\nwait 100\nkey Right\nwait 100\nkey Space\nwait 100\n'; done
} >"$tmp/play.txt"
export QT_QPA_PLATFORM=offscreen
MCB_PAIR_COUNTS=$tmp/blocks.counts "$build/mcbrun" --headless --events "$tmp/play.txt" --run-for 8000 \
  "$tmp/blocks" >/dev/null 2>&1 || true
MCB_PAIR_COUNTS=$tmp/demo.counts "$build/mcbrun" --headless --run-for 4000 "$tmp/demo" >/dev/null 2>&1 || true

python3 - "$top" "$tmp"/*.counts <<'PY'
import collections, os, sys
top = int(sys.argv[1])
total = collections.Counter()
own = {}
for path in sys.argv[2:]:
    pairs = collections.Counter()
    for line in open(path):
        f = line.split()
        if f[0] == "pair":
            pairs[(f[1], f[2])] += int(f[3])
    n = sum(pairs.values())
    if not n:
        continue
    name = os.path.basename(path)[:-7]
    own[name] = (n, pairs)
    for k, v in pairs.items():
        total[k] += 100.0 * v / n
print("| pair | share of dispatches, mean over %d programs (%%) |" % len(own))
print("|---|---|")
for (a, b), w in total.most_common(top):
    print("| %s %s | %.2f |" % (a, b, w / len(own)))
for name, (n, pairs) in sorted(own.items()):
    print()
    print("%s: %d dispatches; top pairs: %s" % (name, n, ", ".join(
        "%s %s %.1f%%" % (a, b, 100.0 * v / n) for (a, b), v in pairs.most_common(8))))
PY
