#!/usr/bin/env bash
# A real Prometheus server scrapes qvperf's exporter on 127.0.0.1 every second:
# the target is up, it has 16 series for each of qvsim's 3 instances, and an
# instance added by a restarted qvsim appears within a few scrapes. Loopback
# only, free ports, a throw-away data directory, every wait bounded.
#
#   prometheus-scrape.sh BUILD_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
source "$here/exporter-common.sh"
exporter_setup prometheus
fail_log=$work/prometheus.log
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
timeout 30 "$build/tools/qvreg" --seed "$build/src/libVudoZid.so" >/dev/null
start_sim 3
start_qvperf

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
extra_pids=$!

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
