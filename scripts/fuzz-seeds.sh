#!/usr/bin/env bash
# Remakes the fuzz seeds and dictionaries kept in fuzz/: the bytecode of
# every program the tests, examples and benchmarks assemble, small images, a
# trace file, native-call and generator inputs, and dictionaries of opcode
# bytes, native groups and assembler words.
#
#   scripts/fuzz-seeds.sh BUILD_DIR      (a normal build with mcb-as)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
as=$1/mcb-as
corpus=$root/fuzz/corpus
rm -rf "$corpus" "$root/fuzz/dict"
mkdir -p "$corpus"/{bytecode,images,trace,natives,gc_differential} "$root/fuzz/dict"

# Seed names: the source's directory below the repository, then its name.
for f in "$root"/tests/asm/*.mcbs "$root"/tests/asm/vm/*.mcbs "$root"/examples/*.mcbs \
    "$root"/examples/*/*.mcbs "$root"/benchmarks/vm/*.mcbs "$root"/tests/e2e/programs/*.mcbs; do
    name=${f#"$root"/}
    name=${name%.mcbs}
    "$as" -o "$corpus/bytecode/${name//\//_}.mcb" "$f"
done

for format in png gif bmp jpg; do
    convert -size 3x2 xc:'#336699' -fill '#ff0000' -draw 'point 1,1' "$corpus/images/small.$format"
done
convert -size 16x8 xc:black -fill white -draw 'rectangle 2,1 5,6' "$corpus/images/glyphs.png"

python3 - "$root" <<'PY'
import os, re, struct, sys
root = sys.argv[1]
corpus = os.path.join(root, "fuzz/corpus")

def tag(code, payload):
    return bytes([code]) + struct.pack(">i", len(payload)) + payload
def string(text):
    return tag(1, text.encode("utf-16-be"))
def date():
    return tag(3, struct.pack(">HBBBBB", 2026, 11, 7, 0, 0, 0))
log = struct.pack(">qi", 1234, 7)
entity = struct.pack(">iq", 3, 99)
header = tag(5, bytes([1, 0]) + string("Tavix Studio Emulator") + struct.pack(">i", 0) + date() + struct.pack(">q", 1000000))
records = [
    tag(101, log + entity + string("blob") + tag(4, b"\x01\x02\x03") + struct.pack(">ii", 1, 2)),
    tag(102, log + struct.pack(">i", 5)), tag(103, log), tag(104, log + entity), tag(105, log),
    tag(106, log + struct.pack(">i", 1)), tag(107, log + string("hello")),
    tag(108, log + struct.pack(">ii", 4, 8)), tag(109, log + struct.pack(">i", 4)),
]
open(os.path.join(corpus, "trace/all-records.trace"), "wb").write(header + b"".join(records))
open(os.path.join(corpus, "trace/header-only.trace"), "wb").write(header)

# Native calls: (group index, function, count, selectors...) for a few groups.
groups = [1, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18,
          19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31, 32, 33, 34, 35, 36]
for group in groups:
    index = groups.index(group)
    seed = b""
    for function in range(1, 9):
        seed += bytes([index, function, 0x83, 0, 3, 12])
    open(os.path.join(corpus, "natives/group%02d" % group), "wb").write(seed)
for n, seed in enumerate([bytes(range(64)), bytes(range(255, 0, -3)), b"\x06\x00\x03" * 20]):
    open(os.path.join(corpus, "gc_differential/seed%d" % n), "wb").write(seed)

# Dictionaries.
ops = re.findall(r'^OP\((\d+), \w+, "([^"]+)"', open(os.path.join(root, "Lib/VirtualMachine/Opcodes.def")).read(), re.M)
with open(os.path.join(root, "fuzz/dict/bytecode.dict"), "w") as d:
    d.write("# opcode bytes\n")
    for code, name in ops:
        d.write('op_%s="\\x%02x"\n' % (name.replace(".", "_"), int(code)))
    d.write("# native calls: opcode 78, group\n")
    for group in range(1, 37):
        d.write('native_%d="\\x4e\\x%02x"\n' % (group, group))
    d.write('magic="\\xff\\xff"\nid_length="\\x14"\n')
    for name, word in [("zero", 0), ("minus_one", 0xFFFFFFFF), ("first_address", 0x10000), ("low", 0x1000), ("max", 0x7FFFFFFF)]:
        d.write('word_%s="%s"\n' % (name, "".join("\\x%02x" % b for b in struct.pack("<I", word))))
with open(os.path.join(root, "fuzz/dict/natives.dict"), "w") as d:
    d.write("# group index, function number\n")
    for index, group in enumerate(groups):
        for function in range(1, 21):
            d.write('g%d_f%d="\\x%02x\\x%02x"\n' % (group, function, index, function))
names = [n for _, n in ops] + [".module", ".widths", ".globals", ".class", ".map", ".string", ".static", ".virtual",
         ".code", ".byte", ".end", "refs", "arrays", "super", "flag", "skip", "width", "params", "extra", "locals",
         "checked", "inline", "impl", "map", "ref", "plain", "any", "hex"]
names += re.findall(r"\| \d+ \| `(\w+)`", open(os.path.join(root, "docs/assembly.md")).read())
with open(os.path.join(root, "fuzz/dict/assembly.dict"), "w") as d:
    for n in dict.fromkeys(names):
        d.write('"%s"\n' % n)
PY
du -sh "$corpus" "$root/fuzz/dict"
