#!/usr/bin/env bash
# vmrun, the windowless runner: its help, a missing file, and the exit status
# of each way a run ends (end of main, System exit, System terminate, a fatal
# error, a file that cannot be assembled or loaded).
source "$(dirname "$0")/lib.bash"
e2e_init "$1" "$2"
VMRUN=$BUILD/benchmarks/vmrun
[ -x "$VMRUN" ] || e2e_fail "no vmrun in $BUILD/benchmarks"
cd "$E2E_TMP"

status_of() {
    local s=0
    "$VMRUN" "$@" >out.txt 2>err.txt || s=$?
    echo "$s"
}

s=$(status_of --help)
[ "$s" -eq 0 ] || e2e_fail "--help: status $s"
e2e_expect_grep out.txt '^usage: vmrun \[--trace FILE\] program.mcbs\|index.mcb$'
[ ! -s err.txt ] || e2e_fail "--help wrote to standard error"

s=$(status_of "$E2E_TMP/missing.mcb")
[ "$s" -eq 1 ] || e2e_fail "missing file: status $s"
[ "$(cat err.txt)" = "vmrun: cannot open $E2E_TMP/missing.mcb" ] || e2e_fail "missing file: $(cat err.txt)"

s=$(status_of one two three)
[ "$s" -eq 2 ] || e2e_fail "bad arguments: status $s"
e2e_expect_grep err.txt '^usage: vmrun'

# main logs, then does what $1 says, then logs again.
program() {
    cat <<ASM
.module "run"
.map plain
.static "::global::init" init map plain
.static "main" main map plain
.code
init:
    ret 0, 1
main:
    ldstr "before"
    native Debug.log
$1
    ldstr "after"
    native Debug.log
    ret 0, 1
ASM
}

program "" >ends.mcbs
s=$(status_of ends.mcbs)
[ "$s" -eq 0 ] || e2e_fail "end of main: status $s"
[ "$(cat out.txt)" = "$(printf 'before\nafter')" ] || e2e_fail "end of main: $(cat out.txt)"
e2e_expect_grep err.txt '^time [0-9]+\.[0-9]{3} s$'

program "    native System.exit" >exit.mcbs
s=$(status_of exit.mcbs)
[ "$s" -eq 0 ] || e2e_fail "System exit: status $s"
[ "$(cat out.txt)" = "before" ] || e2e_fail "System exit did not end the run: $(cat out.txt)"

program "    ldstr \"stop\"
    native System.terminate" >terminate.mcbs
s=$(status_of terminate.mcbs)
[ "$s" -eq 2 ] || e2e_fail "System terminate: status $s"
[ "$(cat out.txt)" = "before" ] || e2e_fail "System terminate did not end the run: $(cat out.txt)"

# No raised-error handler: the first error is fatal.
program "    ldzero
    ldind" >fatal.mcbs
s=$(status_of fatal.mcbs)
[ "$s" -eq 3 ] || e2e_fail "fatal error: status $s"
e2e_expect_grep err.txt "^FATAL: 'vminternalthrow<int>,<string>' not found"

program "    natve Debug.log" >typo.mcbs
s=$(status_of typo.mcbs)
[ "$s" -eq 1 ] || e2e_fail "assembly error: status $s"
e2e_expect_grep err.txt "typo.mcbs:[0-9]+: error: unknown mnemonic 'natve'; did you mean 'native'\?"

"$MCBAS" ends.mcbs -o ends.mcb
head -c 45 ends.mcb >cut.mcb
s=$(status_of cut.mcb)
[ "$s" -eq 1 ] || e2e_fail "truncated file: status $s"
e2e_expect_grep err.txt '^FATAL: Error while reading bytecode$'
e2e_expect_grep err.txt '^offset 40: file ends inside static method name$'
echo "vmrun: ok"
