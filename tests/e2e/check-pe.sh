#!/usr/bin/env bash
# Checks shipped Windows binaries from their PE files:
# - every one: machine i386 (x86-64 with --arch x64), a version resource whose file and product
#   versions are project(VERSION) of CMakeLists.txt, with its own file name,
#   a description and the product and company names; no dependency outside
#   the system DLLs;
# - VudoZid.dll also: exactly the seven exports and the resources it must carry;
# - qvperf.exe also: the event log's message table, one text per severity;
# - with --stripped DEBUG_DIR (the packaged copies): no symbols, no debug
#   sections, and a .gnu_debuglink naming <binary>.debug in DEBUG_DIR with
#   that file's CRC-32.
#
#   check-pe.sh [--stripped DEBUG_DIR] [--arch x86|x64] BINARY...
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
version=$(sed -n 's/^project(VudoZid VERSION \([0-9.]*\).*/\1/p' "$here/../../CMakeLists.txt")
debug_dir= machine=0x014c
while (($#)); do
  case $1 in
    --stripped) debug_dir=$2; shift 2 ;;
    --arch) [ "$2" = x64 ] && machine=0x8664; shift 2 ;;
    *) break ;;
  esac
done
fail=0
allowed='^import (kernel32|advapi32|ole32|oleaut32|user32|msvcrt|ntdll|ws2_32|mswsock|psapi|api-ms-win-crt-[a-z-]+-l1-1-0)\.dll$'

check_binary() {
  local binary=$1 name facts id
  name=$(basename "$binary")
  facts=$(python3 "$here/pe_reader.py" "$binary") || { echo "$name: not readable as a PE image"; fail=1; return; }
  expect() {
    if grep -qx -- "$1" <<<"$facts"; then echo "ok: $name: $1"; else echo "missing: $name: $1"; fail=1; fi
  }
  expect "machine $machine"
  expect "version file $version.0"
  expect "version product $version.0"
  expect "version string FileVersion $version.0"
  expect "version string ProductVersion $version"
  expect "version string OriginalFilename $name"
  expect "version string ProductName VudoZid"
  expect "version string CompanyName Quorvane"
  grep -q '^version string FileDescription .' <<<"$facts" && echo "ok: $name: a FileDescription" ||
    { echo "missing: $name: FileDescription"; fail=1; }
  while read -r line; do
    [[ $line =~ $allowed ]] && echo "ok: $name: $line" || { echo "not a system DLL: $name: $line"; fail=1; }
  done < <(grep '^import ' <<<"$facts")
  if [ -n "$debug_dir" ]; then
    expect "symbols 0"
    expect "debuglink $name.debug $(python3 -c 'import sys, zlib; print("%08x" % zlib.crc32(open(sys.argv[1], "rb").read()))' "$debug_dir/$name.debug" 2>/dev/null)"
    ! grep -q '^section \.debug_' <<<"$facts" && echo "ok: $name: no debug sections" ||
      { echo "not stripped: $name has debug sections"; fail=1; }
  fi
  if [ "$name" = qvperf.exe ]; then
    # The exporter service's events carry qvperf's message as their only text.
    for id in 0x40000001 0x80000002 0xc0000003; do expect "message $id %1"; done
  fi
  [ "$name" = VudoZid.dll ] || return 0

  local exports wanted block
  exports=$(grep '^export ' <<<"$facts" | sort)
  wanted=$(printf 'export %s\n' DllCanUnloadNow DllGetClassObject DllRegisterServer DllUnregisterServer \
    _ClosePerfMon@0 _CollectPerfMon@16 _OpenPerfMon@4 | sort)
  if [ "$exports" = "$wanted" ]; then echo "ok: $name: the seven exports"; else
    echo "exports differ:"; diff <(echo "$wanted") <(echo "$exports") || true; fail=1; fi
  # Ids 100 to 134 fall into the string blocks 7, 8 and 9, all language neutral.
  for block in 7 8 9; do
    grep -q "^resource 6 $block 0 " <<<"$facts" && echo "ok: $name: string block $block" ||
      { echo "missing: $name: string block $block"; fail=1; }
  done
  expect "resource REGISTRY 101 0 181"
  grep -q "^resource TYPELIB 1 1033 " <<<"$facts" && echo "ok: $name: TYPELIB 1 in language 1033" ||
    { echo "missing: $name: TYPELIB 1 1033"; fail=1; }
}

(($#)) || { echo "usage: $0 [--stripped DEBUG_DIR] [--arch x86|x64] BINARY..." >&2; exit 2; }
for binary in "$@"; do check_binary "$binary"; done
exit $fail
