#!/usr/bin/env bash
# How a running program ends the process (offscreen), each from a timer
# expiry inside the event loop: the exit operation (status 0 at once), a
# termination request (2), a fatal error (3), and a delivery that cannot run
# because its listener was freed (its reason, then the error that escapes: 1).
source "$(dirname "$0")/lib.bash"
e2e_init "$1" "$2"
export QT_QPA_PLATFORM=$OFFSCREEN
out=$E2E_TMP/stderr
E2E_SHOW="$out"

run_program() {
    local name=$1
    local dir=$E2E_TMP/$name
    e2e_install "$SOURCE/tests/e2e/programs/$name.mcbs" "$dir"
    EXITED=0
    (cd "$dir" && timeout 20 "$MCBRUN") 2>"$out" >/dev/null || EXITED=$?
    e2e_no_sanitizer_reports "$out"
    e2e_expect_grep "$out" '^LOG: started$'
}

run_program exit
[ "$EXITED" -eq 0 ] || e2e_fail "exit: status $EXITED"
e2e_expect_grep "$out" '^LOG: exiting$'
if grep -q 'still running' "$out"; then e2e_fail "exit did not end the process at once"; fi

run_program terminate
[ "$EXITED" -eq 2 ] || e2e_fail "terminate: status $EXITED"
e2e_expect_grep "$out" '^LOG: terminating$'
[ "$(e2e_count "$out" '^LOG: terminating$')" -eq 1 ] || e2e_fail "the program ran on after terminating"

run_program fatal
[ "$EXITED" -eq 3 ] || e2e_fail "fatal: status $EXITED"
e2e_expect_grep "$out" '^FATAL: Internal error: invalid group in native call: 0'

run_program escape
[ "$EXITED" -eq 1 ] || e2e_fail "escaping error: status $EXITED"
e2e_expect_grep "$out" '^LOG: freeing$'
e2e_expect_grep "$out" '^FATAL: timer [0-9]*: listener is not a live object$'
e2e_expect_grep "$out" '^FATAL: UnknownException \(CODE:11\)$'
[ "$(e2e_count "$out" '^LOG: freeing$')" -eq 1 ] || e2e_fail "the freed listener got a second event"
echo "PASS host_exit_statuses"
