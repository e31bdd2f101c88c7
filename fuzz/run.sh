#!/bin/sh
# Runs harnesses and reports each one's runs, coverage and result:
#   fuzz/run.sh BUILD_DIR SECONDS MODE NAME...
# MODE "campaign" keeps the corpus each harness grows in BUILD_DIR/fuzz/corpus/NAME (the seeds
# in fuzz/corpus/NAME are read, never written); MODE "smoke" starts from the seeds alone.
# A crash, leak, time-out (over 2 s for one input) or out-of-memory (over 512 MB) fails the
# harness; its input is kept in BUILD_DIR/fuzz/findings/NAME/. Exit status 1 when any failed.
# FUZZ_RUNS in the environment also ends each harness after that many runs. FUZZ_TIMEOUT
# (seconds, 2 by default) is the limit for one input: a long campaign at the lowest priority
# on a busy machine can be kept off the processor for longer than that, so it raises the limit
# and reads the slowest input from the summary instead.
set -u
build=$(cd "$1" && pwd) seconds=$2 mode=$3
shift 3
src=$(cd "$(dirname "$0")" && pwd)
failed=0
printf '%-16s %12s %8s %8s  %s\n' harness runs cov features result
for name in "$@"; do
    bin=$build/fuzz/${name}_fuzzer
    work=$build/fuzz/$mode/$name
    findings=$build/fuzz/findings/$name
    log=$build/fuzz/logs/$name.$mode.log
    [ "$mode" = smoke ] && rm -rf "$work"
    mkdir -p "$work" "$findings" "$(dirname "$log")"
    if [ ! -x "$bin" ]; then
        printf '%-16s %12s %8s %8s  %s\n' "$name" - - - "MISSING ($bin)"
        failed=1
        continue
    fi
    # The dictionary of the harness, or of its family (zip_test: zip.dict).
    dict=""
    for d in "$src/$name.dict" "$src/${name%%_*}.dict"; do
        if [ -f "$d" ]; then dict="-dict=$d"; break; fi
    done
    # A small quarantine: the session harnesses free and allocate a lot per input, and fresh
    # pages for every allocation would make them ten times slower. Options from the
    # environment (the test run's) come last and win.
    # shellcheck disable=SC2086
    ASAN_OPTIONS="detect_leaks=1:quarantine_size_mb=16${ASAN_OPTIONS:+:$ASAN_OPTIONS}" \
    UBSAN_OPTIONS="print_stacktrace=1${UBSAN_OPTIONS:+:$UBSAN_OPTIONS}" \
        "$bin" -max_total_time="$seconds" -timeout="${FUZZ_TIMEOUT:-2}" -rss_limit_mb=512 \
        -print_final_stats=1 \
        ${FUZZ_RUNS:+-runs=$FUZZ_RUNS} -artifact_prefix="$findings/" $dict "$work" "$src/corpus/$name" >"$log" 2>&1
    rc=$?
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
    stats=$(grep -E '^#[0-9]+.*cov: ' "$log" | tail -n 1)
    cov=$(printf '%s\n' "$stats" | sed -n 's/.* cov: \([0-9]*\).*/\1/p')
    ft=$(printf '%s\n' "$stats" | sed -n 's/.* ft: \([0-9]*\).*/\1/p')
    if [ $rc -eq 0 ]; then
        result=ok
    else
        failed=1
        kind=$(grep -m1 -oE 'ERROR: (libFuzzer|AddressSanitizer|LeakSanitizer|UndefinedBehaviorSanitizer): [a-z-]+|runtime error: .*' "$log" | head -n 1)
        unit=$(sed -n 's/.*Test unit written to \(.*\)$/\1/p' "$log" | tail -n 1)
        result="FAILED (${kind:-exit $rc}) input: ${unit:-none}"
    fi
    slowest=$(sed -n 's/^stat::slowest_unit_time_sec: *//p' "$log" | tail -n 1)
    [ -n "$slowest" ] && result="$result (slowest input ${slowest} s)"
    printf '%-16s %12s %8s %8s  %s\n' "$name" "${runs:-?}" "${cov:-?}" "${ft:-?}" "$result"
    if [ $rc -ne 0 ]; then
        echo "---- last lines of $log"
        tail -n 40 "$log"
        echo "----"
    fi
done
exit $failed
