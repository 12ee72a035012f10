#!/usr/bin/env bash
# Installs what is missing, builds and runs the whole test suite through CTest.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
"$root/scripts/install-deps.sh"
"$root/scripts/build.sh"
build="${VELMARIS_BUILD_DIR:-$root/build}"
# Widgets run without a display; DCMTK finds its dictionary in the usual place.
export QT_QPA_PLATFORM=offscreen
export DCMDICTPATH=/usr/share/libdcmtk17/dicom.dic
runtime=$(mktemp -d)
chmod 700 "$runtime"
export XDG_RUNTIME_DIR="$runtime"
trap 'rm -rf "$runtime"' EXIT
ctest --test-dir "$build" --output-on-failure --timeout 900 -j "$(nproc)" "$@"
