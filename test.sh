#!/usr/bin/env bash
# Builds and runs the whole test suite, then again under AddressSanitizer and
# UndefinedBehaviorSanitizer, then runs each fuzzer briefly: ./test.sh
# When Wine and the mingw-w64 cross compiler are installed (scripts/install-deps
# --windows), the Windows build is made first and the suite runs it under Wine.
# Exit status is the suite's.
set -uo pipefail
cd "$(dirname "$0")"

./scripts/install-deps || exit 1

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
windows=()
if command -v wine >/dev/null && command -v x86_64-w64-mingw32-g++-posix >/dev/null; then
  echo "== build-windows: cross-building the Windows release"
  if ./scripts/build-windows; then
    windows=(-DTESSARAN_WINDOWS_BUILD="$PWD/build-windows")
  else
    echo "== build-windows: FAILED" >&2
    status=1
  fi
else
  echo "== wine: SKIPPED: Wine or the mingw-w64 cross compiler is not installed, so the Windows build is neither made nor tested (scripts/install-deps --windows)" >&2
fi
# Without the Windows build an older configuration must not keep its Wine tests.
[[ ${#windows[@]} -gt 0 ]] || windows=(-DTESSARAN_WINDOWS_BUILD=)

suite build-test -DCMAKE_BUILD_TYPE=Release "${windows[@]}" || status=1
suite build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTESSARAN_SANITIZE=ON || status=1

# Every fuzzer over its seeds (crash inputs kept there included), then about
# 20 s of fuzzing each, so the harnesses keep building and old findings stay fixed.
if command -v clang >/dev/null && command -v clang++ >/dev/null; then
  JOBS=$jobs ./scripts/fuzz all 20 || status=1
else
  echo "== fuzz: SKIPPED: clang is not installed, so the fuzzers cannot be built (apt-get install clang)" >&2
fi
exit $status
