#!/usr/bin/env bash
# The Linux tools' registry file as processes share it:
#  1. two qvreg runs started together on one file always leave what one run
#     after the other would (register beside register, register beside
#     unregister, many rounds);
#  2. a damaged file (a bad line, cut short, an unknown encoding) is refused by
#     qvreg, qvperf and qvsim with the file, the line and the reason, and left
#     byte for byte; regedit's other forms (UTF-16LE, REGEDIT4) are read;
#  3. a running exporter sees a registration, a disabling and an
#     unregistration at its next scrape.
#
#   linux-registry-file.sh BUILD_DIR [ROUNDS]
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$1
rounds=${2:-6}
. "$here/exporter-common.sh"
exporter_setup registry-file
tool() { python3 "$here/registry_file_tool.py" "$@"; }
qvreg() { timeout 60 "$build/tools/qvreg" "$@" >>"$work/qvreg.log" 2>&1; }
failures=0
check() {  # check DESCRIPTION COMMAND...
  if "${@:2}"; then echo "ok: $1"; else echo "FAILED: $1"; failures=$((failures + 1)); fi
}
# Two copies of the library, so the two registrations are told apart.
mkdir -p "$work/a" "$work/b"
cp "$build/src/libVudoZid.so" "$work/a/"
cp "$build/src/libVudoZid.so" "$work/b/"
a=$work/a/libVudoZid.so b=$work/b/libVudoZid.so
reg=$VUDOZID_REGISTRY

# --- 1. Concurrent registrations -------------------------------------------
serial() {  # serial START OUT "ARGS1" "ARGS2"
  cp "$1" "$reg"
  qvreg $3 && qvreg $4 && cp "$reg" "$2"
}
together() {  # together START "ARGS1" "ARGS2": both at once; their statuses
  cp "$1" "$reg"
  qvreg $2 & local p1=$!
  qvreg $3 & local p2=$!
  wait $p1 && wait $p2
}
rm -f "$reg"
qvreg --seed && cp "$reg" "$work/seeded.reg"
qvreg "$a" && cp "$reg" "$work/registered.reg"
round_trip() {  # round_trip KIND START "ARGS1" "ARGS2"
  local kind=$1 start=$2 i bad=0
  serial "$start" "$work/$kind-12.reg" "$3" "$4"
  serial "$start" "$work/$kind-21.reg" "$4" "$3"
  for i in $(seq "$rounds"); do
    if ! together "$start" "$3" "$4"; then echo "  round $i: a qvreg failed"; bad=1; continue; fi
    if ! cmp -s "$reg" "$work/$kind-12.reg" && ! cmp -s "$reg" "$work/$kind-21.reg"; then
      echo "  round $i: a mix of the two: $(tool state "$reg" 2>&1)"
      diff "$reg" "$work/$kind-12.reg" | cut -c 1-100 | head -n 6
      bad=1
    fi
  done
  tool state "$work/$kind-12.reg" >/dev/null && tool state "$work/$kind-21.reg" >/dev/null && [ $bad = 0 ]
}
check "register beside register, $rounds rounds: always one order's result" \
  round_trip reg-reg "$work/seeded.reg" "--seed $a" "--seed $b"
check "register beside unregister, $rounds rounds: always one order's result" \
  round_trip reg-unreg "$work/registered.reg" "$b" "/u $a"
check "the two orders of register and unregister differ (unregistered, registered)" \
  test "$(tool state "$work/reg-unreg-12.reg")/$(tool state "$work/reg-unreg-21.reg")" = unregistered/registered

