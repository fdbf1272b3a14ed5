# Helpers of the sound end-to-end tests (sourced after lib.bash).

# Starts a private PulseAudio server (anonymous native protocol, no modules
# but those given) with two null sinks without rewinds: sink16 at 16 kHz and
# sink44 at 44.1 kHz, mono S16LE; waits until it answers. Its pid in PULSE_PID.
e2e_pulseaudio() {
    unset PULSE_SERVER PULSE_SINK
    e2e_spawn pulseaudio -n --daemonize=no --exit-idle-time=-1 --use-pid-file=false --realtime=false \
        --high-priority=false --disable-shm=yes --log-target=stderr --log-level=error \
        -L "module-null-sink sink_name=sink16 rate=16000 channels=1 format=s16le norewinds=1" \
        -L "module-null-sink sink_name=sink44 rate=44100 channels=1 format=s16le norewinds=1" \
        -L "module-native-protocol-unix auth-anonymous=1" 2>"$E2E_TMP/pulseaudio.log"
    PULSE_PID=$SPAWNED
    local deadline=$((SECONDS + 10))
    until pactl info >/dev/null 2>&1; do
        [ "$SECONDS" -lt "$deadline" ] || e2e_fail "the sound server does not answer"
        kill -0 "$PULSE_PID" 2>/dev/null || e2e_fail "the sound server ended: $(cat "$E2E_TMP/pulseaudio.log")"
        sleep 0.05
    done
}

# Records the monitor of a sink into a raw file in the background; its pid in
# RECORDER. Returns once the recording stream exists.
e2e_record() {
    local sink=$1 rate=$2 out=$3
    local before
    before=$(pactl list short source-outputs | wc -l)
    e2e_spawn parec -d "$sink.monitor" --rate="$rate" --channels=1 --format=s16le --raw --latency-msec=20 "$out"
    RECORDER=$SPAWNED
    local deadline=$((SECONDS + 10))
    until [ "$(pactl list short source-outputs | wc -l)" -gt "$before" ]; do
        [ "$SECONDS" -lt "$deadline" ] || e2e_fail "parec does not record"
        sleep 0.05
    done
}

# Ends the recorder started by e2e_record.
e2e_stop_recording() {
    kill "$RECORDER" 2>/dev/null || true
    e2e_wait_exit "$RECORDER" 5
}

# Installs the program with the sound files given in SOUND_FILES into a fresh
# application directory and runs it to its end with the given environment
# settings; it must exit with status 0 after logging "done", without
# sanitizer reports. Its standard error in $err.
run_app() {
    local program=$1
    shift
    local app=$E2E_TMP/app
    rm -rf "$app"
    e2e_install "$SOURCE/tests/e2e/programs/$program.mcbs" "$app"
    local f
    for f in $SOUND_FILES; do cp "$E2E_TMP/$f" "$app/"; done
    EXITED=0
    (cd "$app" && env "$@" timeout 30 "$MCBRUN") 2>"$err" >/dev/null || EXITED=$?
    e2e_no_sanitizer_reports "$err"
    [ "$EXITED" -eq 0 ] || e2e_fail "$program: status $EXITED"
    e2e_expect_grep "$err" '^LOG: done$'
}

# Lines of $err that are about sound being off.
sound_messages() { e2e_count "$err" '^Sound: '; }
