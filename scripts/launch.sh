#!/usr/bin/env bash
# Sets everything up, builds Vellorin and starts it.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
bash scripts/setup.sh
cmake --preset release >/dev/null
cmake --build --preset release -j "$(nproc)"
exec ./build/release/bin/vellorin "$@"
