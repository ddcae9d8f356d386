#!/bin/sh
# ThreadSanitizer: builds the channel, the server and their tests with
# -fsanitize=thread (in build-tsan, or the directory given) and runs the
# channel tests, the generator tests (schemas loaded and generated on
# several threads) and the server's program tests (among them eight clients
# writing at once into a Morvane with MaxClients=8); every Morvane those
# tests start is built the same way. Each report, of a test or of a Morvane, is
# written to BUILD_DIR/tsan-reports and fails the run.
#
#   scripts/tsan.sh [BUILD_DIR]
set -eu
cd "$(dirname "$0")/.."
BUILD_DIR="${1:-build-tsan}"
cmake -S . -B "$BUILD_DIR" -DMORVANE_SANITIZE=thread -DMORVANE_BUILD_BUILDER=OFF \
    -DMORVANE_BUILD_BENCH=OFF
TESTS="channel_test generate_test demo_test protocol_test startup_test demo_session_test"
# shellcheck disable=SC2086
cmake --build "$BUILD_DIR" -j2 --target $TESTS Morvane demo quillog printdata

REPORTS="$(cd "$BUILD_DIR" && pwd)/tsan-reports"
rm -rf "$REPORTS"
mkdir -p "$REPORTS"
export TSAN_OPTIONS="log_path=$REPORTS/report halt_on_error=0 second_deadlock_stack=1"
status=0
for t in $TESTS; do
    echo "== $t"
    "$BUILD_DIR/tests/$t" --gtest_brief=1 || status=1
done
if [ -n "$(ls "$REPORTS")" ]; then
    cat "$REPORTS"/*
    echo "ThreadSanitizer reports: $REPORTS" >&2
    status=1
fi
[ "$status" -eq 0 ] && echo "ThreadSanitizer: no report"
exit "$status"
