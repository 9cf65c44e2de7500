#!/usr/bin/env bash
# Renders every factory preset through velmora-render and prints a table of levels, so a
# preset that clips or jumps in level against the dry signal stands out before it ships.
#
#   scripts/audition-presets.sh OUT_DIR [INPUT]
#
# INPUT defaults to the renderer's demo clip. Renders land in OUT_DIR/<bank>/<name>.wav.
# Peak and RMS are the renderer's own figures over the whole render, echo tail included.
# "vs dry" compares energy with the same input at Mix 0 (RMS weighted by length), so a
# long echo tail counts as sound instead of diluting the RMS.
# VELMORA_RENDER and PRESET_TABLE override the renderer and the table.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
render="${VELMORA_RENDER:-$root/build/bin/velmora-render}"
table="${PRESET_TABLE:-$root/tools/presets/factory-presets.tsv}"

if [ $# -lt 1 ] || [ $# -gt 2 ]; then
  echo "usage: $0 OUT_DIR [INPUT]" >&2
  exit 2
fi
[ -x "$render" ] || { echo "no renderer at $render (run scripts/build.sh)" >&2; exit 1; }
[ -f "$table" ] || { echo "no preset table at $table" >&2; exit 1; }

# The table feeds the preset generator too: catch rows it would choke on before rendering.
awk -F'\t' '
  /^#/ || /^$/ { next }
  $1 == "bank" && $2 == "name" { next }
  {
    where = "line " NR " (" $2 "): "
    if (NF != 5) { print where NF " columns, want 5"; bad = 1 }
    if (length($2) < 1 || length($2) > 24 || $2 ~ /[\/\\:*?"<>|]/) { print where "name empty, too long or not a file name"; bad = 1 }
    if (length($4) > 120) { print where "description longer than 120 characters"; bad = 1 }
    if (seen[$1 "\t" $2]++) { print where "name used twice in bank \"" $1 "\""; bad = 1 }
    n = split($5, a, " ")
    for (i = 1; i <= n; ++i) if (a[i] !~ /^[A-Za-z]+=[^=]+$/) { print where "not ID=VALUE: " a[i]; bad = 1 }
  }
  END { exit bad }' "$table" >&2 || { echo "fix $table first" >&2; exit 1; }

mkdir -p "$1"
out="$(cd "$1" && pwd)"
# The processor creates its data folders when constructed; keep them out of /opt and ~/.config.
export HALVEX_FOLDERS_ROOT="${HALVEX_FOLDERS_ROOT:-$out/folders}"
if [ $# -eq 2 ]; then
  input="$(cd "$(dirname "$2")" && pwd)/$(basename "$2")"
else
  # The demo writes into the working directory; its input clip is the audition source.
  (cd "$out" && "$render" >/dev/null)
  input="$out/velmora-demo/input.wav"
fi

# "peak -4.8 dBFS, RMS -21.9 dBFS" and "6.50 s" out of the renderer's one-line report.
stats() {
  sed -nE 's/.*: ([0-9.]+) s \(.*peak ([-0-9.inf]+) dBFS, RMS ([-0-9.inf]+) dBFS.*/\1 \2 \3/p' <<<"$1"
}

line="$("$render" "$input" "$out/dry.wav" --set Mix=0)"
read -r dry_length dry_peak dry_rms <<<"$(stats "$line")"

printf '%-18s %-24s %9s %9s %7s %7s  %s\n' bank name "peak dB" "RMS dB" "vs dry" "len s" check
printf '%-18s %-24s %9s %9s %7s %7s\n' "" "(dry, Mix 0)" "$dry_peak" "$dry_rms" "" "$dry_length"

failed=0
while IFS= read -r row || [ -n "$row" ]; do
  case "$row" in '' | '#'*) continue ;; esac
  # A unit separator instead of tabs keeps the empty bank field of top-level rows.
  IFS=$'\x1f' read -r bank name _ _ settings <<<"${row//$'\t'/$'\x1f'}"
  [ "$bank" = bank ] && [ "$name" = name ] && continue

  args=()
  read -ra assignments <<<"$settings"
  for a in "${assignments[@]}"; do args+=(--set "$a"); done

  dir="$out${bank:+/$bank}"
  mkdir -p "$dir"
  if ! line="$("$render" "$input" "$dir/$name.wav" "${args[@]}" 2>&1)"; then
    printf '%-18s %-24s  render failed: %s\n' "${bank:--}" "$name" "$line"
    failed=1
    continue
  fi
  read -r length peak rms <<<"$(stats "$line")"
  read -r vs check <<<"$(awk -v p="$peak" -v r="$rms" -v l="$length" -v d="$dry_rms" -v dl="$dry_length" 'BEGIN {
    if (r == "-inf") { print "- silent"; exit }
    v = r - d + 10 * log(l / dl) / log(10)
    s = ""; if (p > -1.0) s = s "peak "; if (v > 3 || v < -3) s = s "level"
    printf "%+.1f %s\n", v, s }')"
  printf '%-18s %-24s %9s %9s %7s %7s  %s\n' "${bank:--}" "$name" "$peak" "$rms" "$vs" "$length" "$check"
done <"$table"

echo
echo "Renders: $out (input: $input)"
exit "$failed"
