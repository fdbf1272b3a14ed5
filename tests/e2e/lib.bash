# Shared helpers of the end-to-end tests (sourced, not a test itself).
# Usage: source lib.bash; e2e_init "$1" "$2"
# Every process started with e2e_spawn or e2e_xvfb is stopped on exit, and
# the scratch directory is removed, whatever the outcome.

e2e_init() {
    set -euo pipefail
    BUILD=$(cd "$1" && pwd)
    SOURCE=$(cd "$2" && pwd)
    MCBRUN=$BUILD/mcbrun
    MCBAS=$BUILD/mcb-as
    E2E_TMP=$(mktemp -d)
    E2E_PIDS=()
    trap e2e_cleanup EXIT
    [ -x "$MCBRUN" ] || e2e_fail "no mcbrun in $BUILD"
    [ -x "$MCBAS" ] || e2e_fail "no mcb-as in $BUILD"
    # Deterministic buses: no session bus, no system bus unless a test starts one.
    export DBUS_SESSION_BUS_ADDRESS=disabled:
    export DBUS_SYSTEM_BUS_ADDRESS=unix:path=$E2E_TMP/no-system-bus
    export XDG_RUNTIME_DIR=$E2E_TMP/runtime
    mkdir -m 700 "$XDG_RUNTIME_DIR"
    # No settings file of the person running the tests.
    export XDG_CONFIG_HOME=$E2E_TMP/config
    # The 800 x 480 screen of the device for the offscreen platform.
    cat > "$E2E_TMP/screen.json" <<'JSON'
{ "synchronousWindowSystemEvents": false, "windowFrameMargins": false,
  "screens": [ { "name": "s0", "x": 0, "y": 0, "width": 800, "height": 480,
                 "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1 } ] }
JSON
    OFFSCREEN="offscreen:configfile=$E2E_TMP/screen.json"
}

e2e_cleanup() {
    local status=$?
    local pid
    for pid in "${E2E_PIDS[@]}"; do
        kill "$pid" 2>/dev/null || true
    done
    # Whatever does not end within 3 s is killed.
    local deadline=$((SECONDS + 3))
    for pid in "${E2E_PIDS[@]}"; do
        while [ -e "/proc/$pid" ] && [ "$(sed 's/^.*) //' "/proc/$pid/stat" 2>/dev/null | cut -c1)" != "Z" ] &&
            [ "$SECONDS" -lt "$deadline" ]; do
            sleep 0.05
        done
        kill -KILL "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    if [ "$status" -ne 0 ] && [ -n "${E2E_SHOW:-}" ]; then
        local f
        for f in $E2E_SHOW; do
            [ -f "$f" ] && { echo "---- $f"; tail -n 40 "$f"; } >&2
        done
    fi
    rm -rf "$E2E_TMP"
    exit "$status"
}

e2e_fail() {
    echo "FAIL: $*" >&2
    exit 1
}

# Runs a command in the background, remembered for clean-up; its pid in SPAWNED.
e2e_spawn() {
    "$@" &
    SPAWNED=$!
    E2E_PIDS+=("$SPAWNED")
}

# As e2e_spawn, with standard input from a file (a background command's
# input is otherwise /dev/null).
e2e_spawn_input() {
    local input=$1
    shift
    "$@" <"$input" &
    SPAWNED=$!
    E2E_PIDS+=("$SPAWNED")
}

# Waits until the file holds a line matching the extended regex.
e2e_wait_for() {
    local file=$1 pattern=$2 seconds=${3:-15}
    local deadline=$((SECONDS + seconds))
    until [ -f "$file" ] && LC_ALL=C grep -qE -- "$pattern" "$file"; do
        [ "$SECONDS" -lt "$deadline" ] || e2e_fail "timed out waiting for '$pattern' in $file"
        sleep 0.05
    done
}

# Waits until at least N lines of the file match the pattern.
e2e_wait_count() {
    local file=$1 pattern=$2 n=$3 seconds=${4:-15}
    local deadline=$((SECONDS + seconds))
    until [ "$(e2e_count "$file" "$pattern")" -ge "$n" ]; do
        [ "$SECONDS" -lt "$deadline" ] || e2e_fail "timed out waiting for $n lines '$pattern' in $file"
        sleep 0.05
    done
}

# Number of lines of the file matching the pattern.
e2e_count() {
    local n
    n=$(LC_ALL=C grep -cE -- "$2" "$1" 2>/dev/null) || true
    echo "${n:-0}"
}

# Waits for a spawned process to end; its exit status in EXITED.
e2e_wait_exit() {
    local pid=$1 seconds=${2:-15}
    local deadline=$((SECONDS + seconds))
    while kill -0 "$pid" 2>/dev/null; do
        if [ "$SECONDS" -ge "$deadline" ]; then
            e2e_fail "process $pid did not end"
        fi
        # A finished child stays a zombie until waited for.
        if [ "$(sed 's/^.*) //' "/proc/$pid/stat" 2>/dev/null | cut -c1)" = "Z" ]; then
            break
        fi
        sleep 0.05
    done
    EXITED=0
    wait "$pid" || EXITED=$?
    local kept=() p
    for p in "${E2E_PIDS[@]}"; do
        [ "$p" = "$pid" ] || kept+=("$p")
    done
    E2E_PIDS=("${kept[@]}")
}

# Assembles a program into DIR/index.mcb, with the images beside it (*.png).
e2e_install() {
    local program=$1 dir=$2 image
    mkdir -p "$dir"
    "$MCBAS" -o "$dir/index.mcb" "$program"
    for image in "$(dirname "$program")"/*.png; do
        if [ -e "$image" ]; then cp "$image" "$dir/"; fi
    done
}

# Starts Xvfb on a free display (WIDTHxHEIGHT, default 800x480, 24 bits);
# sets DISPLAY.
e2e_xvfb() {
    local fdfile=$E2E_TMP/display
    e2e_spawn Xvfb -displayfd 5 -screen 0 "${1:-800x480}x24" -nolisten tcp -noreset 5>"$fdfile"
    local deadline=$((SECONDS + 10))
    until [ -s "$fdfile" ]; do
        [ "$SECONDS" -lt "$deadline" ] || e2e_fail "Xvfb did not start"
        sleep 0.05
    done
    export DISPLAY=:$(head -n 1 "$fdfile")
    until xdpyinfo >/dev/null 2>&1; do
        [ "$SECONDS" -lt "$deadline" ] || e2e_fail "Xvfb does not answer on $DISPLAY"
        sleep 0.05
    done
}

# Colour of a pixel of an image as RRGGBB (upper case).
e2e_pixel() {
    convert "$1" -format "%[hex:u.p{$2,$3}]" info: | tr 'a-f' 'A-F' | cut -c1-6
}

e2e_expect_pixel() {
    local image=$1 x=$2 y=$3 expected=$4
    local actual
    actual=$(e2e_pixel "$image" "$x" "$y")
    [ "$actual" = "$expected" ] || e2e_fail "pixel ($x, $y) of $(basename "$image") is $actual, expected $expected"
}

# Fails when a sanitizer reported anything in the file (sanitizer builds).
e2e_no_sanitizer_reports() {
    local file
    for file in "$@"; do
        if LC_ALL=C grep -qE 'AddressSanitizer|LeakSanitizer|UndefinedBehaviorSanitizer|runtime error:' "$file"; then
            LC_ALL=C grep -E -A5 'Sanitizer|runtime error:' "$file" | head -n 30 >&2
            e2e_fail "sanitizer report in $(basename "$file")"
        fi
    done
}

e2e_expect_grep() {
    LC_ALL=C grep -qE -- "$2" "$1" || e2e_fail "no line matching '$2' in $(basename "$1")"
}
