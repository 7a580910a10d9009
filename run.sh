#!/usr/bin/env bash
# Builds the demo and its content, then runs it: ./run.sh
set -euo pipefail
cd "$(dirname "$0")"

if [[ -z "${DISPLAY:-}" ]]; then
  echo "run.sh: no display to show the demo on (DISPLAY is not set)" >&2
  exit 1
fi

./scripts/install-deps
if ! xdpyinfo >/dev/null 2>&1; then
  echo "run.sh: cannot open display $DISPLAY" >&2
  exit 1
fi

cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DTESSARAN_TESTS=OFF >/dev/null
cmake --build build -j"$(nproc)" --target tessaran zyr_dat >/dev/null

# Mesa's software renderer offers OpenGL 4.5 and is asked for 4.6; drivers that
# offer 4.6 ignore these.
export MESA_GL_VERSION_OVERRIDE=4.6 MESA_GLSL_VERSION_OVERRIDE=460
cd build
exec ./app/tessaran
