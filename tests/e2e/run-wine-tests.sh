#!/usr/bin/env bash
# End-to-end tests of the real DLL on a real Windows platform (Wine): register
# with regsvr32, collect through qvperf from a provider running as its own
# Windows process (one publisher per application; the SDK's C example built
# from the installed package), describe the object from "Map" without a provider,
# unregister, and load the type library; and the platform tests against Wine's
# Win32 API. Each run uses a throw-away prefix.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
. "$here/wine-common.sh"

fail=0

free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }
http_code() { curl -s --max-time 10 -o /dev/null -w '%{http_code}' "$1"; }
wait_http() {  # wait_http URL CODE: up to 30 s for the answer
  for _ in $(seq 60); do [ "$(http_code "$1")" = "$2" ] && return 0; sleep 0.5; done
  return 1
}

exporter_checks() {  # exporter_checks ARCH WINE_COMMAND PREFIX
  local arch=$1 w=$2 prefix=$3 port sim qv
  port=$(free_port)
  $w 'C:\vudozid\qvsim.exe' --instances 3 --seconds 60 >"$prefix/sim3.log" 2>&1 &
  sim=$!
  sleep 4
  $w 'C:\vudozid\qvperf.exe' --listen "127.0.0.1:$port" >"$prefix/exporter.log" 2>&1 &
  qv=$!
  check "qvperf.exe --listen answers /health 200 with a provider ($arch)" \
    wait_http "http://127.0.0.1:$port/health" 200
  curl -s --max-time 10 "http://127.0.0.1:$port/metrics" >"$prefix/metrics.txt"
  check "the exposition has the provider's instances ($arch)" \
    grep -qF 'quorvane_open_databases{server="Quorvane03"}' "$prefix/metrics.txt"
  check "promtool check metrics is silent ($arch)" \
    bash -c '[ -z "$(promtool check metrics <"$1" 2>&1)" ]' _ "$prefix/metrics.txt"
  kill $sim 2>/dev/null; wait $sim 2>/dev/null
  curl -s --max-time 10 -o /dev/null "http://127.0.0.1:$port/metrics"
  check "/health 503 within two scrapes after the provider is killed ($arch)" \
    test "$(http_code "http://127.0.0.1:$port/health")" = 503
  kill $qv 2>/dev/null; wait $qv 2>/dev/null

  # The Windows service, as far as Wine runs services: installed with its
  # command line, started by the service control manager, stopped and removed.
  # Not checked here: start at a real boot, SERVICE_CONTROL_SHUTDOWN (Wine
  # sends none when its server ends), and running under the LocalSystem account.
  port=$(free_port)
  local key='HKLM\SYSTEM\CurrentControlSet\Services\VudoZidExporter'
  check "qvperf.exe --install-service ($arch)" \
    $w 'C:\vudozid\qvperf.exe' --install-service --listen "127.0.0.1:$port"
  $w reg query "$key" 2>/dev/null | tr -d '\r' >"$prefix/service.txt"
  check "service command line, display name and automatic start ($arch)" bash -c \
    'grep -qF "ImagePath    REG_SZ    \"C:\\vudozid\\qvperf.exe\" --run-as-service --listen 127.0.0.1:$2" "$1" &&
     grep -qF "DisplayName    REG_SZ    VudoZid Prometheus exporter" "$1" &&
     grep -qF "Start    REG_DWORD    0x2" "$1"' _ "$prefix/service.txt" "$port"
  $w reg query "$event_source" 2>/dev/null | tr -d '\r' >"$prefix/event-source.txt"
  check "an event log source with qvperf.exe's message table ($arch)" bash -c \
    'grep -qF "EventMessageFile    REG_EXPAND_SZ    C:\vudozid\qvperf.exe" "$1" &&
     grep -qF "TypesSupported    REG_DWORD    0x7" "$1"' _ "$prefix/event-source.txt"
  # Wine's services.exe starts automatic services whenever it starts itself,
  # which may happen while the service is being created, and answers "service
  # database locked" meanwhile: stop such a start first, then start it as an
  # operator would, a few times while the database is locked.
  local attempt
  for attempt in 1 2 3 4 5 6; do
    $w net stop VudoZidExporter >/dev/null 2>&1
    $w net start VudoZidExporter >"$prefix/net-start.txt" 2>&1
    $w sc query VudoZidExporter 2>&1 | tr -d '\r' >"$prefix/sc-query.txt"
    grep -q "STATE .*RUNNING" "$prefix/sc-query.txt" && break
    sleep 2
  done
  check "the service control manager runs the service ($arch)" grep -q "STATE .*RUNNING" "$prefix/sc-query.txt"
  if wait_http "http://127.0.0.1:$port/metrics" 200; then
    echo "ok: the started service serves /metrics ($arch)"
  else
    echo "FAILED: the started service serves /metrics ($arch)"; fail=1
    echo "  net start said: $(tr -d '\r' <"$prefix/net-start.txt" | tail -n 1)"
    echo "  sockets listening on $port: $(ss -ltn "sport = :$port" | tail -n +2 | wc -l)"
    echo "  service processes: $(pgrep -fc 'qvperf.exe --run-as-service' || true)"
  fi
  check "net stop stops it ($arch)" $w net stop VudoZidExporter
  check "the stopped service no longer listens ($arch)" \
    bash -c '! curl -s --max-time 5 -o /dev/null "$1"' _ "http://127.0.0.1:$port/health"
  # With its address taken, the service stops at once, qvperf's exit status
  # its own code (the event log says why), instead of staying "start pending".
  python3 -c 'import socket, sys, time
s = socket.socket(); s.bind(("127.0.0.1", int(sys.argv[1]))); s.listen(); print(flush=True); time.sleep(120)' \
    "$port" >"$prefix/holder.txt" &
  local holder=$!
  for attempt in $(seq 50); do [ -s "$prefix/holder.txt" ] && break; sleep 0.1; done
  $w net start VudoZidExporter >/dev/null 2>&1
  for attempt in $(seq 20); do
    $w sc query VudoZidExporter 2>&1 | tr -d '\r' >"$prefix/sc-query.txt"
    grep -q "STATE .*STOPPED" "$prefix/sc-query.txt" && break
    sleep 0.5
  done
  check "with its address taken the service stops, its own exit code 1 ($arch)" \
    grep -qE "SERVICE_EXIT_CODE +: +1 " "$prefix/sc-query.txt"
  kill "$holder"; wait "$holder" 2>/dev/null
  check "qvperf.exe --remove-service ($arch)" $w 'C:\vudozid\qvperf.exe' --remove-service
  check "the service key is gone ($arch)" bash -c '! '"$w"' reg query "$1" >/dev/null 2>&1' _ "$key"
  check "the event log source is gone ($arch)" bash -c '! '"$w"' reg query "$1" >/dev/null 2>&1' _ "$event_source"
  # Outside the service control manager the service's run fails and says why
  # in the event log too: Wine prints a reported error on its eventlog channel.
  WINEDEBUG=err+eventlog $w 'C:\vudozid\qvperf.exe' --run-as-service >"$prefix/event.txt" 2>&1
  check "the service's error is reported to the event log ($arch)" \
    grep -q 'err:eventlog:ReportEventW L"StartServiceCtrlDispatcherW' "$prefix/event.txt"
}

