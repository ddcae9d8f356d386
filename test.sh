#!/bin/sh
# Builds everything and runs every test through CTest.
set -eu
cd "$(dirname "$0")"
BUILD_DIR="${1:-build}"
[ $# -gt 0 ] && shift
MORVANE_TARGETS= ./scripts/setup.sh "$BUILD_DIR" "$@"
export QT_QPA_PLATFORM=offscreen
ctest --test-dir "$BUILD_DIR" --output-on-failure -j2
