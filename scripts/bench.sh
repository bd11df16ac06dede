#!/usr/bin/env bash
# Builds Release and runs the benchmarks, printing each figure.
set -euo pipefail
source "$(dirname "$0")/lib/common.sh"
cd "$QUORVEL_ROOT"

quorvel_install_packages "${QUORVEL_BUILD_PACKAGES[@]}" "${QUORVEL_BENCH_PACKAGES[@]}"
quorvel_configure build/bench -DCMAKE_BUILD_TYPE=Release -DQUORVEL_BUILD_TESTS=OFF \
  -DQUORVEL_BUILD_BENCH=ON
cmake --build build/bench -j "$(nproc)"

for program in build/bench/bench/*_bench; do
  echo "== $(basename "$program")"
  "$program" --benchmark_counters_tabular=true
done
for script in bench/*_bench.sh; do
  [ -f "$script" ] || continue
  echo "== $(basename "$script")"
  bash "$script" build/bench
done