# A server killed with kill -9 of its Wine process while other readers keep the
# library open (a viewer and a log; between them its blocks stay mapped, which
# keeps the sections alive on Windows), then restarted: the log goes values,
# blanks, values; the exporter says quorvane_server_up 0, /health 503 and serves
# no series while it is dead, and its instances again after. The instances
# share one name: dup and dup#1 in the log's columns and the exposition.
liveness_checks() {  # liveness_checks ARCH WINE_COMMAND PREFIX
  local arch=$1 w=$2 prefix=$3 port sim keeper logger qv object='\Quorvane Server 11'
  local long=${2/timeout $TIMEOUT /timeout 600 }  # these run through the whole check
  port=$(free_port)
  start_dup() {
    $long 'C:\vudozid\qvsim.exe' --instances 2 --instance-name dup --seconds 500 >>"$prefix/dup.log" 2>&1 &
    sim=$!
  }
  shape() { python3 "$here/check_pdh_log.py" "$dir/live.csv" CSV --shape 2>/dev/null; }
  wait_shape() {  # wait_shape PATTERN: up to 60 s for the log to match
    for _ in $(seq 120); do [[ $(shape) =~ $1 ]] && return 0; sleep 0.5; done
    echo "  the log is $(shape), not $1 yet"
  }
  scrape() { curl -s --max-time 10 "http://127.0.0.1:$port/metrics"; }
  start_dup
  sleep 4
  $long 'C:\vudozid\qvperf.exe' -si 0.2 >/dev/null 2>&1 &
  keeper=$!
  $long 'C:\vudozid\qvperf.exe' --listen "127.0.0.1:$port" >"$prefix/live-exporter.log" 2>&1 &
  qv=$!
  $long 'C:\vudozid\qvperf.exe' -si 0.25 -f CSV -o 'C:\vudozid\live.csv' -y "$object(dup*)\\Database aperti" \
    "$object(dup*)\\Tempo IO/chiamata" >"$prefix/live-log.txt" 2>&1 &
  logger=$!
  wait_http "http://127.0.0.1:$port/health" 200
  check "the exposition names same-named instances dup and dup#1 ($arch)" \
    bash -c '[ "$(grep -o "^quorvane_open_databases{[^}]*}" <<<"$1")" = "$2" ]' _ "$(scrape)" \
    $'quorvane_open_databases{server="dup"}\nquorvane_open_databases{server="dup#1"}'
  wait_shape '^v{3,}$'
  kill -9 "$(pgrep -P "$sim")" || echo "  no Wine process of qvsim.exe to kill"
  wait "$sim" 2>/dev/null
  wait_shape '^v+b{3,}$'
  local dead
  dead=$(scrape)
  check "a killed server: quorvane_server_up 0 and no series of it ($arch)" \
    bash -c 'grep -qx "quorvane_server_up 0" <<<"$1" && ! grep -q "^quorvane_open_databases{" <<<"$1"' _ "$dead"
  check "a killed server: /health 503 ($arch)" test "$(http_code "http://127.0.0.1:$port/health")" = 503
  start_dup
  wait_shape '^v+b+v{3,}$'
  check "a restarted server: its instances at the next scrape, /health 200 ($arch)" \
    bash -c '[ "$(grep -c "^quorvane_open_databases{" <<<"$1")" = 2 ] && [ "$2" = 200 ]' _ "$(scrape)" \
    "$(http_code "http://127.0.0.1:$port/health")"
  check "the log across kill -9 and restart: values, blanks, values, each instance its own ($arch)" \
    bash -c '[[ $(python3 "$1" "$2" CSV --shape --columns "$3(dup)\Database aperti" "$3(dup#1)\Database aperti" \
                  "$3(dup)\Tempo IO/chiamata" "$3(dup#1)\Tempo IO/chiamata") =~ ^v+b+v+\ distinct$ ]]' \
    _ "$here/check_pdh_log.py" "$dir/live.csv" "$object"
  [[ $fail == 0 ]] || echo "  log shape: $(shape)"
  kill "$logger" "$keeper" "$qv" "$sim" 2>/dev/null; wait "$logger" "$keeper" "$qv" "$sim" 2>/dev/null
}

