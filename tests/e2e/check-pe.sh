#!/usr/bin/env bash
# Checks the shipped 32-bit DLL: machine i386, exactly the seven exports, the
# resources it must carry, and no dependency outside the system DLLs.
set -euo pipefail
dll=$1
here=$(dirname "$0")
facts=$(python3 "$here/pe_reader.py" "$dll")
fail=0
expect() {
  if grep -qx -- "$1" <<<"$facts"; then echo "ok: $1"; else echo "missing: $1"; fail=1; fi
}
expect "machine 0x014c"
exports=$(grep '^export ' <<<"$facts" | sort)
wanted=$(printf 'export %s\n' DllCanUnloadNow DllGetClassObject DllRegisterServer DllUnregisterServer \
  _ClosePerfMon@0 _CollectPerfMon@16 _OpenPerfMon@4 | sort)
if [ "$exports" = "$wanted" ]; then echo "ok: the seven exports"; else
  echo "exports differ:"; diff <(echo "$wanted") <(echo "$exports") || true; fail=1; fi
# Ids 100 to 134 fall into the string blocks 7, 8 and 9, all language neutral.
for block in 7 8 9; do
  grep -q "^resource 6 $block 0 " <<<"$facts" && echo "ok: string block $block" ||
    { echo "missing: string block $block"; fail=1; }
done
expect "resource REGISTRY 101 0 181"
grep -q "^resource TYPELIB 1 1033 " <<<"$facts" && echo "ok: TYPELIB 1 in language 1033" ||
  { echo "missing: TYPELIB 1 1033"; fail=1; }
allowed='^import (kernel32|advapi32|ole32|oleaut32|user32|msvcrt|ntdll|api-ms-win-crt-[a-z-]+-l1-1-0)\.dll$'
while read -r line; do
  [[ $line =~ $allowed ]] && echo "ok: $line" || { echo "not a system DLL: $line"; fail=1; }
done < <(grep '^import ' <<<"$facts")
exit $fail
