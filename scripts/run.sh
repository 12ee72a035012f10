#!/usr/bin/env bash
# Installs what is missing, builds and starts the workstation.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
"$root/scripts/install-deps.sh"
"$root/scripts/build.sh"
build="${VELMARIS_BUILD_DIR:-$root/build}"
exec "$build/src/Norvane" "$@"
