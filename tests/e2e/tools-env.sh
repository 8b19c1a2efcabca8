# Sourced by the tests of the Linux tools: a work folder removed at exit, the
# registry file and shared-memory namespace of the run inside it, and qvsim.
#
#   . tools-env.sh BUILD_DIR NAME
build=$1
work=$(mktemp -d "${TMPDIR:-/tmp}/vudozid-$2.XXXXXX")
. "$(dirname "${BASH_SOURCE[0]}")/../../scripts/simulator.sh"
trap 'stop_simulator; rm -rf "$work"' EXIT
export VUDOZID_REGISTRY=$work/registry.reg
export VUDOZID_SHM_NAMESPACE=$2$$

start_simulator() {  # start_simulator INSTANCES: returns once it publishes
  timeout 60 "$build/provider/qvsim" --instances "$1" --interval-ms 100 --seconds 50 \
    >"$work/qvsim.log" 2>&1 &
  sim=$!
  for _ in $(seq 300); do grep -q "instance" "$work/qvsim.log" && break; sleep 0.1; done
}
