#!/bin/sh
# Builds Morvane and starts it on the shipped example schemas in build/bin.
# Extra arguments are passed to Morvane (for instance: ./run.sh test).
set -eu
cd "$(dirname "$0")"
./scripts/setup.sh build
exec ./build/bin/Morvane "$@"
