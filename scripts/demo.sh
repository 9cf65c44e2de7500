#!/usr/bin/env bash
# First command: installs what is missing, builds, and renders the built-in demo through
# the plug-in into ./velmora-demo (WAV files, pictures and a table of levels).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/install-deps.sh"
"$root/scripts/build.sh"
cd "$root"
"$root/build/bin/velmora-render"
echo
echo "Renders and pictures: $root/velmora-demo"
