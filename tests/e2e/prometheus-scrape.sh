#!/usr/bin/env bash
# A real Prometheus server scrapes qvperf's exporter on 127.0.0.1 every second:
# the target is up, it has 16 series for each of qvsim's 3 instances, every
# query of the Grafana dashboard in monitoring/ returns data, the recording and
# alerting rules load and evaluate, and an instance added by a restarted qvsim
# appears within a few scrapes. The rules pass promtool's check and unit tests
# first. Loopback only, free ports, a throw-away data directory, every wait
# bounded.
#
#   prometheus-scrape.sh BUILD_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
source "$here/exporter-common.sh"
monitoring=$(cd "$here/../../monitoring" && pwd)
promtool check rules "$monitoring"/prometheus/*.yml >/dev/null || { echo "FAIL: promtool check rules"; exit 1; }
promtool test rules "$monitoring/tests/rules.test.yml" >/dev/null || { echo "FAIL: promtool test rules"; exit 1; }
echo "ok: promtool check rules and test rules"
exporter_setup prometheus
fail_log=$work/prometheus.log
free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }

# The value of a PromQL query that returns one number, or "none".
query() {
  curl -sS --max-time 5 "http://127.0.0.1:$prom_port/api/v1/query" --data-urlencode "query=$1" |
    python3 -c 'import json,sys; r=json.load(sys.stdin)["data"]["result"]; print(r[0]["value"][1] if r else "none")'
}
series() {  # the number of series a query returns
  curl -sS --max-time 5 "http://127.0.0.1:$prom_port/api/v1/query" --data-urlencode "query=$1" |
    python3 -c 'import json,sys; print(len(json.load(sys.stdin)["data"]["result"]))'
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
rule_files:
  - $monitoring/prometheus/recording-rules.yml
  - $monitoring/prometheus/alerting-rules.yml
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
wait_for 10 'count({job="quorvane",server=~".+",__name__=~"quorvane_[a-z_]+"})' 48
wait_for 5 'quorvane_server_up{job="quorvane"}' 1
echo "ok: up 1, 48 series for 3 instances"

# Every dashboard query, "All" servers, returns data. The process_* metrics
# are the exporter's own; a build that does not serve them yet skips theirs.
has_process=$(series '{__name__=~"process_.+",job="quorvane"}')
sleep 2  # rates need two samples in their window
while IFS=$'\t' read -r title expr; do
  if [[ $expr == *process_* ]] && [ "$has_process" = 0 ]; then
    echo "skipped (the exporter serves no process_* metrics): $title: $expr"; continue
  fi
  [ "$(series "$expr")" -gt 0 ] || fail "dashboard panel \"$title\": no data for $expr"
done < <(python3 "$monitoring/tests/dashboard_queries.py" "$monitoring/grafana/quorvane-server-11.json" \
           job=quorvane 'server=.*' __rate_interval=5s)
echo "ok: every dashboard query returns data"

# The rules loaded and evaluate without error; the recording rules give one
# series per server, and no alert fires on a healthy server.
wait_for 10 'count(quorvane_server:connected_clients:sum)' 3
wait_for 5 'count(quorvane_server:cache_hit_ratio:avg15m)' 3
expected=$(cat "$monitoring"/prometheus/*.yml | grep -cE '^ *- (alert|record):')
curl -sS --max-time 5 "http://127.0.0.1:$prom_port/api/v1/rules" | python3 -c '
import json, sys
groups = json.load(sys.stdin)["data"]["groups"]
rules = [r for g in groups for r in g["rules"]]
bad = [r["name"] for r in rules if r["health"] != "ok"]
firing = [r["name"] for r in rules if r.get("state") == "firing"]
if len(rules) != int(sys.argv[1]) or bad or firing:
    sys.exit("rules: %d loaded (%s in the files), unhealthy %s, firing %s" % (len(rules), sys.argv[1], bad, firing))
' "$expected" || fail "the rules in monitoring/prometheus"
echo "ok: $expected rules loaded and healthy, none firing"

kill "$sim"; wait "$sim" 2>/dev/null || true; sim=
start_sim 4
wait_for 10 'count(quorvane_open_databases{job="quorvane"})' 4
wait_for 5 'count(quorvane_cache_hit_ratio{server="Quorvane04"})' 1
echo "ok: the restarted server's fourth instance is scraped"
echo "PASS"
