#!/usr/bin/env bash
# End-to-end tests of the real DLL on a real Windows platform (Wine): register
# with regsvr32, collect through qvperf from a provider running as its own
# Windows process, describe the object from "Map" without a provider,
# unregister, and load the type library. Each run uses a throw-away prefix.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
. "$here/wine-common.sh"

fail=0

run_suite() {  # run_suite ARCH BUILD_DIR WINE
  local arch=$1 build=$2 wine=$3
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
  kill $sim 2>/dev/null; wait $sim 2>/dev/null
  $w 'C:\vudozid\qvsim.exe' --instances 4 --seconds 40 >"$prefix/sim2.log" 2>&1 &
  sim=$!
  sleep 4
  $w 'C:\vudozid\qvperf.exe' --format csv -sc 1 >"$prefix/live2.csv" 2>&1
  check "a restarted provider with more instances is seen ($arch)" grep -q "Quorvane04" "$prefix/live2.csv"
  kill $sim 2>/dev/null; wait $sim 2>/dev/null
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

if [ ! -f "$root/build/mingw-x64/src/VudoZid.dll" ]; then
  echo "FAILED: build/mingw-x64 has no VudoZid.dll"; exit 1
fi
run_suite win64 "$root/build/mingw-x64" "$wine64"
if can_run_wine32 && [ -f "$root/build/mingw-i686/src/VudoZid.dll" ]; then
  run_suite win32 "$root/build/mingw-i686" "$wine32"
else
  echo "note: this machine cannot run 32-bit Wine; the i686 DLL is checked by its PE contents only"
fi
exit $fail
