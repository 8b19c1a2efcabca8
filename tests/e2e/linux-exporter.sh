#!/usr/bin/env bash
# The exporter across processes with 10,000 instances: qvperf --listen serves
# what qvsim publishes; 16 idle connections and a client dribbling its request
# do not delay a scrape beyond a second; promtool finds nothing to say; at the
# first scrape after qvsim is killed (a viewer keeping the library open beside
# it) /health is 503 and no series of it is served, and the instances of a
# restarted qvsim show at the next scrape; "Disable Performance Counters" is
# honoured unless overridden.
#
#   linux-exporter.sh BUILD_DIR
set -euo pipefail
build=$1
here=$(cd "$(dirname "$0")" && pwd)
source "$here/exporter-common.sh"
exporter_setup exporter
declare -a idle=()

scrape() { curl -sS --max-time 10 "http://127.0.0.1:$port/metrics"; }
health() { curl -s --max-time 10 -o /dev/null -w '%{http_code}' "http://127.0.0.1:$port/health"; }

timeout 30 "$build/tools/qvreg" --seed "$build/src/libVudoZid.so" >/dev/null
start_sim 10000
start_qvperf

scrape >"$work/metrics.txt"
[ "$(grep -c '^quorvane_[a-z_]*{.*server="' "$work/metrics.txt")" -eq 160000 ] ||
  fail "expected 160000 series for 10000 instances"
grep -qx 'quorvane_server_up 1' "$work/metrics.txt" || fail "server not up"
lint=$(promtool check metrics <"$work/metrics.txt" 2>&1) || fail "promtool: $lint"
[ -z "$lint" ] || fail "promtool says: $lint"
[ "$(health)" = 200 ] || fail "/health not 200 with a running server"
echo "ok: 160000 series, promtool silent, /health 200"

# 16 idle connections and one dribbling client beside a scrape: less than a
# second longer than the same scrape alone.
time_scrape() { curl -sS --max-time 10 -o /dev/null -w '%{time_total}' "http://127.0.0.1:$port/metrics"; }
alone=$(time_scrape)
for _ in $(seq 16); do exec {fd}<>"/dev/tcp/127.0.0.1/$port"; idle+=("$fd"); done
( exec 3<>"/dev/tcp/127.0.0.1/$port"
  for c in G E T ' ' /; do printf '%s' "$c" >&3; sleep 3; done ) &
extra_pids=$!
sleep 0.5
took=$(time_scrape)
echo "scrape of 10000 instances: ${alone}s alone, ${took}s beside 17 stalled clients"
awk -v t="$took" -v a="$alone" 'BEGIN { exit !(t - a < 1.0) }' || fail "scrape took ${took}s"
kill "$extra_pids" 2>/dev/null || true; extra_pids=
for fd in "${idle[@]}"; do exec {fd}>&-; done; idle=()

# The server killed while a viewer keeps the library and its blocks open:
# 503, server_up 0 and no series of its instances at the next scrape;
# restarted with other instances.
timeout 60 "$build/tools/qvperf" -si 0.2 >/dev/null 2>&1 &
extra_pids=$!
sleep 0.5
kill -9 "$sim"; wait "$sim" 2>/dev/null || true; sim=
scrape >"$work/metrics.txt"
[ "$(health)" = 503 ] || fail "/health still 200 after the server was killed"
grep -qx 'quorvane_server_up 0' "$work/metrics.txt" || fail "quorvane_server_up not 0"
! grep -q '^quorvane_open_databases{' "$work/metrics.txt" || fail "a dead server's values served"
start_sim 4
scrape >"$work/metrics.txt"
[ "$(grep -c '^quorvane_open_databases{' "$work/metrics.txt")" -eq 4 ] ||
  fail "a restarted server with 4 instances is not what the next scrape shows"
[ "$(health)" = 200 ] || fail "/health not 200 again"
echo "ok: killed server seen at once beside another reader, restarted server's 4 instances at the next scrape"
kill "$qv" "$extra_pids"; wait "$qv" "$extra_pids" 2>/dev/null || true; qv= extra_pids=

# "Disable Performance Counters" set: no object unless overridden.
perf_key='[HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Services\Quorvane Server ITA\Performance]'
sed -i "/^$(sed 's/[][\\.]/\\&/g' <<<"$perf_key")\$/a \"Disable Performance Counters\"=dword:00000001" \
  "$VUDOZID_REGISTRY"
grep -q '"Disable Performance Counters"=dword:00000001' "$VUDOZID_REGISTRY" || fail "cannot set the value"
start_qvperf
scrape >"$work/metrics.txt"
grep -qx 'quorvane_exporter_counters_disabled 1' "$work/metrics.txt" || fail "disabled counters not said"
! grep -q '^quorvane_open_databases' "$work/metrics.txt" || fail "disabled counters still served"
[ "$(health)" = 503 ] || fail "/health not 503 with disabled counters"
grep -q 'Disable Performance Counters' "$work/qvperf.log" || fail "qvperf did not say why"
kill "$qv"; wait "$qv" 2>/dev/null || true; qv=
start_qvperf --ignore-disabled-counters
[ "$(scrape | grep -c '^quorvane_open_databases{')" -eq 4 ] || fail "override not honoured"
echo "PASS"
