#!/bin/sh
# Installs the Debian packages the build needs when any is missing, then
# configures and builds the project in the directory given (default: build).
# Extra arguments are passed to the CMake configure step.
set -eu
cd "$(dirname "$0")/.."

PACKAGES="cmake gcc g++ make pkg-config libpugixml-dev qt6-base-dev fonts-dejavu-core \
rapidjson-dev python3 libgtest-dev libgmock-dev libbenchmark-dev clang-14 libclang-rt-14-dev \
libnats-dev nats-server bash-completion dpkg-dev lintian systemd adduser"

./scripts/install-packages.sh $PACKAGES

BUILD_DIR="${1:-build}"
[ $# -gt 0 ] && shift
cmake -S . -B "$BUILD_DIR" "$@"
cmake --build "$BUILD_DIR" -j"$(nproc)"
