#!/bin/sh
# Installs the optional peers of the benchmarks when missing: flatc and
# protoc, the schema compilers of FlatBuffers and Protocol Buffers, which
# bench_morvanec runs beside morvanec on equivalent data. Not needed to
# build or test; a benchmark skips a peer that is absent.
set -eu
PACKAGES="flatbuffers-compiler protobuf-compiler"
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
