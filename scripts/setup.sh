#!/bin/sh
# Installs the Debian packages the build needs when any is missing, then
# configures and builds the project in the directory given (default: build).
# Extra arguments are passed to the CMake configure step.
set -eu
cd "$(dirname "$0")/.."

PACKAGES="cmake g++ make pkg-config libpugixml-dev qt6-base-dev fonts-dejavu-core \
libgtest-dev libgmock-dev libbenchmark-dev clang-14 libclang-rt-14-dev"

missing=""
for p in $PACKAGES; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
if [ -n "$missing" ]; then
    echo "Installing:$missing"
    if [ "$(id -u)" -eq 0 ]; then SUDO=""; else SUDO="sudo"; fi
    $SUDO apt-get update -q
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q --no-install-recommends $missing
fi

BUILD_DIR="${1:-build}"
[ $# -gt 0 ] && shift
cmake -S . -B "$BUILD_DIR" "$@"
cmake --build "$BUILD_DIR" -j"$(nproc)"
