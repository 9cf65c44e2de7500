#!/usr/bin/env bash
# Sanitizer stages: builds the unit tests with a sanitizer into their own build folder and
# runs them. Usage: scripts/sanitize.sh KIND [ctest -R regex]
#   thread   ThreadSanitizer over the tests that share state between threads (GCC)
#   address  AddressSanitizer, UndefinedBehaviorSanitizer and LeakSanitizer over the unit
#            and tool tests and the fuzzers' seed inputs (clang). The same folder builds the
#            fuzzers (scripts/fuzz.sh), so CI compiles JUCE with these flags only once.
# KIND may be followed by --build-only [target...]: configure and build (those targets), run nothing.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
kind="${1:-thread}"
shift || true
buildOnly=0 filter="" targets=()
if [ "${1:-}" = "--build-only" ]; then buildOnly=1; shift; targets=("$@"); else filter="${1:-}"; fi

configure=()
case "$kind" in
  thread)
    flags="-fsanitize=thread -fno-omit-frame-pointer"; linkFlags="-fsanitize=thread"
    build="$root/build-tsan"; labels="unit"
    configure=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELMORA_BUILD_TOOLS=OFF) ;;
  address)
    # -O1 and line tables only: the build of JUCE dominates this stage, and line numbers are
    # all a report needs. fuzzer-no-link adds the coverage hooks the fuzzers feed on; the
    # fuzzer executables alone link libFuzzer.
    san="-fsanitize=address,undefined -fno-sanitize-recover=undefined"
    flags="$san -fno-omit-frame-pointer -fsanitize=fuzzer-no-link"
    linkFlags="$san"
    build="$root/build-asan"; labels="unit|tools|fuzz"
    export CC=clang CXX=clang++
    configure=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELMORA_BUILD_FUZZERS=ON "-DCMAKE_C_FLAGS=$flags"
               "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O1 -gline-tables-only -DNDEBUG"
               "-DCMAKE_C_FLAGS_RELWITHDEBINFO=-O1 -gline-tables-only -DNDEBUG") ;;
  *) echo "sanitize: unknown kind '$kind' (expected: thread, address)" >&2; exit 2 ;;
esac

launcher=()
if command -v ccache >/dev/null 2>&1; then launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache); fi

if [ ! -f "$build/build.ninja" ]; then
  cmake -S "$root" -B "$build" -G Ninja "${launcher[@]}" \
        -DVELMORA_BUILD_PLUGIN=OFF -DVELMORA_BUILD_BENCH=OFF "${configure[@]}" \
        -DCMAKE_CXX_FLAGS="$flags" \
        -DCMAKE_EXE_LINKER_FLAGS="$linkFlags" -DCMAKE_SHARED_LINKER_FLAGS="$linkFlags"
fi

# Any report fails the run. JUCE's own internals need no suppressions so far.
export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1"
export ASAN_OPTIONS="halt_on_error=1 detect_leaks=1 abort_on_error=1 strict_string_checks=1 detect_stack_use_after_return=1 check_initialization_order=1 strict_init_order=1"
export UBSAN_OPTIONS="halt_on_error=1 print_stacktrace=1"

# The build runs test binaries too (test discovery), so the options above apply there.
cmake --build "$build" ${targets[@]+--target "${targets[@]}"} -- -j"$(nproc)"
[ "$buildOnly" = 1 ] && exit 0

export HOME="$(mktemp -d)"
export XDG_CONFIG_HOME="$HOME/.config" HALVEX_FOLDERS_ROOT="$HOME/folders"
trap 'rm -rf "$HOME"' EXIT

cd "$build"
args=(--output-on-failure -L "$labels" -j2)
[ -n "$filter" ] && args+=(-R "$filter")
ctest "${args[@]}"