# --- 2. Damaged files are refused and left as they are -----------------------
# refused FILE LINE REASON: every tool refuses FILE naming it, LINE and REASON.
refused() {
  local file=$1 line=$2 reason=$3 copy=$work/damaged.copy out status t
  cp "$file" "$copy"
  for t in "qvreg /u $a" "qvreg --seed $a" "qvperf -q" "qvperf --listen 127.0.0.1:0" "qvsim --seconds 1"; do
    set -- $t
    local program=$build/tools/$1
    [ "$1" = qvsim ] && program=$build/provider/qvsim
    out=$(env VUDOZID_REGISTRY="$file" timeout 30 "$program" "${@:2}" 2>&1 >/dev/null) status=$?
    if [ $status = 0 ] || [[ $out != *"$file: line $line: "*"$reason"* ]]; then
      echo "  $t: status $status, said: $out"; return 1
    fi
    cmp -s "$file" "$copy" || { echo "  $t changed the file"; return 1; }
  done
}
sed '20a this is no registry line' "$work/registered.reg" >"$work/bad-line.reg"
check "a bad line is refused (line 21)" refused "$work/bad-line.reg" 21 "neither a [key]"
size=$(stat -c %s "$work/registered.reg")
head -c $((size / 2)) "$work/registered.reg" >"$work/cut.reg"
while [ "$(tail -c 1 "$work/cut.reg" | od -An -c | tr -d ' ')" = '\n' ]; do truncate -s -1 "$work/cut.reg"; done
cut_line=$(($(wc -l <"$work/cut.reg") + 1))
check "a file cut short is refused (line $cut_line)" refused "$work/cut.reg" "$cut_line" "truncated"
{ printf '\xfe\xff'; iconv -f UTF-8 -t UTF-16BE "$work/registered.reg"; } >"$work/utf16be.reg"
check "UTF-16BE is an unknown encoding" refused "$work/utf16be.reg" 1 "unknown encoding"
iconv -f UTF-8 -t UTF-16LE "$work/registered.reg" >"$work/no-bom.reg"
check "UTF-16 without its byte-order mark is an unknown encoding" refused "$work/no-bom.reg" 1 "unknown encoding"
sed '5s/$/\xff/' "$work/registered.reg" >"$work/latin.reg"
check "bytes that are not UTF-8 are refused (line 5)" refused "$work/latin.reg" 5 "not UTF-8"
# A repaired file is used again by a tool that found it damaged.
repaired() {
  cp "$work/bad-line.reg" "$reg"
  timeout 30 "$build/tools/qvperf" --listen 127.0.0.1:0 >/dev/null 2>&1 && return 1
  cp "$work/registered.reg" "$reg" && qvreg /u "$a" && [ "$(tool state "$reg")" = unregistered ]
}
check "the repaired file is used again" repaired

# regedit's own forms: UTF-16LE with its mark, and REGEDIT4.
forms() {
  local form out expected
  cp "$work/registered.reg" "$reg"
  expected=$(timeout 30 "$build/tools/qvperf" -q 2>/dev/null) && qvreg /u "$a" && cp "$reg" "$work/unregistered-utf8.reg" || return 1
  for form in utf16 regedit4; do
    tool "$form" "$work/registered.reg" "$reg" || return 1
    out=$(timeout 30 "$build/tools/qvperf" -q 2>/dev/null)
    [ -n "$expected" ] && [ "$out" = "$expected" ] || { echo "  $form: qvperf -q differs"; return 1; }
    qvreg /u "$a" && cmp -s "$reg" "$work/unregistered-utf8.reg" || { echo "  $form: unregistration differs"; return 1; }
  done
}
check "UTF-16LE and REGEDIT4 files read as the UTF-8 file (qvperf -q, then qvreg /u)" forms

# --- 3. A running exporter follows the registry -------------------------------
metric() { curl -s --max-time 10 "http://127.0.0.1:$port/metrics" | sed -n "s/^$1 //p"; }
exporter_follows() {
  cp "$work/seeded.reg" "$reg"
  start_qvperf
  [ "$(metric quorvane_exporter_collection_success)" = 0 ] || { echo "  success before registration"; return 1; }
  qvreg "$a"
  [ "$(metric quorvane_exporter_collection_success)" = 1 ] || { echo "  registration not seen"; return 1; }
  start_sim 2
  [ "$(metric quorvane_exporter_instances)" = 2 ] || { echo "  instances not seen"; return 1; }
  local perf='HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Services\Quorvane Server ITA\Performance'
  tool set "$reg" "$perf" '"Disable Performance Counters"=dword:00000001'
  [ "$(metric quorvane_exporter_counters_disabled)" = 1 ] || { echo "  disabling not seen"; return 1; }
  tool set "$reg" "$perf" '"Disable Performance Counters"=-'
  [ "$(metric quorvane_exporter_counters_disabled)" = 0 ] &&
  [ "$(metric quorvane_exporter_instances)" = 2 ] || { echo "  enabling not seen"; return 1; }
  qvreg /u "$a"
  [ "$(metric quorvane_exporter_collection_success)" = 0 ] || { echo "  unregistration not seen"; return 1; }
}
check "a running exporter sees registration, disabling and unregistration at its next scrape" exporter_follows

[ $failures = 0 ] && echo PASS || { tail -n 20 "$work/qvreg.log"; exit 1; }
