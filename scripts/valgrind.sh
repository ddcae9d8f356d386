#!/bin/sh
# valgrind memcheck: runs the server's program tests (tests/server) with
# every Morvane they start under memcheck, and fails when memcheck finds an
# error in any of them. Leak checking is off: objects that live for the
# whole process are never freed on purpose, and the tests end most servers
# with SIGKILL. Builds what it needs in the directory given (default: build).
#
#   scripts/valgrind.sh [BUILD_DIR]
set -eu
cd "$(dirname "$0")/.."
BUILD_DIR="${1:-build}"
cmake -S . -B "$BUILD_DIR"
TESTS="startup_test protocol_test demo_session_test"
# shellcheck disable=SC2086
cmake --build "$BUILD_DIR" -j2 --target $TESTS Morvane demo quillog

LOGS="$(cd "$BUILD_DIR" && pwd)/valgrind-logs"
case "$LOGS" in *" "*) echo "the build directory's path must hold no blank" >&2; exit 2 ;; esac
rm -rf "$LOGS"
mkdir -p "$LOGS"
# The XML output holds one <error> element per error found, written as it
# is found, so that a server ended by SIGKILL still leaves its errors.
export MORVANE_TEST_SERVER_WRAPPER="valgrind --tool=memcheck --error-exitcode=99 --leak-check=no \
--show-leak-kinds=none --errors-for-leak-kinds=none \
--xml=yes --xml-file=$LOGS/memcheck.%p.xml --log-file=$LOGS/memcheck.%p.log"
status=0
for t in $TESTS; do
    echo "== $t"
    "$BUILD_DIR/tests/$t" --gtest_brief=1 || status=1
done
runs=$(ls "$LOGS"/*.xml 2>/dev/null | wc -l)
if grep -l "<error>" "$LOGS"/*.xml 2>/dev/null; then
    echo "memcheck found errors; see the files above and $LOGS" >&2
    status=1
fi
echo "memcheck: $runs runs of Morvane checked"
[ "$runs" -gt 0 ] || status=1
exit "$status"
