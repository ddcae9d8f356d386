#!/bin/sh
# Builds the Debian packages (morvane, morvane-builder and those of any other
# install component) into the directory given (default: packages), from a
# Release build of their own in build-deb with Debian's hardening flags.
set -eu
cd "$(dirname "$0")/.."
OUT="${1:-packages}"
./scripts/install-packages.sh dpkg-dev
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
eval "$(dpkg-buildflags --export=sh)"
MORVANE_TARGETS= ./scripts/setup.sh build-deb -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_INSTALL_PREFIX=/usr -DMORVANE_BUILD_TESTS=OFF -DMORVANE_BUILD_BENCH=OFF
mkdir -p "$OUT"
OUT="$(cd "$OUT" && pwd)"
(cd build-deb && cpack -G DEB -B "$OUT")
ls "$OUT"/*.deb
