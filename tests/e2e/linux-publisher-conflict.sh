#!/usr/bin/env bash
# One publisher per application name, across processes: while one qvsim
# publishes, a second one for the same application exits non-zero naming the
# conflict and qvperf still reads the first one's instances; once the first is
# killed with SIGKILL, a new qvsim starts and is read.
#
#   linux-publisher-conflict.sh BUILD_DIR
set -euo pipefail
build=$1
work=$(mktemp -d "${TMPDIR:-/tmp}/vudozid-conflict.XXXXXX")
first= third=
cleanup() {
  for pid in $first $third; do { kill "$pid"; wait "$pid"; } 2>/dev/null || true; done
  rm -rf "$work" /dev/shm/vudozid."$VUDOZID_SHM_NAMESPACE".*
}
trap cleanup EXIT
export VUDOZID_REGISTRY=$work/registry.reg
export VUDOZID_SHM_NAMESPACE=conflict$$
fail() { echo "FAIL: $*" >&2; exit 1; }
wait_for() {  # wait_for FILE TEXT: up to 5 s
  for _ in $(seq 50); do grep -q "$2" "$1" && return 0; sleep 0.1; done
  fail "no \"$2\" in $1: $(cat "$1")"
}
names() { timeout 30 "$build/tools/qvperf" --format csv '\Quorvane Server 11(*)\Database aperti'; }

timeout 30 "$build/tools/qvreg" --seed "$build/src/libVudoZid.so" >/dev/null

# Started without timeout(1), so that SIGKILL reaches qvsim itself; --seconds bounds it.
"$build/provider/qvsim" --instances 2 --interval-ms 100 --seconds 50 >"$work/first.log" 2>&1 &
first=$!
wait_for "$work/first.log" "instance"

status=0
timeout 20 "$build/provider/qvsim" --instances 5 --seconds 10 >"$work/second.log" 2>&1 || status=$?
cat "$work/second.log"
[ "$status" -ne 0 ] && [ "$status" -ne 124 ] || fail "the second qvsim did not refuse to start (status $status)"
grep -q "already publishing" "$work/second.log" || fail "the second qvsim does not name the conflict"
out=$(names)
[ "$(grep -c 'Quorvane0[12]' <<<"$out")" -eq 2 ] || fail "the first qvsim's instances are not read: $out"
! grep -q "Quorvane05" <<<"$out" || fail "the second qvsim published"

kill -9 "$first"; wait "$first" 2>/dev/null || true; first=
"$build/provider/qvsim" --instances 3 --interval-ms 100 --seconds 50 >"$work/third.log" 2>&1 &
third=$!
wait_for "$work/third.log" "instance"
kill -0 "$third" 2>/dev/null || fail "the qvsim after the killed one did not keep running: $(cat "$work/third.log")"
out=$(names)
grep -q "Quorvane03" <<<"$out" || fail "the new qvsim's instances are not read: $out"
echo "PASS"