provider_probe_checks() {  # provider_probe_checks ARCH WINE_COMMAND PREFIX BUILD_DIR
  local arch=$1 w=$2 prefix=$3 build=$4 probe
  cp "$build/tests/e2e/provider_probe.exe" "$dir/"
  $w 'C:\vudozid\provider_probe.exe' values 6 >"$prefix/probe.log" 2>&1 &
  probe=$!
  sleep 2
  $w 'C:\vudozid\qvperf.exe' --format jsonl -si 0.2 -sc 12 >"$prefix/probe-samples.jsonl" 2>&1
  for _ in $(seq 40); do grep -q '^adds' "$prefix/probe.log" && break; sleep 0.25; done
  $w 'C:\vudozid\qvperf.exe' --format jsonl -sc 1 >"$prefix/probe-final.jsonl" 2>&1
  wait $probe
  check "the probe's adds and rewrites all succeeded ($arch)" grep -q '^adds [0-9]* failures 0' "$prefix/probe.log"
  check "64-bit values read back whole while rewritten, adds from two threads sum exactly ($arch)" \
    python3 - "$prefix/probe-samples.jsonl" "$prefix/probe-final.jsonl" "$prefix/probe.log" <<'PY'
import json, sys
def whole(path):
    for line in open(path):
        values = [v["value"] for v in json.loads(line)["values"] if v["instance"] == "whole"]
        if len(values) == 3:
            yield values
samples = list(whole(sys.argv[1]))
torn = [v for values in samples for v in values[1:] if v >> 32 != v & 0xFFFFFFFF]
final = list(whole(sys.argv[2]))
adds = int(open(sys.argv[3]).read().split("adds ")[1].split()[0])
print(f"{len(samples)} samples, {len(torn)} torn, final count {final[0][0] if final else None} for {adds} adds")
sys.exit(0 if len(samples) >= 5 and not torn and final and final[0][0] == adds else 1)
PY
  check "squatted blocks and claims refused, a block this account left reused ($arch)" \
    $w 'C:\vudozid\provider_probe.exe' squat
}

