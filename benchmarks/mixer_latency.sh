#!/usr/bin/env bash
# Latency of the audio mixer from the play operation to the first non-zero
# sample recorded at the sink, with a private sound server (a null sink at
# 16 kHz without rewinds), as the end-to-end tests start it.
#
#   benchmarks/mixer_latency.sh [build directory (default: build)]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
[ -x "$build/benchmarks/MixerLatency" ] || { echo "build the benchmarks in $build first" >&2; exit 1; }

export XDG_RUNTIME_DIR=$(mktemp -d)
unset PULSE_SERVER PULSE_SINK
pulseaudio -n --daemonize=no --exit-idle-time=-1 --use-pid-file=false --realtime=false --high-priority=false \
    --disable-shm=yes --log-target=stderr --log-level=error \
    -L "module-null-sink sink_name=sink16 rate=16000 channels=1 format=s16le norewinds=1" \
    -L "module-native-protocol-unix auth-anonymous=1" &
pa=$!
trap 'kill $pa 2>/dev/null || true; wait $pa 2>/dev/null || true; rm -rf "$XDG_RUNTIME_DIR"' EXIT
until pactl info >/dev/null 2>&1; do sleep 0.05; done
PULSE_SINK=sink16 "$build/benchmarks/MixerLatency" sink16
