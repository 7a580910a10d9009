#!/usr/bin/env bash
# Runs every leg of the suite, the same way every time: ./test.sh
#   1. the Windows cross build (scripts/build-windows),
#   2. the whole suite in Release, the Windows build's tests under Wine included,
#   3. the suite again under AddressSanitizer and UndefinedBehaviorSanitizer,
#   4. every fuzzer over its seeds and then a fixed number of runs from a fixed
#      seed, so the same commit gives the same result (scripts/fuzz explores).
# It installs what every leg needs first. No leg skips itself: one that cannot
# run fails the suite and says why. Exit status is 0 only when every leg passed.
set -uo pipefail
cd "$(dirname "$0")"

./scripts/install-deps --windows || exit 1

jobs=$(nproc)
xvfb_pid=""
display_file=$(mktemp)
cleanup() {
  [[ -n "$xvfb_pid" ]] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
  rm -f "$display_file"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# A private X server on a free display number: Xvfb picks it and reports it.
Xvfb -displayfd 3 -screen 0 1920x1080x24 -nolisten tcp -noreset 3>"$display_file" >/dev/null 2>&1 &
xvfb_pid=$!
for _ in $(seq 100); do
  [[ -s "$display_file" ]] && break
  sleep 0.1
done
if [[ ! -s "$display_file" ]]; then
  echo "test.sh: Xvfb did not start" >&2
  exit 1
fi
export DISPLAY=":$(head -n1 "$display_file")"
export MESA_GL_VERSION_OVERRIDE=4.6 MESA_GLSL_VERSION_OVERRIDE=460
export LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"

suite() {  # suite BUILD_DIR CMAKE_ARGS...
  local dir=$1
  shift
  echo "== $dir: building"
  cmake -S . -B "$dir" "$@" >/dev/null || return 1
  cmake --build "$dir" -j"$jobs" >/dev/null || cmake --build "$dir" -j1 || return 1
  echo "== $dir: testing"
  (cd "$dir" && ctest --output-on-failure -j"$jobs" --timeout 300)
}

status=0
failed=()
timings=()
# leg NAME COMMAND...: runs one leg, records its time and whether it passed.
leg() {
  local name=$1 start=$SECONDS
  shift
  if "$@"; then
    timings+=("$name: $((SECONDS - start)) s")
  else
    timings+=("$name: $((SECONDS - start)) s, FAILED")
    failed+=("$name")
    status=1
  fi
}

windows=(-DTESSARAN_WINDOWS_BUILD=)
windows_leg() {
  local tool
  for tool in wine x86_64-w64-mingw32-g++-posix; do
    if ! command -v "$tool" >/dev/null; then
      echo "== build-windows: FAILED: $tool is not on PATH after scripts/install-deps --windows" >&2
      return 1
    fi
  done
  echo "== build-windows: cross-building the Windows release"
  ./scripts/build-windows || return 1
  windows=(-DTESSARAN_WINDOWS_BUILD="$PWD/build-windows")
}
leg build-windows windows_leg
# Without a Windows build the Release suite still runs, and says the Wine
# tests are missing by failing above.
leg build-test suite build-test -DCMAKE_BUILD_TYPE=Release "${windows[@]}"
leg build-asan suite build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTESSARAN_SANITIZE=ON
leg fuzz env JOBS="$jobs" ./scripts/fuzz --fixed all

echo "== legs:"
printf '   %s\n' "${timings[@]}"
if ((status != 0)); then
  echo "== FAILED: ${failed[*]}" >&2
fi
exit $status
