#!/usr/bin/env bash
# The Linux tools across processes, as the main job uses them: qvreg registers
# the library into a registry file, qvsim publishes from another process, qvperf
# reads it back through the registry entries, and qvreg /u takes it away again.
#
#   linux-tools-cycle.sh BUILD_DIR
set -euo pipefail
. "$(dirname "$0")/tools-env.sh" "$1" cycle
fail() { echo "FAIL: $*" >&2; exit 1; }

timeout 30 "$build/tools/qvreg" --seed "$build/src/libVudoZid.so"
perf_key='[HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Services\Quorvane Server ITA\Performance]'
grep -qF "$perf_key" "$VUDOZID_REGISTRY" || fail "no Performance key after registration"
grep -qF '"Open"="_OpenPerfMon@4"' "$VUDOZID_REGISTRY" || fail "no Open entry point"
grep -qF '"Library"=' "$VUDOZID_REGISTRY" || fail "no Library value"

start_simulator 2
out=$(timeout 30 "$build/tools/qvperf" --format csv '\Quorvane Server 11(*)\Database aperti')
echo "$out"
[ "$(grep -c 'Database aperti' <<<"$out")" -eq 2 ] || fail "expected two instances from qvsim"
stop_simulator

timeout 30 "$build/tools/qvreg" /u "$build/src/libVudoZid.so"
! grep -qF "$perf_key" "$VUDOZID_REGISTRY" || fail "Performance key left after unregistration"
grep -qF '"Last Counter"=dword:00000736' "$VUDOZID_REGISTRY" || fail "Last Counter not restored"
echo "PASS"
