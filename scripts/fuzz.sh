#!/usr/bin/env bash
# Runs every fuzzer for SECONDS each (default 60), one after the other, from a scratch copy
# of its seeds: the repository's corpus is never written to. Builds the fuzzers first in
# build-asan (configured like scripts/sanitize.sh address when missing).
# Usage: scripts/fuzz.sh [SECONDS] [target...]
# The random seed comes from the commit (VELMORA_FUZZ_SEED overrides it): runs of one commit
# follow the same random sequence, as far as their time allows, so a failure in CI can be
# repeated; each new commit explores new ground.
# A crash, leak, time-out or report fails the run; the input that caused it is kept in
# build-asan/fuzz-artifacts/<target>/ (reproduce: build-asan/fuzz/velmora_fuzz_<target> FILE).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
seconds="${1:-60}"
shift || true
build="$root/build-asan"

# name:max_len:dictionary
all=(host_state:65536:xml.dict preset_file:65536:xml.dict clipboard_text:65536:xml.dict
     translation_table:32768:translation.dict update_answer:4096:update.dict)
selected=()
for entry in "${all[@]}"; do
  if [ $# -eq 0 ] || [[ " $* " == *" ${entry%%:*} "* ]]; then selected+=("$entry"); fi
done
[ ${#selected[@]} -gt 0 ] || { echo "fuzz: no target matches '$*'" >&2; exit 2; }

targets=()
for entry in "${selected[@]}"; do targets+=("velmora_fuzz_${entry%%:*}"); done
"$root/scripts/sanitize.sh" address --build-only "${targets[@]}"

scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
# The fuzzers keep their folder roots under TMPDIR; HOME keeps JUCE's own files off the user's.
export TMPDIR="$scratch/tmp" HOME="$scratch/home"
export XDG_CONFIG_HOME="$HOME/.config"
mkdir -p "$TMPDIR" "$HOME"
export ASAN_OPTIONS="detect_leaks=1 strict_string_checks=1 detect_stack_use_after_return=1"
export UBSAN_OPTIONS="halt_on_error=1 print_stacktrace=1"

seed="${VELMORA_FUZZ_SEED:-}"
if [ -z "$seed" ]; then
  head="$(git -C "$root" rev-parse HEAD 2>/dev/null || true)"
  if [[ "$head" =~ ^[0-9a-f]{7} ]]; then seed=$(( 16#${head:0:7} + 1 )); else seed=1; fi
fi
echo "fuzz: seed $seed (VELMORA_FUZZ_SEED=$seed repeats this run)"

logs="$build/fuzz-logs"
mkdir -p "$logs"
failed=0

for entry in "${selected[@]}"; do
  IFS=: read -r name maxLen dict <<<"$entry"
  corpus="$scratch/corpus/$name"
  artifacts="$build/fuzz-artifacts/$name"
  mkdir -p "$corpus" "$artifacts"
  cp "$root/tests/fuzz/corpus/$name/"* "$corpus/"
  log="$logs/$name.log"

  set +e
  "$build/fuzz/velmora_fuzz_$name" "$corpus" \
      -seed="$seed" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len="$maxLen" \
      -dict="$root/tests/fuzz/$dict" -artifact_prefix="$artifacts/" -print_final_stats=1 \
      >"$log" 2>&1
  status=$?
  set -e

  runs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")"
  rate="$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")"
  rss="$(sed -n 's/^stat::peak_rss_mb: *//p' "$log")"
  cov="$(grep -o 'cov: [0-9]*' "$log" | tail -1 | cut -d' ' -f2)"
  corp="$(grep -o 'corp: [0-9]*' "$log" | tail -1 | cut -d' ' -f2)"

  if [ "$status" -eq 0 ]; then
    printf 'fuzz %-18s ok      %ss, %s runs (%s/s), cov %s, corpus %s, peak rss %s MB\n' \
           "$name" "$seconds" "${runs:-?}" "${rate:-?}" "${cov:-?}" "${corp:-?}" "${rss:-?}"
  else
    failed=1
    what="$(grep -m1 -oE 'ERROR: (AddressSanitizer|LeakSanitizer|libFuzzer): [a-zA-Z-]+|runtime error: .*|deadly signal|timeout' "$log" || true)"
    crash="$(grep -m1 -oE "Test unit written to [^ ]+" "$log" | sed 's/Test unit written to //' || true)"
    printf 'fuzz %-18s FAILED  exit %s: %s; input %s; log %s\n' \
           "$name" "$status" "${what:-see log}" "${crash:-none}" "$log"
    tail -n 60 "$log" >&2
  fi
done

exit "$failed"
