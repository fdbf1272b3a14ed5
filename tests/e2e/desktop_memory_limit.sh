#!/usr/bin/env bash
# The memory limit of the real runtime, headless: a program that allocates
# until it cannot ends with "Out of memory" under --memory-limit, gets more
# under a larger limit, and the same from the settings file or
# MCB_MEMORY_LIMIT unless the command line says otherwise; a malformed size
# is a one-line mistake (status 2).
source "$(dirname "$0")/lib.bash"
e2e_init "$1" "$2"
unset DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM MCB_MEMORY_LIMIT
err=$E2E_TMP/stderr
E2E_SHOW="$err"
cd "$E2E_TMP"

app=$E2E_TMP/app
e2e_install "$SOURCE/tests/e2e/programs/allocate.mcbs" "$app"

# Runs the program; BLOCKS is the number of 64 KiB blocks it got.
allocate() {
    EXITED=0
    timeout 20 "$MCBRUN" --headless "$@" "$app" 2>"$err" >/dev/null || EXITED=$?
    e2e_no_sanitizer_reports "$err"
    [ "$EXITED" -eq 0 ] || e2e_fail "$*: status $EXITED"
    [ "$(sed -n 's/^LOG: //p' "$err" | head -n 1)" = "VMException: Out of memory" ] ||
        e2e_fail "$*: no 'Out of memory'"
    BLOCKS=$(sed -n 's/^LOG: //p' "$err" | sed -n 2p)
}

allocate --memory-limit 4M
small=$BLOCKS
[ "$small" -ge 1 ] && [ "$small" -le 64 ] || e2e_fail "4 MiB held $small blocks of 64 KiB"
allocate --memory-limit=16MiB
large=$BLOCKS
[ "$large" -gt $((small * 2)) ] && [ "$large" -le 256 ] ||
    e2e_fail "16 MiB held $large blocks of 64 KiB, 4 MiB $small"

mkdir -p config/mcbrun
echo "memory-limit = 4M" >config/mcbrun/mcbrun.conf
allocate
[ "$BLOCKS" -eq "$small" ] || e2e_fail "memory-limit = 4M in the settings file: $BLOCKS blocks, not $small"
allocate --memory-limit 16M
[ "$BLOCKS" -eq "$large" ] || e2e_fail "--memory-limit over the settings file: $BLOCKS blocks, not $large"
rm config/mcbrun/mcbrun.conf
MCB_MEMORY_LIMIT=16M allocate --memory-limit 4M
[ "$BLOCKS" -eq "$small" ] || e2e_fail "--memory-limit over MCB_MEMORY_LIMIT: $BLOCKS blocks, not $small"

EXITED=0
timeout 20 "$MCBRUN" --headless --memory-limit 12X "$app" 2>"$err" >/dev/null || EXITED=$?
[ "$EXITED" -eq 2 ] || e2e_fail "--memory-limit 12X: status $EXITED"
[ "$(cat "$err")" = "mcbrun: --memory-limit: '12X' is not a size from 1M to 4G (such as 512M, 64MiB or 2G)" ] ||
    e2e_fail "--memory-limit 12X: '$(cat "$err")'"
echo "PASS desktop_memory_limit"
