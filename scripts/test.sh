#!/usr/bin/env bash
# Sets everything up and runs every test: the normal build, then the address + undefined
# behaviour sanitizer build, then the thread sanitizer build. Headless (offscreen platform).
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
bash scripts/setup.sh

echo "=== format"
# A file that differs from what the checked-in .clang-format writes fails the run.
find src tests bench \( -name '*.cpp' -o -name '*.h' \) -print0 | xargs -0 clang-format --dry-run --Werror

jobs="$(nproc)"
status=0
for preset in ${VELLORIN_PRESETS:-dev asan tsan}; do
  echo "=== $preset: configure and build"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  echo "=== $preset: tests"
  if ! ctest --preset "$preset"; then
    status=1
  fi
done
exit "$status"
