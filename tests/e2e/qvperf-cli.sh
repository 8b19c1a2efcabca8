#!/usr/bin/env bash
# qvperf as a typeperf user drives it, against a registration and a running
# qvsim: a PDH-CSV log read back by Python's csv module, every mistake answered
# with a message and a non-zero exit, same-named instances told apart, a log
# across a server's kill -9 and restart, and the registry found without flags
# the way the main job leaves it.
#
#   qvperf-cli.sh BUILD_DIR
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/tools-env.sh" "$1" qvcli
qvperf=$build/tools/qvperf
failed=0
check() {  # check NAME COMMAND...
  local name=$1
  shift
  if "$@"; then echo "ok    $name"; else echo "FAIL  $name"; failed=1; fi
}
object='\Quorvane Server 11'

timeout 30 "$build/tools/qvreg" --seed "$build/src/libVudoZid.so" >/dev/null || exit 1
start_simulator 3

# The log typeperf users script against: a counter file, half-second samples, typeperf's CSV.
host=$(python3 -c 'import socket; print(socket.gethostname().split(".")[0])')
printf '%s\r\n' "$object(Quorvane0*)\\Database aperti" "" "\\\\localhost$object(Quorvane02)\\Tempo IO/chiamata" >"$work/paths.txt"
expected=("\\\\$host$object(Quorvane01)\\Database aperti" "\\\\$host$object(Quorvane02)\\Database aperti"
          "\\\\$host$object(Quorvane03)\\Database aperti" "\\\\$host$object(Quorvane02)\\Tempo IO/chiamata")
log_ok() {  # log_ok LAYOUT: writes and checks a 4-sample log
  timeout 30 "$qvperf" -cf "$work/paths.txt" -si 0.5 -sc 4 -f "$1" -o "$work/out.$1" -y </dev/null &&
    python3 "$here/check_pdh_log.py" "$work/out.$1" "$1" 4 "${expected[@]}"
}
check "-cf -si 0.5 -sc 4 -f CSV -o: typeperf's layout, 4 distinct timestamps" log_ok CSV
check "-f TSV: the same layout with tabs" log_ok TSV

# Mistakes: "EXIT|part of the message|arguments" (arguments split at tabs).
printf '%s\n' "$object(Quorvane01)\\Database aperti" '\Quorvane Server 11(Quorvane01)' >"$work/bad.txt"
touch "$work/exists.csv"
answers() {  # answers CODE MESSAGE ARGS...: exit CODE and MESSAGE on standard error
  local code=$1 message=$2 out status
  shift 2
  out=$(timeout 30 "$qvperf" "$@" 2>&1 >/dev/null </dev/null)
  status=$?
  [[ $status == "$code" && $out == *"$message"* ]] || { echo "      got $status: $out"; return 1; }
}
while IFS='|' read -r code message args; do
  IFS=$'\t' read -r -a argv <<<"$args"
  check "qvperf ${argv[*]} -> $code: $message" answers "$code" "$message" "${argv[@]}"
done <<EOF2
2|-si: '1x' is not a number of seconds|-si	1x
2|-sc: '2.9' is not a whole number|-sc	2.9
2|--serve: '80abc' is not a whole number|--serve	80abc
2|unknown option -x|-x
2|-si needs a value|-si
2|-f CSV and --format table both choose|-f	CSV	--format	table
2|binary and SQL logs|-f	BIN
2|qvperf reads only this computer|-s	otherbox
2|qvperf reads only this computer|\\\\otherbox$object(*)\\*
2|no instance "Quorvane09"; instances: "Quorvane01", "Quorvane02", "Quorvane03"|$object(Quorvane09)\\Database aperti
2|no instance matches "Quorvane9*"|$object(Quorvane9*)\\*
2|no counter "Database chiusi"; counters: "Accessi alla cache %"|$object(*)\\Database chiusi
2|no object "Quorvane Server 12"; objects: "Quorvane Server 11"|\\Quorvane Server 12(*)\\*
2|bad counter path|Quorvane Server 11
2|cannot read $work/missing.txt|-cf	$work/missing.txt
2|bad.txt:2: bad counter path|-cf	$work/bad.txt
2|exists.csv exists; -y overwrites it|-o	$work/exists.csv
1|writing to /dev/full failed: No space left on device|-o	/dev/full	-y
1|not registered|--service	Quorvane Server XYZ
EOF2
full() { timeout 30 "$qvperf" -sc 1 >/dev/full 2>"$work/full.err"; test $? = 1 && grep -q "No space left" "$work/full.err"; }
check "a full standard output ends with a message and exit 1" full
wildcard() { test "$(timeout 30 "$qvperf" --format csv "$object(quorvane0?)\\Database aperti" | grep -c aperti)" = 3; }
check "a partial wildcard selects by instance name" wildcard

