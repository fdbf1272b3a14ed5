#!/usr/bin/env bash
# The display state from the device's mode-control service on a private
# system bus: "display_status_ind" "off" sends the program to the background,
# "on" brings it back. The signal comes from a test double that owns the
# service name "com.nokia.mce" (the subscription names that service, so a
# signal from any other sender, such as plain dbus-send, is not taken).
source "$(dirname "$0")/lib.bash"
e2e_init "$1" "$2"

# The test double, built once per build directory.
helper=$BUILD/e2e-helpers/mce_signal
if [ ! -x "$helper" ] || [ "$SOURCE/tests/e2e/mce_signal.cpp" -nt "$helper" ]; then
    mkdir -p "$BUILD/e2e-helpers"
    g++ -std=c++17 -fPIC -O1 -o "$helper.tmp" "$SOURCE/tests/e2e/mce_signal.cpp" \
        $(pkg-config --cflags --libs Qt6DBus Qt6Core)
    mv "$helper.tmp" "$helper"
fi

socket=$E2E_TMP/system_bus_socket
sed "s#@SOCKET@#$socket#" "$SOURCE/tests/e2e/test-system-bus.conf" >"$E2E_TMP/bus.conf"
e2e_spawn dbus-daemon --config-file="$E2E_TMP/bus.conf" --nofork --nopidfile 2>/dev/null
deadline=$((SECONDS + 10))
until [ -S "$socket" ]; do
    [ "$SECONDS" -lt "$deadline" ] || e2e_fail "the bus did not start"
    sleep 0.05
done
export DBUS_SYSTEM_BUS_ADDRESS=unix:path=$socket

mkfifo "$E2E_TMP/mce.in"
exec 7<>"$E2E_TMP/mce.in"                     # held open: neither side blocks
mce=$E2E_TMP/mce.out
e2e_spawn_input "$E2E_TMP/mce.in" "$helper" >"$mce"
e2e_wait_for "$mce" '^ready$'

app=$E2E_TMP/app
e2e_install "$SOURCE/examples/demo.mcbs" "$app"
err=$E2E_TMP/stderr
E2E_SHOW="$err $mce"
cd "$app"
QT_QPA_PLATFORM=$OFFSCREEN e2e_spawn "$MCBRUN" 2>"$err"
run=$SPAWNED
e2e_wait_for "$err" '^LOG: first draw$'
e2e_wait_for "$err" '^LOG: foreground$'
if grep -q 'Failed to connect to dbus' "$err"; then e2e_fail "not subscribed"; fi

echo off >&7
e2e_wait_for "$mce" '^sent off$'
e2e_wait_for "$err" '^LOG: background$'
echo on >&7
e2e_wait_for "$mce" '^sent on$'
e2e_wait_count "$err" '^LOG: foreground$' 2
# Another sender is not the mode-control service.
dbus-send --system --type=signal /com/nokia/mce/signal com.nokia.mce.signal.display_status_ind string:off
echo on >&7                                   # unchanged state: nothing delivered
e2e_wait_count "$mce" '^sent on$' 2
sleep 0.5
[ "$(e2e_count "$err" '^LOG: background$')" -eq 1 ] || e2e_fail "a signal from another sender was taken"
[ "$(e2e_count "$err" '^LOG: foreground$')" -eq 2 ] || e2e_fail "an unchanged state was delivered"
grep -E '^LOG: (fore|back)ground$' "$err" | tr '\n' ' ' | grep -qx 'LOG: foreground LOG: background LOG: foreground ' ||
    e2e_fail "wrong order of visibility events"

kill -TERM "$run"
e2e_wait_exit "$run"
[ "$EXITED" -eq 0 ] || e2e_fail "exit status $EXITED after SIGTERM"
exec 7>&-
e2e_no_sanitizer_reports "$err"
echo "PASS host_display_signal"
