#!/usr/bin/env bash
# Runs the built LV2 bundle in jalv, a third-party LV2 host, on a private dummy JACK server:
# - its Turtle must validate against the LV2 vocabularies;
# - the bundle must be found under its URI, instantiate, and turn a click track into audio;
# - a test file played through it must come back processed: at its defaults no echo, with
#   parameters set through the host (Mix 100, an echo) the delayed copy where it belongs;
# - the state jalv saves must hold those parameters, and a fresh jalv loading it must sound
#   the same.
# Usage: lv2-host-check.sh <path/to/Velmora.lv2> [plugin URI]
set -euo pipefail

bundle=${1:?usage: lv2-host-check.sh <path/to/Velmora.lv2> [plugin URI]}
uri=${2:-https://plugins.quarno.audio/velmora}
[ -f "$bundle/manifest.ttl" ] || { echo "FAIL: no LV2 bundle at $bundle" >&2; exit 1; }
here=$(cd "$(dirname "$0")" && pwd)

for tool in jackd jack_wait jack_lsp jack_connect jack_metro jack_rec jack-play jack-record jalv jalv.gtk3 \
            lv2ls sord_validate dpkg Xvfb xdotool timeout flock od awk; do
  command -v "$tool" >/dev/null || { echo "FAIL: $tool not installed (scripts/install-deps.sh)" >&2; exit 1; }
done
# The system interpreter: a per-user one (pyenv and the like) would look below the fake home.
python=/usr/bin/python3
[ -x "$python" ] || python=$(command -v python3) || { echo "FAIL: python3 not installed" >&2; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/velmora-lv2-check.XXXXXX")
# Nothing here may touch the real home: JACK, jalv, GTK and the plug-in all write below it.
export HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" XDG_DATA_HOME="$work/home/.local/share"
export HALVEX_FOLDERS_ROOT="$work/home/folders"
mkdir -p "$XDG_CONFIG_HOME" "$XDG_DATA_HOME" "$work/states"
export JACK_NO_AUDIO_RESERVATION=1
export JACK_NO_START_SERVER=1
# GTK without a session bus: no settings daemon, no accessibility bridge.
export GSETTINGS_BACKEND=memory NO_AT_BRIDGE=1
export LV2_PATH
LV2_PATH=$(cd "$(dirname "$bundle")" && pwd)
unset DISPLAY

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
  for log in jackd.log jalv.log metro.log rec.log xvfb.log jalv-saving.log jalv-restored.log play.log record.log; do
    [ -s "$work/$log" ] && { echo "--- $log" >&2; grep -v '^$' "$work/$log" | tail -n 40 >&2; }
  done
  exit 1
}

# --- The Turtle, against the vocabularies lv2-dev installs (which validate cleanly alone).
mapfile -t schemas < <(dpkg -L lv2-dev | grep -E '^/usr/lib/lv2/[^/]+\.lv2/[^/]+\.ttl$')
[ ${#schemas[@]} -gt 20 ] || fail "lv2-dev's Turtle files are missing"
limit 20 sord_validate "${schemas[@]}" "$bundle"/*.ttl >"$work/sord.log" 2>&1 || true
grep -q "^Found [0-9]* errors" "$work/sord.log" || fail "sord_validate did not finish: $(cat "$work/sord.log")"
# One line per finding: message | subject | predicate | object, blank nodes as [] and the
# plug-in's URI as PLUGIN, so that they compare across builds.
mapfile -t findings < <(awk -v uri="$uri" '
  function flush(  i) {
    if (msg == "") return
    while ((i = index(msg, uri)) > 0) msg = substr(msg, 1, i - 1) "PLUGIN" substr(msg, i + length(uri))
    print msg; msg = ""
  }
  /^(error|warning): / { flush(); msg = $0; next }
  /^Found / { flush(); next }
  /^[ \t]+[^ \t]/ { sub(/^[ \t]+/, ""); if ($0 ~ /^b[0-9]+$/) $0 = "[]"; msg = msg " | " $0 }
  END { flush() }' "$work/sord.log")
# What JUCE's LV2 generator writes into every bundle; hosts read past it. Printed on every run.
juce_findings=(
  "error: Subject not in domain <http://usefulinc.com/ns/doap#Project> | PLUGIN | http://usefulinc.com/ns/doap#maintainer | []"
  "error: Subject not in domain <http://usefulinc.com/ns/doap#Project> | PLUGIN | http://usefulinc.com/ns/doap#release | []"
  "error: Object not in range <http://lv2plug.in/ns/lv2core#ExtensionData> | PLUGIN:UI | http://lv2plug.in/ns/lv2core#extensionData | http://lv2plug.in/ns/extensions/ui#noUserResize"
  "error: Object not in range <http://lv2plug.in/ns/lv2core#Feature> | PLUGIN:UI | http://lv2plug.in/ns/lv2core#optionalFeature | http://lv2plug.in/ns/ext/options#interface"
  "error: Use of undefined property | [] | PLUGIN:Program | 0"
  "error: Property <PLUGIN:Program> has no label | [] | PLUGIN:Program | 0"
)
unexpected=0
for f in "${findings[@]+"${findings[@]}"}"; do
  known=no
  for j in "${juce_findings[@]}"; do [ "$f" = "$j" ] && known=yes; done
  if [ $known = yes ]; then
    echo "Turtle (JUCE's own): ${f#error: }"
  else
    echo "Turtle: $f" >&2
    case $f in error:*) unexpected=$((unexpected + 1)) ;; esac
  fi
done
[ $unexpected -eq 0 ] || fail "sord_validate found $unexpected error(s) in the bundle's Turtle (above)"

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
timeout --foreground -k 5 50 jackd --no-realtime -n "$JACK_DEFAULT_SERVER" -d dummy -r 48000 -p 512 >"$work/jackd.log" 2>&1 4>&- &
pids+=($!)
limit 15 jack_wait -w -t 10 >/dev/null 2>&1 || fail "the dummy JACK server did not start"

wait_for_ports() {
  local name=$1 pid=$2
  for _ in $(seq 150); do
    limit 5 jack_lsp 2>/dev/null | grep -qx "$name:audio_out_2" && return 0
    kill -0 "$pid" 2>/dev/null || fail "the host exited before creating its ports"
    sleep 0.1
  done
  fail "no JACK ports for $name after 15 s"
}

# Plays the test file into a client's inputs and records its outputs as float WAV. The recorder
# is connected before the player starts and stopped after it ends, so the recording holds the
# whole file wherever the server's cycles fell; the analysis finds the burst by itself.
play_through() {
  local name=$1 out=$2
  timeout --foreground -k 5 25 jack-record -b 262144 -p "$name:audio_out_%d" -n 2 "$out" \
    >"$work/record.log" 2>&1 3>&- 4>&- &
  local recorder=$!
  pids+=("$recorder")
  local connected=no
  for _ in $(seq 100); do
    [ "$(limit 5 jack_lsp -c "$name:audio_out_" 2>/dev/null | grep -c "jack-record")" -ge 2 ] && { connected=yes; break; }
    kill -0 "$recorder" 2>/dev/null || fail "jack-record exited before recording"
    sleep 0.1
  done
  [ $connected = yes ] || fail "jack-record did not connect to $name's outputs"
  # jack-play exits once it has read the file, up to a ring (-b, 0.34 s) before it has played it.
  JACK_PLAY_CONNECT_TO="$name:audio_in_%d" limit 20 jack-play -b 16384 "$work/signal.wav" \
    >"$work/play.log" 2>&1 3>&- || fail "jack-play failed"
  sleep 0.5
  kill -INT "$recorder"
  wait "$recorder" || fail "jack-record failed"
  unset 'pids[${#pids[@]}-1]'
}

"$python" "$here/lv2-host-audio.py" signal "$work/signal.wav" || fail "could not write the test signal"

# jalv reads console commands from stdin and exits when it closes; fd 3 holds it open
# (background children must not inherit it, or jalv never sees the end).
mkfifo "$work/commands"
timeout --foreground -k 5 30 jalv -x -n "$client" "$uri" <"$work/commands" >"$work/jalv.log" 2>&1 4>&- &
jalv_pid=$!
pids+=("$jalv_pid")
exec 3>"$work/commands"

wait_for_ports "$client" "$jalv_pid"
ports=$(limit 5 jack_lsp 2>/dev/null | grep "^$client:" || true)
for port in audio_in_1 audio_in_2 audio_out_1 audio_out_2; do
  grep -qx "$client:$port" <<<"$ports" || fail "jalv did not create $client:$port (ports: $ports)"
done

# A click track in, the processed output recorded for three seconds.
timeout --foreground -k 5 25 jack_metro -n click -b 240 -A 0.5 -D 20 >"$work/metro.log" 2>&1 3>&- 4>&- &
metro_pid=$!
pids+=("$metro_pid")
for _ in $(seq 100); do
  limit 5 jack_lsp 2>/dev/null | grep -qx "click:240_bpm" && break
  sleep 0.1
done
limit 5 jack_connect click:240_bpm "$client:audio_in_1" || fail "could not connect the click to the left input"
limit 5 jack_connect click:240_bpm "$client:audio_in_2" || fail "could not connect the click to the right input"
# The click itself is recorded alongside: both are written in the same JACK cycle.
limit 20 jack_rec -f "$work/out.wav" -d 3 -b 16 click:240_bpm "$client:audio_out_1" "$client:audio_out_2" \
  >"$work/rec.log" 2>&1 3>&- || fail "jack_rec failed"
kill "$metro_pid" 2>/dev/null || true
wait "$metro_pid" 2>/dev/null || true
unset 'pids[${#pids[@]}-1]'

# The test file at the defaults: the reference for "no echo".
play_through "$client" "$work/defaults.wav"

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

summary=$("$python" "$here/lv2-host-audio.py" check "$work/defaults.wav" --no-echo 2>&1) || fail "$summary"
echo "test file at the defaults: $summary"

# --- Parameters through the host, then its saved state. Console jalv 1.6 has no way to save
# (only its GTK front end does, from a dialog) and delivers -c values for patch parameters
# only with a UI open, so this stage runs jalv.gtk3 with its generic UI on a private X server
# and drives the Save dialog with xdotool. A private server: no other test can take the focus.
# Not display :0: a JUCE process without DISPLAY falls back to :0.0, so a test running beside
# this one would attach to this server and die with it.
display=:
for n in $(seq 50 99); do
  [ -e "/tmp/.X$n-lock" ] && continue
  timeout --foreground -k 5 40 Xvfb ":$n" -nolisten tcp -screen 0 1024x768x24 >"$work/xvfb.log" 2>&1 3>&- 4>&- &
  xvfb_pid=$!
  for _ in $(seq 50); do [ -S "/tmp/.X11-unix/X$n" ] && break; kill -0 "$xvfb_pid" 2>/dev/null || break; sleep 0.1; done
  if [ -S "/tmp/.X11-unix/X$n" ] && kill -0 "$xvfb_pid" 2>/dev/null; then pids+=("$xvfb_pid"); display=":$n"; break; fi
done
[ "$display" != : ] || fail "Xvfb did not start"
gui() { DISPLAY=$display limit 10 xdotool "$@"; }

# Multi at zero depth: no modulation, so the levels repeat from run to run.
settings=(Mode=1 MultiDepth=0 Mix=100 EchoDelay=60 EchoFeedback=50 OutputGain=-6 Lowpass=12000)
controls=()
for s in "${settings[@]}"; do controls+=(-c "velmora_$s"); done
saver=velmora_saving
# The Save dialog opens in the working directory: the state lands in states/.
(cd "$work/states" && DISPLAY=$display exec timeout --foreground -k 5 35 \
  jalv.gtk3 -g -x --jack-name "$saver" "${controls[@]}" "$uri" >"$work/jalv-saving.log" 2>&1 </dev/null 3>&- 4>&-) &
saver_pid=$!
pids+=("$saver_pid")
wait_for_ports "$saver" "$saver_pid"
window=$(gui search --sync --onlyvisible --name '^Velmora$' | head -n 1) || true
[ -n "$window" ] || fail "jalv.gtk3 showed no window"

play_through "$saver" "$work/set.wav"
summary=$("$python" "$here/lv2-host-audio.py" check "$work/set.wav" --echo 2>&1) || fail "$summary"
echo "test file with ${settings[*]}: $summary"

dialog=
for _ in 1 2 3; do
  gui windowfocus --sync "$window" >/dev/null 2>&1 || true
  gui key --clearmodifiers ctrl+s || true
  dialog=$(DISPLAY=$display timeout 5 xdotool search --sync --onlyvisible --name '^Save State$' 2>/dev/null | head -n 1) || true
  [ -n "$dialog" ] && break
done
[ -n "$dialog" ] || fail "jalv.gtk3's Save dialog did not open"
gui windowfocus --sync "$dialog" >/dev/null 2>&1 || true
gui type --delay 5 saved || fail "could not type into the Save dialog"
# Return accepts once the name entry has settled (its completion runs after each key); lilv
# writes the bundle's manifest last.
for _ in 1 2 3; do
  sleep 0.3
  gui key --clearmodifiers Return || true
  for _ in $(seq 30); do [ -s "$work/states/saved/manifest.ttl" ] && break 2; sleep 0.1; done
done
{ [ -s "$work/states/saved/state.ttl" ] && [ -s "$work/states/saved/manifest.ttl" ]; } || fail "jalv saved no state"
kill "$saver_pid" 2>/dev/null || true
wait "$saver_pid" 2>/dev/null || true
unset 'pids[${#pids[@]}-1]'

summary=$("$python" "$here/lv2-host-audio.py" state "$work/states/saved/state.ttl" "${settings[@]}" 2>&1) || fail "$summary"
echo "$summary"

# A fresh console jalv restores that state, with nothing set on its command line.
restorer=velmora_restored
mkfifo "$work/commands-restored"
timeout --foreground -k 5 25 jalv -x -n "$restorer" -l "$work/states/saved" "$uri" <"$work/commands-restored" \
  >"$work/jalv-restored.log" 2>&1 4>&- &
restorer_pid=$!
pids+=("$restorer_pid")
exec 3>"$work/commands-restored"
wait_for_ports "$restorer" "$restorer_pid"
play_through "$restorer" "$work/restored.wav"
exec 3>&-
jalv_status=0
wait "$restorer_pid" || jalv_status=$?
[ "$jalv_status" -eq 0 ] || fail "jalv with the saved state exited with status $jalv_status"
grep -q "Failed to load state" "$work/jalv-restored.log" && fail "jalv could not load the saved state"
summary=$("$python" "$here/lv2-host-audio.py" check "$work/restored.wav" --echo --like "$work/set.wav" 2>&1) ||
  fail "$summary"
echo "test file after restoring that state: $summary"
echo "PASS"
