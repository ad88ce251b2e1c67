#!/bin/bash
# Configures and builds both editions: build/x86_64 (runs here, with tests)
# and build/i686 (compiled and linked only).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
jobs=${FAULTPOST_JOBS:-$(nproc)}
for target in x86_64 i686; do
  dir="$root/build/$target"
  if [ ! -f "$dir/build.ninja" ]; then
    cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-$target.cmake" >/dev/null
  fi
  # Progress lines are dropped; errors and the exit status stay.
  ninja -C "$dir" -j "$jobs" | { grep -vE '^\[[0-9]+/[0-9]+\]|^ninja: (Entering|no work)' || true; }
done
