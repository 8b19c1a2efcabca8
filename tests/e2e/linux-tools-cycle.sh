#!/usr/bin/env bash
# The Linux tools across processes, as the main job uses them: qvreg registers
# the library into a registry file, qvsim publishes from another process, qvperf
# reads it back through the registry entries, and qvreg /u takes it away again.
#
#   linux-tools-cycle.sh BUILD_DIR
set -euo pipefail
build=$1
work=$(mktemp -d "${TMPDIR:-/tmp}/vudozid-tools.XXXXXX")
sim=
cleanup() {
  [ -n "$sim" ] && kill "$sim" 2>/dev/null && wait "$sim" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
export VUDOZID_REGISTRY=$work/registry.reg
export VUDOZID_SHM_NAMESPACE=cycle$$
fail() { echo "FAIL: $*" >&2; exit 1; }

timeout 30 "$build/tools/qvreg" --seed "$build/src/libVudoZid.so"
perf_key='[HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Services\Quorvane Server ITA\Performance]'
grep -qF "$perf_key" "$VUDOZID_REGISTRY" || fail "no Performance key after registration"
grep -qF '"Open"="_OpenPerfMon@4"' "$VUDOZID_REGISTRY" || fail "no Open entry point"
grep -qF '"Library"=' "$VUDOZID_REGISTRY" || fail "no Library value"

timeout 60 "$build/provider/qvsim" --instances 2 --interval-ms 100 --seconds 30 >"$work/qvsim.log" 2>&1 &
sim=$!
for _ in $(seq 50); do grep -q "instance" "$work/qvsim.log" && break; sleep 0.1; done
out=$(timeout 30 "$build/tools/qvperf" --format csv '\Quorvane Server 11(*)\Database aperti')
echo "$out"
[ "$(grep -c 'Database aperti' <<<"$out")" -eq 2 ] || fail "expected two instances from qvsim"
kill "$sim"; wait "$sim" 2>/dev/null || true; sim=

timeout 30 "$build/tools/qvreg" /u "$build/src/libVudoZid.so"
! grep -qF "$perf_key" "$VUDOZID_REGISTRY" || fail "Performance key left after unregistration"
grep -qF '"Last Counter"=dword:00000736' "$VUDOZID_REGISTRY" || fail "Last Counter not restored"
echo "PASS"
