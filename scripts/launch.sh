#!/usr/bin/env bash
# Sets everything up, builds Vellorin and starts it.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
bash scripts/setup.sh
cmake --preset release >/dev/null
cmake --build --preset release -j "$(nproc)"
if [ -z "${DISPLAY-}${WAYLAND_DISPLAY-}" ]; then
  echo "Vellorin is built (build/release/bin/vellorin) but there is no display to show it on:" >&2
  echo "start it from a desktop session, or over SSH with 'ssh -X'." >&2
  exit 1
fi
exec ./build/release/bin/vellorin "$@"
