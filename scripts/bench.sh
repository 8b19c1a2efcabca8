#!/usr/bin/env bash
# Builds the benchmarks in Release and runs them all: collection against its
# memory-copy baseline, the registry fallback and map rebuild, the pair-list
# merge and removal, and a complete DllRegisterServer at four pair-list sizes.
# Extra arguments go to every benchmark program (for example
# --benchmark_filter=BM_Collect or --benchmark_repetitions=5).
set -euo pipefail
cd "$(dirname "$0")/.."
# The benchmarks publish the server's blocks themselves: in a shared-memory
# namespace of their own, so that a running server or main job is not disturbed.
export VUDOZID_SHM_NAMESPACE=${VUDOZID_SHM_NAMESPACE:-bench$$}
cmake --preset linux-bench >/dev/null
cmake --build --preset linux-bench -j"${JOBS:-2}" >/dev/null
for program in build/linux-bench/bench/bench_*; do
  [ -x "$program" ] || continue
  echo "=== $(basename "$program")"
  "$program" "$@"
done
