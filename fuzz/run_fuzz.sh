#!/usr/bin/env bash
# Runs each fuzz target under libFuzzer for SECONDS (default 60), starting from
# its corpus in fuzz/corpus/NAME. Inputs that reach new code are merged into
# that corpus; an input that breaks a promise (crash, leak, wrong answer) is
# kept as fuzz/regressions/NAME/crash-<sha1>, which the replay test then runs
# on every `./run test`.
#
#   fuzz/run_fuzz.sh [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz

# Each input writes and removes a few small files: keep them in memory.
if [ -z "${TMPDIR:-}" ] && [ -d /dev/shm ] && [ -w /dev/shm ]; then
    export TMPDIR=/dev/shm
fi

summary=()
for name in tolvane pellimor; do
    target=build/fuzz/fuzz/fuzz_$name
    corpus=fuzz/corpus/$name
    kept=fuzz/regressions/$name
    finds=$(mktemp -d)
    log=$(mktemp)
    mkdir -p "$corpus" "$kept"
    echo "== fuzzing $name for $seconds s"
    start=$SECONDS
    runs=0
    crashes=0
    # After a crash libFuzzer stops; go on for the time that is left, but give
    # up after a few crashes (the same fault tends to come straight back).
    while :; do
        left=$((seconds - (SECONDS - start)))
        [ "$left" -gt 0 ] || break
        status=0
        "$target" -max_total_time="$left" -max_len=8192 -timeout=20 -rss_limit_mb=4096 \
            -artifact_prefix="$kept/" -print_final_stats=1 "$finds" "$corpus" >"$log" 2>&1 ||
            status=$?
        n=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
        runs=$((runs + ${n:-0}))
        [ "$status" -eq 0 ] && break
        crashes=$((crashes + 1))
        echo "   broken promise found (exit $status); kept in $kept:"
        grep -E 'broken promise|ERROR: |SUMMARY' "$log" | head -5 | sed 's/^/     /'
        [ "$crashes" -lt 3 ] || break
    done
    elapsed=$((SECONDS - start))
    # Keep the corpus small: the seeds, then the fewest other inputs (earlier
    # finds and this run's) that reach what the seeds do not.
    before=$(ls "$corpus" | wc -l)
    merged=$(mktemp -d)
    others=$(mktemp -d)
    cp "$corpus"/seed-* "$merged"/
    find "$corpus" -maxdepth 1 -type f ! -name 'seed-*' -exec cp {} "$others"/ \;
    if "$target" -merge=1 -use_counters=0 "$merged" "$others" "$finds" >"$log" 2>&1; then
        find "$corpus" -maxdepth 1 -type f ! -name 'seed-*' -delete
        find "$merged" -maxdepth 1 -type f ! -name 'seed-*' -exec cp {} "$corpus"/ \;
    else
        echo "   merge failed; corpus left as it was"
    fi
    after=$(ls "$corpus" | wc -l)
    rm -rf "$finds" "$log" "$merged" "$others"
    line="$name: $runs executions in $elapsed s, $crashes broken promises, corpus $before -> $after inputs"
    echo "   $line"
    summary+=("$line")
done
echo "== fuzz summary"
printf '   %s\n' "${summary[@]}"
