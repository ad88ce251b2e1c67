#!/bin/bash
# The test command: prepares the machine, builds both editions and runs
# every test of the x86_64 edition under wine64 in a fresh Wine prefix.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/tools/bootstrap.sh" >/dev/null
"$root/tools/build.sh"
"$root/tools/with-wine-session.sh" \
  ctest --test-dir "$root/build/x86_64" --output-on-failure -j "${FAULTPOST_TEST_JOBS:-2}" "$@"
