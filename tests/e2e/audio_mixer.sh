#!/usr/bin/env bash
# The audio mixer against a real sound server started here (a null sink at
# 16 kHz without rewinds): the recording of the sink's monitor must equal,
# bit for bit from the first non-zero sample, what the mixer arithmetic
# gives for the program's plays, volume change and stop (sound.lua holds the
# model). Mixers collected while they play, under GC stress; a stream that
# cannot be made; and no server at all: each runs to its end with at most one
# message about sound.
source "$(dirname "$0")/lib.bash"
e2e_init "$1" "$2"
source "$SOURCE/tests/e2e/sound.bash"
export QT_QPA_PLATFORM=$OFFSCREEN
err=$E2E_TMP/stderr
E2E_SHOW="$err $E2E_TMP/pulseaudio.log"

lua5.4 "$SOURCE/tests/e2e/sound.lua" make "$E2E_TMP"
SOUND_FILES="a.raw b.raw c.raw"

# No server at all: silent, one message, the same results.
run_app mixer PULSE_SERVER="unix:$E2E_TMP/no-server"
[ "$(sound_messages)" -eq 1 ] || e2e_fail "no server: $(sound_messages) sound messages"
e2e_expect_grep "$err" '^Sound: no sound server \(.+\); the application runs without sound$'
[ "$(grep '^LOG: ' "$err" | tr '\n' ' ')" = "LOG: 0 LOG: 1 LOG: 2 LOG: -1 LOG: started LOG: 384 LOG: done " ] ||
    e2e_fail "no server: the program's log differs"

e2e_pulseaudio

# The recorded sound, bit-exact.
e2e_record sink16 16000 "$E2E_TMP/mixer.raw"
run_app mixer PULSE_SINK=sink16
[ "$(sound_messages)" -eq 0 ] || e2e_fail "sound messages with a server"
sleep 0.3
e2e_stop_recording
lua5.4 "$SOURCE/tests/e2e/sound.lua" mixer "$E2E_TMP/mixer.raw" || e2e_fail "the mixer's sound differs"

# A stream the server refuses (no such sink): one message, the program runs on.
run_app mixer PULSE_SINK=no-such-sink
[ "$(sound_messages)" -eq 1 ] || e2e_fail "refused stream: $(sound_messages) sound messages"
e2e_expect_grep "$err" "^Sound: the mixer's playback stream failed"

# Mixers collected while they play, with and without a collection at every call.
run_app mixer_collect PULSE_SINK=sink16
run_app mixer_collect PULSE_SINK=sink16 MCB_GC_STRESS=1
echo "PASS audio_mixer"