# Instances that share a name: dup and dup#1 everywhere, each with its own values.
stop_simulator
start_dup_server() {  # not under timeout: the test kills it with -9; --seconds bounds it
  "$build/provider/qvsim" --instances 2 --instance-name dup --interval-ms 100 --seconds 50 \
    >"$work/qvsim.log" 2>&1 &
  sim=$!
  for _ in $(seq 50); do grep -q "instance" "$work/qvsim.log" && break; sleep 0.1; done
}
start_dup_server
same_names() {
  local listed one exposition
  listed=$(timeout 30 "$qvperf" -qx "${object:1}" | grep 'Database aperti')
  one=$(timeout 30 "$qvperf" --format csv "$object(DUP#1)\\Database aperti" | tail -n +2 | cut -d, -f4)
  exposition=$(timeout 30 "$qvperf" --format prometheus | grep -o '^quorvane_open_databases{server="[^"]*"}')
  [[ $listed == "$object(dup)\\Database aperti"$'\n'"$object(dup#1)\\Database aperti" && $one == 'dup#1' &&
     $exposition == 'quorvane_open_databases{server="dup"}'$'\n''quorvane_open_databases{server="dup#1"}' ]] ||
    { echo "      -qx: $listed; (dup#1): $one; exposition: $exposition"; return 1; }
}
check "same-named instances: dup and dup#1 in -qx, in a path and in the exposition" same_names

# kill -9 of the server during a log, beside another viewer that keeps the
# library and its blocks open, then a restart: the log has the values, then
# blanks only, then values again, each column its own instance's.
timeout 60 "$qvperf" -si 0.2 >/dev/null 2>&1 &
keeper=$!
timeout 60 "$qvperf" -si 0.2 -f CSV -o "$work/live.csv" -y "$object(dup*)\\Database aperti" \
  "$object(dup*)\\Tempo IO/chiamata" </dev/null 2>"$work/live.err" &
logger=$!
rows() { python3 "$here/check_pdh_log.py" "$work/live.csv" CSV --shape 2>/dev/null; }
wait_rows() {  # wait_rows PATTERN: until the log's shape matches
  for _ in $(seq 100); do [[ $(rows) =~ $1 ]] && return 0; sleep 0.1; done
  return 1
}
wait_rows '^v{3,}$'
kill -9 "$sim"; wait "$sim" 2>/dev/null; sim=
wait_rows '^v+b{3,}$'
start_dup_server
wait_rows '^v+b+v{3,}$'
kill -INT "$logger"; wait "$logger"
status=$?
kill "$keeper" 2>/dev/null; wait "$keeper" 2>/dev/null
restart_log() {
  python3 "$here/check_pdh_log.py" "$work/live.csv" CSV --shape --columns \
    "$object(dup)\\Database aperti" "$object(dup#1)\\Database aperti" \
    "$object(dup)\\Tempo IO/chiamata" "$object(dup#1)\\Tempo IO/chiamata" |
    grep -qE '^v+b+v+ distinct$' && test "$status" = 0 ||
    { echo "      exit $status, log: $(rows)"; cat "$work/live.err"; return 1; }
}
check "kill -9 and restart during a CSV log beside another viewer: values, blanks, values" restart_log

# No server publishing: said on standard error; a log whose paths give no
# column now is refused before its file is written.
stop_simulator
idle() { timeout 30 "$qvperf" -sc 1 2>&1 >/dev/null | grep -q 'has no instances: no server is publishing'; }
check "no server publishing is said on standard error" idle
empty_log() {
  answers 2 'no instance "*": the object has no instances now' -f CSV -o "$work/empty.csv" \
    "$object(*)\\Database aperti" && test ! -e "$work/empty.csv"
}
check "a log whose wildcard matches no instance: exit 2, no file" empty_log

# A new shell after the main job: no variable set, the default file is found.
default_registry() {
  local home=$work/home
  mkdir -p "$home"
  env -u VUDOZID_REGISTRY -u XDG_STATE_HOME HOME="$home" \
    timeout 30 "$build/tools/qvreg" --seed "$build/src/libVudoZid.so" >/dev/null &&
  test -s "$home/.local/state/vudozid/registry.reg" &&
  env -u VUDOZID_REGISTRY -u XDG_STATE_HOME HOME="$home" timeout 30 "$qvperf" -q 2>&1 |
    grep -qxF "$object(*)\\Database aperti"
}
check "the tools share the default registry file without flags" default_registry
unregistered() {
  local out
  out=$(env VUDOZID_REGISTRY="$work/empty.reg" timeout 30 "$qvperf" 2>&1)
  [[ $? == 1 && $out == "qvperf: service "*" is not registered "*"$work/empty.reg"* && $out != *$'\n'* ]]
}
check "an unregistered service names the registry read, and nothing else" unregistered
exit $failed
