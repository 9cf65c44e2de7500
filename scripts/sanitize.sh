#!/usr/bin/env bash
# Sanitizer stages: builds the unit tests with a sanitizer into their own build folder and
# runs them. Usage: scripts/sanitize.sh thread [ctest -R regex]
#   thread   ThreadSanitizer over the tests that share state between threads
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
kind="${1:-thread}"
filter="${2:-}"

case "$kind" in
  thread) flags="-fsanitize=thread"; build="$root/build-tsan"; labels="unit" ;;
  *) echo "sanitize: unknown kind '$kind' (expected: thread)" >&2; exit 2 ;;
esac

launcher=()
if command -v ccache >/dev/null 2>&1; then launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache); fi

if [ ! -f "$build/build.ninja" ]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${launcher[@]}" \
        -DVELMORA_BUILD_PLUGIN=OFF -DVELMORA_BUILD_TOOLS=OFF -DVELMORA_BUILD_BENCH=OFF \
        -DCMAKE_CXX_FLAGS="$flags -fno-omit-frame-pointer" \
        -DCMAKE_EXE_LINKER_FLAGS="$flags" -DCMAKE_SHARED_LINKER_FLAGS="$flags"
fi
cmake --build "$build" -- -j"$(nproc)"

export HOME="$(mktemp -d)"
export XDG_CONFIG_HOME="$HOME/.config" HALVEX_FOLDERS_ROOT="$HOME/folders"
trap 'rm -rf "$HOME"' EXIT
# Any report fails the run; JUCE's own internals need no suppressions so far.
export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1"

cd "$build"
args=(--output-on-failure -L "$labels" -j2)
[ -n "$filter" ] && args+=(-R "$filter")
ctest "${args[@]}"
