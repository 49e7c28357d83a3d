#!/usr/bin/env bash
# Builds the project and runs the viewer.
#
#   ./run.sh [FOLDER]
#
# The viewer reads Sun.jpg, Earth.jpg and Moon.jpg from the folder it runs in:
# FOLDER when given; otherwise the folder you start this script from, if it
# holds any of the three; otherwise build/textures, which the build fills with
# the default textures. Without a display (no DISPLAY), the viewer runs for a
# few seconds on a virtual X server and a snapshot picture is written instead.
set -euo pipefail
caller_dir=$PWD
cd "$(dirname "$0")"
root=$PWD

./tools/install-deps.sh
[ -f build/build.ninja ] || cmake -S . -B build -G Ninja >/dev/null
cmake --build build -j "$(nproc)"
viewer=$root/build/viewer/solsys
snapshot=$root/build/tools/solsys-snapshot
if [ ! -x "$viewer" ]; then
  echo "The viewer is not built yet."
  exit 1
fi

has_textures() { [ -f "$1/Sun.jpg" ] || [ -f "$1/Earth.jpg" ] || [ -f "$1/Moon.jpg" ]; }
if [ $# -ge 1 ]; then
  textures=$(cd "$1" && pwd)
elif [ "$caller_dir" != "$root" ] && has_textures "$caller_dir"; then
  textures=$caller_dir
else
  textures=$root/build/textures
fi
echo "Textures from: $textures"

if [ -n "${DISPLAY:-}" ]; then
  echo "Escape ends the viewer."
  cd "$textures"
  exec "$viewer"
fi

seconds=5
echo "No display (DISPLAY is not set): running the viewer for $seconds seconds on a virtual X server (Xvfb)."
display_file=$(mktemp)
xvfb_log=$(mktemp)
snapshot_log=$(mktemp)
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$display_file" 2>"$xvfb_log" &
xvfb_pid=$!
trap 'kill "$xvfb_pid" 2>/dev/null || true; rm -f "$display_file" "$xvfb_log" "$snapshot_log"' EXIT
for _ in $(seq 100); do
  [ -s "$display_file" ] && break
  sleep 0.1
done
if [ ! -s "$display_file" ]; then
  echo "Xvfb did not start. Its messages:" >&2
  sed 's/^/  /' "$xvfb_log" >&2
  exit 1
fi
status=0
(cd "$textures" && DISPLAY=":$(head -n 1 "$display_file")" timeout "$seconds" "$viewer") || status=$?
if [ "$status" -ne 124 ]; then  # 124: still running when the time was up, as it should be
  echo "The viewer ended early with status $status."
  exit 1
fi
echo "The viewer ran for $seconds seconds."

picture=$root/build/snapshot.jpg
# Its standard error is shown only when it fails (Mesa may warn about missing devices).
if ! (cd "$textures" && "$snapshot" 121 "$picture" 2>"$snapshot_log"); then
  echo "The snapshot could not be written to $picture. solsys-snapshot said:" >&2
  if [ -s "$snapshot_log" ]; then sed 's/^/  /' "$snapshot_log" >&2; else echo "  nothing" >&2; fi
  exit 1
fi
echo "Snapshot (frame 121, 12 simulated hours): $picture"
