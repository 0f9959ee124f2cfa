#!/usr/bin/env bash
# Installs the library component into a scratch prefix, then builds and runs
# the C consumer twice: through the CMake package and through pkg-config.
# Usage: run.sh <build dir> <scratch dir> <consumer source> <tests/install dir>
set -euo pipefail
build=$1 scratch=$2 source=$3 project=$4
rm -rf "$scratch"
mkdir -p "$scratch"
prefix=$scratch/prefix

cmake --install "$build" --prefix "$prefix" --component s7client >/dev/null

cmake -S "$project" -B "$scratch/cmake" -DCMAKE_PREFIX_PATH="$prefix" -DCONSUMER_SOURCE="$source" >/dev/null
cmake --build "$scratch/cmake" >/dev/null
"$scratch/cmake/c_consumer"

export PKG_CONFIG_PATH=$(dirname "$(find "$prefix" -name s7client.pc)")
# shellcheck disable=SC2046
cc -std=c99 -Wall -Wextra -Wpedantic -Werror "$source" -o "$scratch/c_consumer_pc" \
  $(pkg-config --cflags --static --libs s7client)
"$scratch/c_consumer_pc"
