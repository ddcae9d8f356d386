#!/bin/sh
# Builds what serving needs (Morvane, the logger library, the sample
# print-data plug-in and the example archive, no tests, no benchmarks, no
# editor) and starts Morvane on the shipped example schemas in build/bin.
# Extra arguments are passed to Morvane (for instance: ./run.sh test).
set -eu
cd "$(dirname "$0")"
MORVANE_TARGETS="Morvane quillog printdata example_archive" ./scripts/setup.sh build
exec ./build/bin/Morvane "$@"
