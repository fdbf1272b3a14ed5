#!/usr/bin/env bash
# Start-up failures of the real runtime (offscreen): no index.mcb, a file that
# is not bytecode, a main that raises an error nobody catches, and the
# "--auto" directory rule with its length check.
source "$(dirname "$0")/lib.bash"
e2e_init "$1" "$2"
export QT_QPA_PLATFORM=$OFFSCREEN
out=$E2E_TMP/stderr
E2E_SHOW="$out"

run_in() {
    local dir=$1
    shift
    EXITED=0
    (cd "$dir" && timeout 20 "$@") 2>"$out" >/dev/null || EXITED=$?
    e2e_no_sanitizer_reports "$out"
}

# No index.mcb in the current directory.
empty=$E2E_TMP/empty
mkdir -p "$empty"
run_in "$empty" "$MCBRUN"
[ "$EXITED" -eq 1 ] || e2e_fail "missing index.mcb: status $EXITED"
e2e_expect_grep "$out" "^Failed to open '$empty/index.mcb'\$"

# Not bytecode.
bad=$E2E_TMP/bad
mkdir -p "$bad"
printf 'MCB?not really bytecode' >"$bad/index.mcb"
run_in "$bad" "$MCBRUN"
[ "$EXITED" -eq 1 ] || e2e_fail "malformed index.mcb: status $EXITED"
e2e_expect_grep "$out" '^FATAL: Error while reading bytecode$'
e2e_expect_grep "$out" '^offset 0: bad module id length 77 \(must be 20\)$'
e2e_expect_grep "$out" '^FATAL: UnknownException \(CODE:11\)$'

# main raises an error that no handler catches: logged, then terminated.
uncaught=$E2E_TMP/uncaught
e2e_install "$SOURCE/tests/e2e/programs/uncaught.mcbs" "$uncaught"
run_in "$uncaught" "$MCBRUN"
[ "$EXITED" -eq 2 ] || e2e_fail "uncaught error in main: status $EXITED"
e2e_expect_grep "$out" '^LOG: dividing$'
e2e_expect_grep "$out" '^LOG: uncaught$'
e2e_expect_grep "$out" '^LOG: DivisionByZeroException$'

# "--auto": /opt/ + the base name under which the runtime was started.
name=mcbrun-e2e-$$
ln -s "$MCBRUN" "$E2E_TMP/$name"
run_in "$empty" "$E2E_TMP/$name" --auto
[ "$EXITED" -eq 1 ] || e2e_fail "--auto without an application: status $EXITED"
e2e_expect_grep "$out" "^Failed to open '/opt/$name/index.mcb'\$"
# "--auto" among other options.
run_in "$empty" "$E2E_TMP/$name" --windowed --auto
[ "$EXITED" -eq 1 ] || e2e_fail "--windowed --auto: status $EXITED"
e2e_expect_grep "$out" "^Failed to open '/opt/$name/index.mcb'\$"

# A base name that makes "/opt/<name>" longer than 4096 bytes.
long=$(printf 'n%.0s' $(seq 1 4092))
run_in "$empty" bash -c 'exec -a "$0" "$1" --auto' "$long" "$MCBRUN"
[ "$EXITED" -eq 1 ] || e2e_fail "over-long base name: status $EXITED"
e2e_expect_grep "$out" "^$long: VM basename too long\$"
# 4091 bytes fit exactly: the directory rule applies.
run_in "$empty" bash -c 'exec -a "$0" "$1" --auto' "${long:1}" "$MCBRUN"
[ "$EXITED" -eq 1 ] || e2e_fail "longest base name: status $EXITED"
e2e_expect_grep "$out" "^Failed to open '/opt/${long:1}/index.mcb'\$"
echo "PASS host_startup_errors"
