#!/usr/bin/env bash
# The functions a shared build of the library exports against the functions
# its public headers mark S7_API: the two lists must be the same.
# Usage: exports.sh <shared library> <public header folder>
set -euo pipefail
lib=$1 headers=$2
exported=$(nm -D --defined-only "$lib" | awk 'NF == 3 {print $3}' | sort)
declared=$(grep -ho '^S7_API[^(]*(' "$headers"/*.h | sed -E 's/.*[ *]([A-Za-z_0-9]+)\($/\1/' | sort)
if [ "$exported" != "$declared" ]; then
  echo "exported (>) and declared (<) differ:"
  diff <(echo "$declared") <(echo "$exported") || true
  exit 1
fi
echo "$(echo "$exported" | wc -l) symbols exported, each a function of the public headers"
