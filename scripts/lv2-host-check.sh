#!/usr/bin/env bash
# Runs the built LV2 bundle in jalv, a third-party LV2 host, on a private dummy JACK server:
# the bundle must be found under its URI, instantiate, and turn a click track into audio.
# Usage: lv2-host-check.sh <path/to/Velmora.lv2> [plugin URI]
set -euo pipefail

bundle=${1:?usage: lv2-host-check.sh <path/to/Velmora.lv2> [plugin URI]}
uri=${2:-https://plugins.quarno.audio/velmora}
[ -f "$bundle/manifest.ttl" ] || { echo "FAIL: no LV2 bundle at $bundle" >&2; exit 1; }

for tool in jackd jack_wait jack_lsp jack_connect jack_metro jack_rec jalv lv2ls timeout flock od awk; do
  command -v "$tool" >/dev/null || { echo "FAIL: $tool not installed (scripts/install-deps.sh)" >&2; exit 1; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/velmora-lv2-check.XXXXXX")
# Nothing here may touch the real home: JACK, jalv and the plug-in all write below it.
export HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config"
export HALVEX_FOLDERS_ROOT="$work/home/folders"
mkdir -p "$XDG_CONFIG_HOME"
export JACK_NO_AUDIO_RESERVATION=1
export JACK_NO_START_SERVER=1
export LV2_PATH
LV2_PATH=$(cd "$(dirname "$bundle")" && pwd)

client=velmora_check
pids=()
cleanup() {
  exec 3>&- 2>/dev/null || true
  # Newest first and one at a time: the clients leave before the server, which then shuts
  # down cleanly and frees its entry in JACK's shared server registry.
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
    kill "${pids[i]}" 2>/dev/null || true
    wait "${pids[i]}" 2>/dev/null || true
  done
  rm -rf "$work"
}

# --foreground: on expiry (or when we stop it) only the command gets the signal; plain
# timeout would signal this whole process group, the JACK server included. Background jobs
# call timeout directly, so that $! is timeout itself and not a subshell that would die alone.
limit() {
  local seconds=$1
  shift
  timeout --foreground -k 5 "$seconds" "$@"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

fail() {
  echo "FAIL: $*" >&2
  for log in jackd.log jalv.log metro.log rec.log; do
    [ -s "$work/$log" ] && { echo "--- $log" >&2; tail -n 40 "$work/$log" >&2; }
  done
  exit 1
}

# The URI in the Turtle files must be the one the binary answers to.
limit 20 lv2ls | grep -qxF "$uri" || fail "lv2ls does not list $uri under $LV2_PATH"

# A JACK server of our own, one at a time on this machine: dummy servers starting side by side
# trip over each other, and JACK's shared registry holds only eight server names (a server that
# dies uncleanly keeps its entry until one of the same name starts again). So: one fixed name,
# a lock around its use, and a wait for any leftover of a killed run to time out.
export JACK_DEFAULT_SERVER=velmora-lv2-check
exec 4>"${TMPDIR:-/tmp}/velmora-lv2-check.lock"
flock -w 40 4 || fail "another run of this check held the JACK lock for 40 s"
if limit 5 jack_wait -c 2>/dev/null | grep -qx running; then
  limit 35 jack_wait -q -t 30 >/dev/null 2>&1 || fail "a JACK server named $JACK_DEFAULT_SERVER is already running"
fi

# No realtime scheduling: CI runs in containers without the privilege.
timeout --foreground -k 5 30 jackd --no-realtime -n "$JACK_DEFAULT_SERVER" -d dummy -r 48000 -p 512 >"$work/jackd.log" 2>&1 4>&- &
pids+=($!)
limit 15 jack_wait -w -t 10 >/dev/null 2>&1 || fail "the dummy JACK server did not start"

# jalv reads console commands from stdin and exits when it closes; fd 3 holds it open
# (background children must not inherit it, or jalv never sees the end).
mkfifo "$work/commands"
timeout --foreground -k 5 25 jalv -x -n "$client" "$uri" <"$work/commands" >"$work/jalv.log" 2>&1 4>&- &
jalv_pid=$!
pids+=("$jalv_pid")
exec 3>"$work/commands"

for _ in $(seq 100); do
  limit 5 jack_lsp 2>/dev/null | grep -qx "$client:audio_out_2" && break
  kill -0 "$jalv_pid" 2>/dev/null || fail "jalv exited before creating its ports"
  sleep 0.1
done
ports=$(limit 5 jack_lsp 2>/dev/null | grep "^$client:" || true)
for port in audio_in_1 audio_in_2 audio_out_1 audio_out_2; do
  grep -qx "$client:$port" <<<"$ports" || fail "jalv did not create $client:$port (ports: $ports)"
done

# A click track in, the processed output recorded for three seconds.
timeout --foreground -k 5 25 jack_metro -n click -b 240 -A 0.5 -D 20 >"$work/metro.log" 2>&1 3>&- 4>&- &
pids+=($!)
for _ in $(seq 100); do
  limit 5 jack_lsp 2>/dev/null | grep -qx "click:240_bpm" && break
  sleep 0.1
done
limit 5 jack_connect click:240_bpm "$client:audio_in_1" || fail "could not connect the click to the left input"
limit 5 jack_connect click:240_bpm "$client:audio_in_2" || fail "could not connect the click to the right input"
# The click itself is recorded alongside: both are written in the same JACK cycle.
limit 20 jack_rec -f "$work/out.wav" -d 3 -b 16 click:240_bpm "$client:audio_out_1" "$client:audio_out_2" \
  >"$work/rec.log" 2>&1 3>&- || fail "jack_rec failed"

# The host must know the plug-in's parameters; then a clean shutdown.
echo controls >&3
sleep 1
exec 3>&-
jalv_status=0
wait "$jalv_pid" || jalv_status=$?
[ "$jalv_status" -eq 0 ] || fail "jalv exited with status $jalv_status"

grep -q "^Sample rate: *48000 Hz" "$work/jalv.log" || fail "jalv did not report the plug-in running at 48000 Hz"
params=(Mode RetroRate RetroDepth RetroWidth MultiRate MultiDepth MultiWidth DetuneRate DetuneDepth DetuneWidth
        RandRate RandDepth RandWidth EchoFeedback EchoDelay EchoEnable OutputGain Hipass Lowpass Mix)
for p in "${params[@]}"; do
  grep -Eq "(^|[ >])velmora_$p = " "$work/jalv.log" || fail "jalv does not list the parameter $p"
done

# 16-bit frames of (click, left, right) after the "data" chunk header. The plug-in must have
# turned the clicks into something else (at the default Mix half of it is chorus and echo),
# at a sane level.
data=$(grep -obUa data "$work/out.wav" | head -n 1 | cut -d: -f1)
[ -n "$data" ] || fail "jack_rec wrote no WAV data chunk"
read -r frames inpeak peak diff < <(od -An -v -t d2 -w6 -j $((data + 8)) "$work/out.wav" |
  awk 'function abs(v) { return v < 0 ? -v : v }
       NF == 3 { n++; if (abs($1) > ip) ip = abs($1)
                 for (c = 2; c <= 3; c++) { if (abs($c) > p) p = abs($c); if (abs($c - $1) > d) d = abs($c - $1) } }
       END { print n + 0, ip + 0, p + 0, d + 0 }')
echo "jalv ran $uri: $frames frames, click peak $inpeak, output peak $peak, largest output-click difference $diff (of 32767)"
[ "$frames" -ge 96000 ] || fail "recorded only $frames frames"
[ "$inpeak" -gt 8000 ] || fail "the click did not reach the recording (peak $inpeak)"
[ "$peak" -gt 1000 ] || fail "the plug-in's output is silent (peak $peak)"
[ "$peak" -lt 32767 ] || fail "the plug-in's output clips"
[ "$diff" -gt 1000 ] || fail "the output is the click unchanged: the plug-in did not process it"
echo "PASS"
