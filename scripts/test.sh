#!/usr/bin/env bash
# Second command: installs what is missing, builds everything and runs every test.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/install-deps.sh"
"$root/scripts/build.sh"

# Tests keep every folder they write in temporary directories; the GUI ones need a display.
export HOME="$(mktemp -d)"
export XDG_CONFIG_HOME="$HOME/.config"
# The plug-in's shared and user data folders (normally /opt and ~/.config) follow this seam.
export HALVEX_FOLDERS_ROOT="$HOME/folders"
trap 'rm -rf "$HOME"' EXIT

cd "$root/build"
run=(ctest --output-on-failure --timeout 600 -j2)
if command -v xvfb-run >/dev/null 2>&1; then
  xvfb-run -a "${run[@]}"
else
  "${run[@]}"
fi