run_suite() {  # run_suite ARCH BUILD_DIR WINE PRESET
  local arch=$1 build=$2 wine=$3 preset=$4
  local package=$root/build/provider-package/$preset
  [ -f "$package/cmake-build/minimal.exe" ] || "$root/scripts/check-provider-package.sh" "$preset" ||
    { echo "FAILED: the provider SDK package ($arch)"; fail=1; return 1; }
  local prefix w dir
  new_prefix "$arch" "$wine" || return 1
  cp "$build/src/VudoZid.dll" "$build/provider/qvsim.exe" "$build/tools/qvperf.exe" \
     "$build/tests/e2e/typelib_probe.exe" "$dir/"
  export_keys "$prefix/before.txt"

  # 1. Registration.
  check "regsvr32 registers ($arch)" $w regsvr32 /s 'C:\vudozid\VudoZid.dll'
  export_keys "$prefix/registered.txt"
  check "performance key values ($arch)" python3 "$here/check_registry.py" registered "$prefix/registered.txt"

  # 2. Live counters from a provider in its own process.
  $w 'C:\vudozid\qvsim.exe' --instances 2 --seconds 40 >"$prefix/sim.log" 2>&1 &
  local sim=$!
  sleep 4
  $w 'C:\vudozid\qvperf.exe' --format csv -sc 1 >"$prefix/live.csv" 2>&1
  check "qvperf shows the simulator's instances ($arch)" grep -q "Quorvane02" "$prefix/live.csv"
  local host object='\Quorvane Server 11'
  host=$($w cmd /c 'echo %COMPUTERNAME%' 2>/dev/null | tr -d '\r')
  $w 'C:\vudozid\qvperf.exe' -si 0.5 -sc 3 -f CSV -o 'C:\vudozid\log.csv' \
    "$object(Quorvane0*)\\Database aperti" >"$prefix/log.txt" 2>&1
  check "typeperf's CSV log read back by Python's csv module ($arch)" \
    python3 "$here/check_pdh_log.py" "$dir/log.csv" CSV 3 \
    "\\\\$host$object(Quorvane01)\\Database aperti" "\\\\$host$object(Quorvane02)\\Database aperti"
  # One publisher per application: a second simulator is refused, the first stays readable.
  $w 'C:\vudozid\qvsim.exe' --instances 5 --seconds 5 >"$prefix/sim-second.log" 2>&1
  check "a second simulator exits with status 3 ($arch)" test $? -eq 3
  check "the second simulator names the conflict ($arch)" grep -q "already publishing" "$prefix/sim-second.log"
  $w 'C:\vudozid\qvperf.exe' --format csv -sc 1 >"$prefix/live-kept.csv" 2>&1
  check "the first simulator is still read, the second not ($arch)" \
    eval 'grep -q Quorvane02 "$prefix/live-kept.csv" && ! grep -q Quorvane05 "$prefix/live-kept.csv"'
  # The simulator is killed, not stopped: its name must be free for the next one.
  kill $sim 2>/dev/null; wait $sim 2>/dev/null
  $w 'C:\vudozid\qvsim.exe' --instances 4 --seconds 40 >"$prefix/sim2.log" 2>&1 &
  sim=$!
  sleep 4
  $w 'C:\vudozid\qvperf.exe' --format csv -sc 1 >"$prefix/live2.csv" 2>&1
  check "a restarted provider with more instances is seen ($arch)" grep -q "Quorvane04" "$prefix/live2.csv"
  kill $sim 2>/dev/null; wait $sim 2>/dev/null
  # The SDK's C example, built from the installed package, publishes too.
  cp "$package/cmake-build/minimal.exe" "$package/prefix/bin/vudozid_provider.dll" "$dir/"
  $w 'C:\vudozid\minimal.exe' 8 >"$prefix/minimal.log" 2>&1 &
  sim=$!
  sleep 4
  $w 'C:\vudozid\qvperf.exe' --format csv -sc 1 >"$prefix/minimal.csv" 2>&1
  check "qvperf reads the installed C example's instances ($arch)" \
    eval 'grep -q MainDb "$prefix/minimal.csv" && grep -q ArchiveDb "$prefix/minimal.csv"'
  wait $sim
  check "the C example ends cleanly ($arch)" test $? -eq 0
  check "the C example runs against the library of its header's version ($arch)" \
    bash -c 'tr -d "\r" <"$1" | grep -q "built with SDK \([0-9.]*\), running with \1$"' _ "$prefix/minimal.log"
  cp "$package/cmake-build/minimal_static.exe" "$dir/"
  check "the C example linked with the static library runs ($arch)" $w 'C:\vudozid\minimal_static.exe' 0

  # 2a. The provider DLL's update path: two threads adding to one counter and
  # rewriting 64-bit values while qvperf samples; squatted blocks refused.
  provider_probe_checks "$arch" "$w" "$prefix" "$build"

  # 2b. The exporter: qvperf.exe serves /metrics and /health from a provider in
  # its own process, and sees it killed within two scrapes.
  exporter_checks "$arch" "$w" "$prefix"
  liveness_checks "$arch" "$w" "$prefix"
  timeout 30 wineserver -k 2>/dev/null; sleep 1

  # 3. No provider: the object is still described from "Map".
  $w 'C:\vudozid\qvperf.exe' -q >"$prefix/empty.txt" 2>&1
  check "object described from Map without a provider ($arch)" \
    grep -qxF '\Quorvane Server 11(*)\Accessi alla cache %' <(tr -d '\r' <"$prefix/empty.txt")

  # 4. Unregistration gives back the seeded state.
  check "regsvr32 /u unregisters ($arch)" $w regsvr32 /u /s 'C:\vudozid\VudoZid.dll'
  export_keys "$prefix/after.txt"
  check "registry back to the seeded state ($arch)" python3 "$here/check_registry.py" unregistered "$prefix/after.txt" "$prefix/before.txt"

  # 5. The type library.
  $w 'C:\vudozid\typelib_probe.exe' 'C:\vudozid\VudoZid.dll' >"$prefix/typelib.txt" 2>&1
  check "type library name, version, locale and GUID ($arch)" \
    diff <(tr -d '\r' <"$prefix/typelib.txt") - <<'EXPECTED'
name VudoZidLib
help VudoZid 1.0 Type Library
version 1.0
lcid 0x409
guid {FF41D410-F176-44FD-9A2F-AB1668C7A041}
EXPECTED
  timeout 30 wineserver -k 2>/dev/null
  [ "$fail" = 0 ] && rm -rf "$prefix" || echo "kept $prefix for inspection"
}

