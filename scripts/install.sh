#!/usr/bin/env bash
# Installs what is missing, builds, and installs Velmora: the VST3 and LV2 bundles for the
# current user (~/.vst3, ~/.lv2), the factory presets and MIDI mappings into the shared
# product folder (/opt/Quarno/Velmora), which all users' copies of the plug-in read.
#
# VST3_DIR and LV2_DIR override the bundle folders. An absolute HALVEX_FOLDERS_ROOT moves
# the shared folder below it, as it does for the plug-in itself (tests, packaging).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${VELMORA_BUILD_DIR:-$root/build}"
vst3_dir="${VST3_DIR:-$HOME/.vst3}"
lv2_dir="${LV2_DIR:-$HOME/.lv2}"
if [[ "${HALVEX_FOLDERS_ROOT:-}" == /* ]]; then
  shared="$HALVEX_FOLDERS_ROOT/shared/Quarno/Velmora"
else
  shared="/opt/Quarno/Velmora"
fi

fail() { echo "install: $*" >&2; exit 1; }

"$root/scripts/install-deps.sh"
"$root/scripts/build.sh"

artefacts="$build/plugin/Velmora_artefacts/Release"
vst3="$artefacts/VST3/Velmora.vst3"
lv2="$artefacts/LV2/Velmora.lv2"
[ -d "$vst3" ] || fail "no VST3 bundle at $vst3"
[ -d "$lv2" ] || fail "no LV2 bundle at $lv2"

# A bundle is a folder: copying over an older one would keep files the new one dropped.
mkdir -p "$vst3_dir" "$lv2_dir"
rm -rf "$vst3_dir/Velmora.vst3" "$lv2_dir/Velmora.lv2"
cp -a "$vst3" "$vst3_dir/"
cp -a "$lv2" "$lv2_dir/"

generator="$build/bin/velmora-presets"
[ -x "$generator" ] || fail "no preset generator at $generator; the build did not produce it"

# True when the folder, or the nearest one above it that exists, is writable.
writable() {
  local d="$1"
  while [ ! -e "$d" ]; do d="$(dirname "$d")"; done
  [ -w "$d" ]
}

as_admin=()
if [ "$(id -u)" -ne 0 ] && ! { writable "$(dirname "$shared")" && writable "$shared"; }; then
  command -v sudo >/dev/null 2>&1 || fail "$shared is not writable and sudo is missing; run as root"
  echo "Writing the factory presets to $shared needs admin rights: using sudo for this step."
  as_admin=(sudo)
fi

# The factory folders belong to the installer: start them afresh so renamed or retired
# presets do not linger. User presets live elsewhere and are not touched.
"${as_admin[@]}" mkdir -p "$shared"
"${as_admin[@]}" rm -rf "${shared:?}/presets" "${shared:?}/midi"
"${as_admin[@]}" "$generator" --out "$shared"

echo
echo "Installed Velmora:"
echo "  VST3            $vst3_dir/Velmora.vst3"
echo "  LV2             $lv2_dir/Velmora.lv2"
echo "  factory presets $shared/presets"
echo "  MIDI mappings   $shared/midi"
echo "  Standalone      $artefacts/Standalone/Velmora (run it from there)"
