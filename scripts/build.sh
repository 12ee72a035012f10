#!/usr/bin/env bash
# Configures (once) and builds Velmaris into build/ with Ninja and ccache.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build="${VELMARIS_BUILD_DIR:-$root/build}"
if [[ ! -f "$build/build.ninja" ]]; then
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELMARIS_WERROR=ON
fi
cmake --build "$build" --parallel "$(nproc)"
