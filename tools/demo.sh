#!/bin/bash
# The main job: prepares the machine, builds, and runs the crash demo under
# wine64 in a fresh Wine prefix.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/tools/bootstrap.sh" >/dev/null
"$root/tools/build.sh"
exec "$root/tools/with-wine-session.sh" python3 "$root/tools/demo.py"