platform_tests() {  # platform_tests ARCH BUILD_DIR WINE: the platform tests against the real Win32 API
  local exe=$2/tests/platform/test_platform_win.exe prefix
  [ -f "$exe" ] || { echo "FAILED: $exe was not built ($1)"; fail=1; return 1; }
  prefix=$(mktemp -d "${TMPDIR:-/tmp}/vudozid-wine-platform.XXXXXX")
  WINEPREFIX=$prefix WINEARCH=$1 timeout "$TIMEOUT" "$3" wineboot -i >/dev/null 2>&1
  WINEPREFIX=$prefix timeout "$TIMEOUT" "$3" "$exe" >"$prefix/platform.txt" 2>&1
  check "the platform tests pass against Wine's Win32 API ($1)" test $? -eq 0
  grep -a "FAILED\|Failure" "$prefix/platform.txt" | tr -d '\r' | head -n 20
  WINEPREFIX=$prefix timeout 30 wineserver -k 2>/dev/null
  rm -rf "$prefix"
}

if [ ! -f "$root/build/mingw-x64/src/VudoZid.dll" ]; then
  echo "FAILED: build/mingw-x64 has no VudoZid.dll"; exit 1
fi
platform_tests win64 "$root/build/mingw-x64" "$wine64"
run_suite win64 "$root/build/mingw-x64" "$wine64" mingw-x64
if can_run_wine32 && [ -f "$root/build/mingw-i686/src/VudoZid.dll" ]; then
  platform_tests win32 "$root/build/mingw-i686" "$wine32"
  run_suite win32 "$root/build/mingw-i686" "$wine32" mingw-i686
else
  echo "note: this machine cannot run 32-bit Wine; the i686 DLL is checked by its PE contents only"
fi
exit $fail
