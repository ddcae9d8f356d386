#!/bin/sh
# Installs the optional peers of the benchmarks when missing: flatc and
# protoc, the schema compilers of FlatBuffers and Protocol Buffers, which
# bench_morvanec runs beside morvanec on equivalent data. Not needed to
# build or test; a benchmark skips a peer that is absent.
set -eu
cd "$(dirname "$0")/.."
./scripts/install-packages.sh flatbuffers-compiler protobuf-compiler
