#!/usr/bin/env bash
# A real Prometheus server scrapes qvperf's exporter on 127.0.0.1 every second:
# the target is up, it has 16 series for each of qvsim's 3 instances, and an
# instance added by a restarted qvsim appears within a few scrapes. Loopback
# only, free ports, a throw-away data directory, every wait bounded.
#
#   prometheus-scrape.sh BUILD_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/vudozid-prometheus.XXXXXX")
sim= qv= prom=
cleanup() {
  for p in $sim $qv $prom; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
export VUDOZID_REGISTRY=$work/registry.reg
export VUDOZID_SHM_NAMESPACE=prometheus$$
fail() { echo "FAIL: $*" >&2; [ -f "$work/prometheus.log" ] && tail -n 20 "$work/prometheus.log" >&2; exit 1; }
free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }

# The value of a PromQL query that returns one number, or "none".
query() {
  curl -sS --max-time 5 "http://127.0.0.1:$prom_port/api/v1/query" --data-urlencode "query=$1" |
    python3 -c 'import json,sys; r=json.load(sys.stdin)["data"]["result"]; print(r[0]["value"][1] if r else "none")'
}
wait_for() {  # wait_for SECONDS QUERY EXPECTED
  local value=none
  for _ in $(seq "$(($1 * 2))"); do
    value=$(query "$2" 2>/dev/null || echo none)
    [ "$value" = "$3" ] && return 0
    sleep 0.5
  done
  fail "$2 is $value after $1 s, expected $3"
}
start_sim() {
  # Not under timeout: the test kills qvsim itself; --seconds bounds it.
  "$build/provider/qvsim" --instances "$1" --interval-ms 200 --seconds 120 >"$work/qvsim.log" 2>&1 &
  sim=$!
  for _ in $(seq 100); do grep -q "instance" "$work/qvsim.log" && return; sleep 0.1; done
  fail "qvsim did not start"
}

timeout 30 "$build/tools/qvreg" --seed "$build/src/libVudoZid.so" >/dev/null
start_sim 3
timeout 120 "$build/tools/qvperf" --listen 127.0.0.1:0 2>"$work/qvperf.log" &
qv=$!
port=
for _ in $(seq 100); do
  port=$(sed -n 's|.*serving http://127.0.0.1:\([0-9]*\)/metrics|\1|p' "$work/qvperf.log")
  [ -n "$port" ] && break
  sleep 0.1
done
[ -n "$port" ] || fail "qvperf did not start serving"

cat >"$work/prometheus.yml" <<YAML
global:
  scrape_interval: 1s
  scrape_timeout: 1s
  evaluation_interval: 1s
scrape_configs:
  - job_name: quorvane
    static_configs:
      - targets: ['127.0.0.1:$port']
YAML
prom_port=$(free_port)
timeout 120 prometheus --config.file="$work/prometheus.yml" --storage.tsdb.path="$work/data" \
  --web.listen-address="127.0.0.1:$prom_port" --log.level=warn >"$work/prometheus.log" 2>&1 &
prom=$!

wait_for 30 'up{job="quorvane"}' 1
wait_for 10 'count({job="quorvane",server=~".+"})' 48
wait_for 5 'quorvane_server_up{job="quorvane"}' 1
echo "ok: up 1, 48 series for 3 instances"

kill "$sim"; wait "$sim" 2>/dev/null || true; sim=
start_sim 4
wait_for 10 'count(quorvane_open_databases{job="quorvane"})' 4
wait_for 5 'count(quorvane_cache_hit_ratio{server="Quorvane04"})' 1
echo "ok: the restarted server's fourth instance is scraped"
echo "PASS"
