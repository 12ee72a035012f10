#!/usr/bin/env bash
# Runs the libFuzzer harnesses of the asan build, two at a time, each for
# SECONDS (default 600), in /tmp/velmaris-fuzz/<fuzzer>/ (new inputs in
# corpus/, crashes as crash-*, leak-*, timeout-*, oom-*, the log in log.txt),
# then prints each one's executions, coverage and findings.
# Usage: fuzz/run-fuzzers.sh [SECONDS] [FUZZER...]; seeds come from
# fuzz/make-corpus.sh (run first, into /tmp/velmaris-fuzz/corpus).
set -uo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build="${VELMARIS_BUILD_DIR:-$root/build-asan}"
base=/tmp/velmaris-fuzz
seconds="${1:-600}"
shift || true
fuzzers=("$@")
if [[ ${#fuzzers[@]} -eq 0 ]]; then
    for f in "$build"/fuzz/fuzz_*; do [[ -f "$f" && -x "$f" ]] && fuzzers+=("$(basename "$f")"); done
fi

seeds_of() {
    case "$1" in
        fuzz_read_summary|fuzz_decoded_frame|fuzz_render_frame) echo dicom ;;
        fuzz_jpeg2000) echo jpeg2000 ;;
        fuzz_archive_extraction) echo archive ;;
        fuzz_bridge_request) echo bridge ;;
        *) echo "$1" ;;
    esac
}

# Leaks are not checked: Qt and DCMTK keep process-lifetime allocations
# (the data dictionary, codec lists, the decoders' one-entry caches) that
# LeakSanitizer would blame on whichever input came first.
# A declared length makes DCMTK (deflated data, whole-file loads) and liblzma
# (a ZIP entry's dictionary size) ask for up to 4 GiB at once before the read
# fails. Under AddressSanitizer such a request takes seconds (its shadow is
# mapped) and libFuzzer reports it as out-of-memory and stops; allocations
# above 1 GiB fail here instead, as on a machine without the room, and the
# readers must cope with that as well.
export ASAN_OPTIONS="detect_leaks=0:allocator_may_return_null=1:max_allocation_size_mb=1024:handle_abort=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export DCMDICTPATH="${DCMDICTPATH:-/usr/share/libdcmtk17/dicom.dic}"
export QT_QPA_PLATFORM=offscreen

run_one() {
    local name=$1 dir="$base/$1"
    mkdir -p "$dir/corpus"
    "$build/fuzz/$name" "$dir/corpus" "$base/corpus/$(seeds_of "$name")" \
        -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=10 -print_final_stats=1 \
        -artifact_prefix="$dir/" >"$dir/log.txt" 2>&1
    echo "$name exited with $?" >>"$dir/log.txt"
}

running=0
for name in "${fuzzers[@]}"; do
    run_one "$name" &
    if (( ++running == 2 )); then
        wait -n
        running=1
    fi
done
wait

for name in "${fuzzers[@]}"; do
    log="$base/$name/log.txt"
    last=$(grep -E '^#[0-9]+' "$log" | tail -1)
    runs=$(grep -oE 'Done [0-9]+ runs in [0-9]+ second' "$log" | tail -1)
    findings=$(find "$base/$name" -maxdepth 1 -type f \( -name 'crash-*' -o -name 'leak-*' \
        -o -name 'timeout-*' -o -name 'oom-*' -o -name 'slow-unit-*' \) | wc -l)
    echo "$name: ${runs:-no final line} | ${last} | findings: $findings"
done
