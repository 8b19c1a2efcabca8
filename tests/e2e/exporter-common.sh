# Sourced by the exporter's end-to-end tests: a throw-away work directory with
# its own emulated registry and shared-memory namespace, cleaned up on exit,
# and starting qvsim and qvperf's exporter from BUILD_DIR ($build).
#
#   exporter_setup NAME     sets $work; kills $sim, $qv and $extra_pids on exit
#   start_sim INSTANCES     sets $sim
#   start_qvperf [OPTION]   sets $qv and $port

exporter_setup() {
  work=$(mktemp -d "${TMPDIR:-/tmp}/vudozid-$1.XXXXXX")
  sim= qv= extra_pids=
  trap exporter_cleanup EXIT
  export VUDOZID_REGISTRY=$work/registry.reg
  export VUDOZID_SHM_NAMESPACE=$1$$
}

exporter_cleanup() {
  local p
  for p in $sim $qv $extra_pids; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}

fail() {
  echo "FAIL: $*" >&2
  if [ -n "${fail_log:-}" ] && [ -f "$fail_log" ]; then tail -n 20 "$fail_log" >&2; fi
  exit 1
}

start_sim() {
  # Not under timeout: the tests kill qvsim themselves; --seconds bounds it.
  "$build/provider/qvsim" --instances "$1" --interval-ms 200 --seconds 120 >"$work/qvsim.log" 2>&1 &
  sim=$!
  for _ in $(seq 100); do grep -q "instance" "$work/qvsim.log" && return; sleep 0.1; done
  fail "qvsim did not start"
}

start_qvperf() {
  timeout 120 "$build/tools/qvperf" --listen 127.0.0.1:0 "$@" 2>"$work/qvperf.log" &
  qv=$!
  for _ in $(seq 100); do
    port=$(sed -n 's|.*serving http://127.0.0.1:\([0-9]*\)/metrics|\1|p' "$work/qvperf.log")
    [ -n "$port" ] && return
    sleep 0.1
  done
  fail "qvperf did not start serving"
}
