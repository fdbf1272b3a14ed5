#!/usr/bin/env bash
# The audio player against a real sound server started here (a null sink at
# 44.1 kHz without rewinds): a clip started twice plays once, bit-exact from
# its first non-zero sample, and a start followed by a stop before the server
# answered plays nothing (sound.lua holds the check). Players collected while
# they play, under GC stress; no server at all: one message, the run goes on.
source "$(dirname "$0")/lib.bash"
e2e_init "$1" "$2"
source "$SOURCE/tests/e2e/sound.bash"
export QT_QPA_PLATFORM=$OFFSCREEN
err=$E2E_TMP/stderr
E2E_SHOW="$err $E2E_TMP/pulseaudio.log"

lua5.4 "$SOURCE/tests/e2e/sound.lua" make "$E2E_TMP"
SOUND_FILES="clip.raw"

run_app player PULSE_SERVER="unix:$E2E_TMP/no-server"
[ "$(sound_messages)" -eq 1 ] || e2e_fail "no server: $(sound_messages) sound messages"
e2e_expect_grep "$err" '^Sound: no sound server \(.+\); the application runs without sound$'

e2e_pulseaudio

e2e_record sink44 44100 "$E2E_TMP/player.raw"
run_app player PULSE_SINK=sink44
[ "$(sound_messages)" -eq 0 ] || e2e_fail "sound messages with a server"
if grep -q '^BUG: ' "$err"; then e2e_fail "player: $(grep '^BUG: ' "$err")"; fi
sleep 0.3
e2e_stop_recording
lua5.4 "$SOURCE/tests/e2e/sound.lua" player "$E2E_TMP/player.raw" || e2e_fail "the player's sound differs"

run_app player_collect PULSE_SINK=sink44
run_app player_collect PULSE_SINK=sink44 MCB_GC_STRESS=1
echo "PASS audio_player"
