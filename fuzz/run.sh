#!/bin/sh
# fuzz/run.sh SECONDS [TARGET...]
#
# Builds the libFuzzer targets with clang-14 in build-fuzz (or $BUILD_DIR)
# and fuzzes each target, or only those named, for SECONDS seconds, one
# after the other and in a single process each, so that the run leaves the
# other core free. New inputs go to <build>/fuzz/found/<target>; the seed
# corpus in fuzz/corpus/<target> is only read. An input that crashes, leaks
# or hangs is saved in <build>/fuzz/artifacts/<target>/ and the script goes
# on with the next target; the exit status is 1 when any target failed.
# Each target's log is <build>/fuzz/logs/<target>.log.
set -eu
cd "$(dirname "$0")/.."

if [ $# -lt 1 ]; then
    echo "usage: fuzz/run.sh SECONDS [TARGET...]" >&2
    exit 2
fi
SECONDS_EACH="$1"
shift
BUILD_DIR="${BUILD_DIR:-build-fuzz}"
TARGETS="${*:-fuzz_schema fuzz_data_reader fuzz_written_record fuzz_json_line fuzz_ini fuzz_edit_loader fuzz_server}"

CC=clang-14 CXX=clang++-14 cmake -S . -B "$BUILD_DIR" -DMORVANE_BUILD_FUZZ=ON \
    -DMORVANE_BUILD_TESTS=OFF -DMORVANE_BUILD_BENCH=OFF -DMORVANE_BUILD_BUILDER=OFF >/dev/null
cmake --build "$BUILD_DIR" -j2 --target fuzz_targets

OUT="$BUILD_DIR/fuzz"
# The targets write each input to a scratch file: in memory that costs a
# fifth of what it costs on disk.
if [ -z "${TMPDIR:-}" ] && [ -d /dev/shm ] && [ -w /dev/shm ]; then
    export TMPDIR=/dev/shm
fi
status=0
for t in $TARGETS; do
    if [ ! -x "$OUT/$t" ]; then
        echo "$t: not built, skipped"
        continue
    fi
    dict=fuzz/schema.dict
    [ "$t" = fuzz_ini ] && dict=fuzz/ini.dict
    [ "$t" = fuzz_json_line ] && dict=fuzz/json.dict
    mkdir -p "$OUT/found/$t" "$OUT/artifacts/$t" "$OUT/logs"
    log="$OUT/logs/$t.log"
    echo "$t: fuzzing for $SECONDS_EACH s, log in $log"
    if "$OUT/$t" -max_total_time="$SECONDS_EACH" -timeout=25 -print_final_stats=1 \
        -dict="$dict" -artifact_prefix="$OUT/artifacts/$t/" \
        "$OUT/found/$t" "fuzz/corpus/$t" >"$log" 2>&1; then
        result=clean
    else
        result="FAILED (see $OUT/artifacts/$t/)"
        status=1
    fi
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    speed=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
    echo "$t: ${runs:-?} executions, ${speed:-?} exec/s, $result"
done
exit $status
