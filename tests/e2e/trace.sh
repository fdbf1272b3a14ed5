#!/usr/bin/env bash
# "mcbrun --trace FILE" on a program whose calls and exceptions are known,
# read back with mcb-trace (records and flat profile); a trace to a path
# that cannot be written; malformed trace files.
source "$(dirname "$0")/lib.bash"
e2e_init "$1" "$2"
export QT_QPA_PLATFORM=$OFFSCREEN
MCBTRACE=$BUILD/mcb-trace
[ -x "$MCBTRACE" ] || e2e_fail "no mcb-trace in $BUILD"
app=$E2E_TMP/app
err=$E2E_TMP/stderr
records=$E2E_TMP/records
E2E_SHOW="$err $records"
e2e_install "$SOURCE/tests/e2e/programs/traced.mcbs" "$app"

# The program exits from its timer (System exit): the trace is complete.
EXITED=0
(cd "$app" && timeout 20 "$MCBRUN" --trace run.trace) 2>"$err" >/dev/null || EXITED=$?
e2e_no_sanitizer_reports "$err"
[ "$EXITED" -eq 0 ] || e2e_fail "traced run: status $EXITED"
e2e_expect_grep "$err" '^LOG: tick$'
"$MCBTRACE" --program "$app/index.mcb" "$app/run.trace" >"$records" 2>"$err" || e2e_fail "mcb-trace: status $?"
e2e_no_sanitizer_reports "$err"

# Events in order, without times, depths and collections.
events=$(sed -E 's/^ *[0-9]+ +([0-9]+)  /\1 /' "$records" | grep -vE '^[0-9]+ collection' | tail -n +3 |
    sed -E 's/process [0-9]+/process N/')
expected="0 start trace, process N
1 call ::global::init @0
0 return
1 call main @9
2 call square @143
1 return
1 log \"9\"
2 call square @143
1 return
2 call square @143
1 return
2 call fail @160
2 throw class 3
1 catch, handler main+71 @80
2 throw class 2, error code 3
1 catch, handler main+89 @98
1 log \"done\"
0 return
1 call <*systemtimerlistener>.systemtimerevent @173
1 log \"tick\"
1 stop trace"
[ "$events" = "$expected" ] || e2e_fail "records differ:
$(diff <(echo "$expected") <(echo "$events"))"
grep -qE '^ +[0-9]+ +0  collection: 1 live blocks, 4 bytes$' "$records" || e2e_fail "no collection after main"

"$MCBTRACE" --profile --program "$app/index.mcb" "$app/run.trace" >"$records" 2>"$err" || e2e_fail "profile: status $?"
e2e_expect_grep "$records" '^Flat profile: 7 calls, '
e2e_expect_grep "$records" ' 3 +[0-9.]+ +[0-9.]+  square$'
e2e_expect_grep "$records" ' 1 +[0-9.]+ +[0-9.]+  main$'
[ "$(grep -cE '  (square|main|fail|::global::init|<\*systemtimerlistener>.systemtimerevent)$' "$records")" -eq 5 ] ||
    e2e_fail "profile rows"

# A trace cut inside a length field: the records before the cut, the reader's error, status 1.
head -c 190 "$app/run.trace" >"$E2E_TMP/cut.trace"
EXITED=0
"$MCBTRACE" "$E2E_TMP/cut.trace" >"$records" 2>"$err" || EXITED=$?
[ "$EXITED" -eq 1 ] || e2e_fail "cut trace: status $EXITED"
e2e_expect_grep "$err" "cut.trace: Error while reading location: 190unexpected end of file$"
e2e_expect_grep "$records" 'call @9$'
printf 'not a trace' >"$E2E_TMP/bad.trace"
EXITED=0
"$MCBTRACE" "$E2E_TMP/bad.trace" >"$records" 2>"$err" || EXITED=$?
[ "$EXITED" -eq 1 ] || e2e_fail "bad trace: status $EXITED"
e2e_expect_grep "$err" 'Error while reading location: 1invalid type \(expecting type: 5\) 110$'
[ ! -s "$records" ] || e2e_fail "output for a file that is no trace"
"$MCBTRACE" --help | grep -q -- '--profile' || e2e_fail "mcb-trace --help"

# A trace that cannot be written: one message, the program runs as always.
: >"$E2E_TMP/plain"
EXITED=0
(cd "$app" && timeout 20 "$MCBRUN" --trace "$E2E_TMP/plain/run.trace") 2>"$err" >/dev/null || EXITED=$?
e2e_no_sanitizer_reports "$err"
[ "$EXITED" -eq 0 ] || e2e_fail "untraceable run: status $EXITED"
[ "$(e2e_count "$err" "^Trace: cannot write '$E2E_TMP/plain/run.trace'; recording stopped$")" -eq 1 ] ||
    e2e_fail "not one message for the unwritable trace"
e2e_expect_grep "$err" '^LOG: done$'
e2e_expect_grep "$err" '^LOG: tick$'
echo "PASS trace"
