#!/usr/bin/env bash
# Runs every benchmark (built with the project into build/bench) and prints
# their reports, then one table: figure, its same-run reference, the ratio of
# the medians and the goal. Figures are medians (min-max) of at least 5 runs.
# Speed depends on what else runs on the machine: check `uptime` first.
#
#   bench/run_all.sh [build folder = build]
set -uo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build="${1:-$root/build}"
bench="$build/bench"
log=$(mktemp)
trap 'rm -f "$log"' EXIT
export QT_QPA_PLATFORM=offscreen
export DCMDICTPATH="${DCMDICTPATH:-/usr/share/libdcmtk17/dicom.dic}"
if [[ -z "${XDG_RUNTIME_DIR:-}" ]]; then
    XDG_RUNTIME_DIR=$(mktemp -d)
    export XDG_RUNTIME_DIR
fi

echo "load before: $(uptime)"
status=0
for run in "bench_summary 2000 512" "bench_decode 20 512 200" "bench_viewport_paging 500 512 200" \
           "bench_list_studies 10000" "bench_index_insert 20000" "bench_startup" \
           "bench_folder_import" "bench_study_browser" "bench_viewer_open"; do
    set -- $run
    if [[ ! -x "$bench/$1" ]]; then
        echo "== $1: not built" | tee -a "$log"
        status=1
        continue
    fi
    echo "== $run"
    "$bench/$1" "${@:2}" 2>&1 | tee -a "$log" | grep -v '^TABLE|'
    [[ ${PIPESTATUS[0]} -eq 0 ]] || { echo "== $1 failed"; status=1; }
done
echo "load after: $(uptime)"

echo
{
    echo "figure|median (min-max)|reference|reference median (min-max)|ratio|goal|"
    grep '^TABLE|' "$log" | cut -d'|' -f2-
} | column -t -s'|'
exit $status
