#!/usr/bin/env bash
# Compares one benchmark of the working tree with the same benchmark of another
# revision, in alternating program runs. A shared machine drifts between a fast
# and a slow state within minutes, for the baseline too, so all the runs of one
# build followed by all the runs of the other would mostly compare the machine
# with itself; alternating runs let each pair see the same state.
#
#   scripts/bench-compare.sh REV [ROUNDS] [FILTER]
#
# REV is built in a temporary worktree with the same bench preset; FILTER (a
# --benchmark_filter expression, default the collector and its copy baseline
# at 10,000 instances) selects what each run measures. Every line prints the
# median of three repetitions of each selected benchmark (its ns_per_instance
# counter where it has one, else its CPU time) and, when the collector and
# the baseline are both selected, the one's time over the other's.
set -euo pipefail
cd "$(dirname "$0")/.."
[ $# -ge 1 ] || { echo "usage: $0 REV [ROUNDS] [FILTER]" >&2; exit 2; }
revision=$1
rounds=${2:-5}
filter=${3:-'BM_(Collect|CopyBaseline)/10000$'}
program=bench/bench_collect_bench

export VUDOZID_SHM_NAMESPACE=${VUDOZID_SHM_NAMESPACE:-compare$$}
other=$(mktemp -d)
trap 'git worktree remove --force "$other" >/dev/null 2>&1 || true; rm -rf "$other"' EXIT
git worktree add --detach "$other" "$revision" >/dev/null 2>&1

for tree in . "$other"; do
  (cd "$tree" && cmake --preset linux-bench >/dev/null && \
   cmake --build --preset linux-bench -j"${JOBS:-2}" --target "$(basename "$program")" >/dev/null)
done

medians() {
  "$1" --benchmark_filter="$filter" --benchmark_repetitions=3 \
       --benchmark_report_aggregates_only=true 2>/dev/null |
    awk '$1 ~ /_median$/ {
           value = $4 " " $5
           for (i = 6; i <= NF; ++i)
             if ($i ~ /^ns_per_instance=/) { value = $i; sub(/^ns_per_instance=/, "", value) }
           name = $1; sub(/_median$/, "", name)
           printf "%s %s  ", name, value
           if (name ~ /^BM_Collect\//) collect = value + 0
           if (name ~ /^BM_CopyBaseline\//) baseline = value + 0
         }
         END { if (collect > 0 && baseline > 0) printf "ratio %.2f", collect / baseline }'
}

for round in $(seq "$rounds"); do
  echo "round $round  working tree: $(medians "build/linux-bench/$program")"
  echo "round $round  $revision: $(medians "$other/build/linux-bench/$program")"
done
