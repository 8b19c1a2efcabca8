#!/usr/bin/env bash
# The Windows installer end to end: checks the custom actions' place in both
# packages, then under Wine (a throw-away prefix each run) installs the MSI,
# installs another build of the same version and then a higher version over
# it, removes it, and installs it once more with a registration that fails,
# which must roll back.
#
# The shipped package is x86. A Wine that runs only 64-bit programs cannot run
# its 32-bit regsvr32, so there the x64 package (the same .wxs over the
# mingw-x64 build) stands in for it, as the other Wine tests do with the DLL.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
. "$here/wine-common.sh"
fail=0

package() {  # package ARCH [--version V]: builds the MSI and prints its path
  mkdir -p "$root/build"
  "$root/scripts/package-windows.sh" --arch "$@" >"$root/build/package-$1.log" 2>&1 ||
    { tail -n 20 "$root/build/package-$1.log" >&2; return 1; }
  sed -n 's/^package-windows: \([^ ]*\.msi\) .*/\1/p' "$root/build/package-$1.log"
}

next_version() {  # 1.0.0 -> 1.0.1
  local v=${1%.*}
  echo "$v.$((${1##*.} + 1))"
}

in_order() {  # in_order TABLE ACTION...: the actions' sequence numbers rise in this order
  local prev=-1 action seq
  for action in "${@:2}"; do
    seq=$(awk -F'\t' -v a="$action" '$1 == a { print $3 }' "$1")
    if [ -z "$seq" ] || [ "$seq" -le "$prev" ]; then
      echo "  $action (sequence '${seq}') is not after the action before it"; return 1
    fi
    prev=$seq
  done
}

check_package() {  # check_package MSI SYSTEM_FOLDER
  local table=$root/build/package/sequence.txt
  msiinfo export "$1" InstallExecuteSequence | tr -d '\r' >"$table"
  local name; name=$(basename "$1")
  check "$name: an older version goes before this one starts" \
    in_order "$table" RemoveExistingProducts InstallInitialize
  check "$name: unregistration after InstallInitialize, before RemoveFiles" \
    in_order "$table" InstallInitialize RollbackUnregisterCounters UnregisterCounters RemoveFiles
  check "$name: registration after InstallFiles, before InstallFinalize" \
    in_order "$table" InstallFiles RollbackRegisterCounters RegisterCounters InstallFinalize
  check "$name: registration runs the regsvr32 of [$2], deferred, without impersonation" \
    grep -qxF "RegisterCounters	3106	$2	\"[$2]regsvr32.exe\" /s \"[#VudoZid.dll]\"	" \
    <(msiinfo export "$1" CustomAction | tr -d '\r')
  if grep -q '^InstallExporterService' "$table"; then
    check "$name: the exporter service goes before RemoveFiles, is created before registration, starts after it" \
      in_order "$table" InstallInitialize RollbackStartExporterService RollbackRemoveExporterService RemoveExporterService \
        RemoveFiles InstallFiles RollbackDeleteExporterService RollbackStopExporterService InstallExporterService RollbackRegisterCounters \
        RegisterCounters StartExporterService InstallFinalize
    check "$name: a failed first install sweeps the registration's keys after unregistering" \
      in_order "$table" InstallExporterService RollbackRemovePerformanceKey RollbackRemoveAppIdName RollbackRemoveAppId \
        RollbackRegisterCounters RegisterCounters
  fi
  check "$name: a failed step has the package's own message" \
    grep -q '^1722	VudoZid setup: the step \[2\] failed' <(msiinfo export "$1" Error | tr -d '\r')
  # The binaries' versions (from project(VERSION), not the package's --version).
  local version file
  version=$(sed -n 's/^project(VudoZid VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
  for file in VudoZid.dll qvperf.exe vudozid_provider.dll; do
    check "$name: the File table carries $file's version $version.0" \
      grep -qxF "$file	$version.0	1033" <(msiinfo export "$1" File | tr -d '\r' | cut -f1,5,6)
  done
}

products() {  # products OUT: the installed VudoZid versions, one a line
  $w reg export 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' 'C:\vudozid\u.reg' /y >/dev/null 2>&1
  iconv -f UTF-16 -t UTF-8 "$dir/u.reg" | tr -d '\r' |
    awk '/^\[/ { name = ""; v = "" } /^"DisplayName"="VudoZid"$/ { name = 1 } /^"DisplayVersion"=/ { v = $0 }
         /^$/ { if (name) print v; name = "" } END { if (name) print v }' >"$1"
}

free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }

service_key='HKLM\SYSTEM\CurrentControlSet\Services\VudoZidExporter'
service_runs() {  # service_runs PORT QVPERF_PATH: the service (and its event log source) is created for them, running, and answers a scrape
  # Wine's sc prints nothing under the Italian locale, and its service
  # manager may not answer for a few seconds after an install: ask in
  # English, for up to 30 s.
  local attempt
  : >"$prefix/scrape.txt"
  $w reg query "$service_key" /v ImagePath 2>/dev/null | tr -d '\r' >"$prefix/service.txt"
  grep -qF "\"$2\" --run-as-service --listen 127.0.0.1:$1" "$prefix/service.txt" ||
    { echo "  service command line: $(grep ImagePath "$prefix/service.txt" || echo none)"; return 1; }
  $w reg query "$event_source" /v EventMessageFile 2>/dev/null | tr -d '\r' | grep -qF "REG_EXPAND_SZ    $2" ||
    { echo "  no event log source with $2 as its message file"; return 1; }
  for attempt in $(seq 15); do
    timeout "$TIMEOUT" env LANG=C.UTF-8 LC_ALL=C.UTF-8 "$wine" sc query VudoZidExporter 2>&1 | tr -d '\r' >"$prefix/sc-query.txt"
    grep -q "STATE .*RUNNING" "$prefix/sc-query.txt" &&
      curl -sf --max-time 5 "http://127.0.0.1:$1/metrics" -o "$prefix/scrape.txt" && break
    sleep 1
  done
  grep -q "STATE .*RUNNING" "$prefix/sc-query.txt" || { echo "  sc query: $(cat "$prefix/sc-query.txt")"; return 1; }
  grep -q '^quorvane_exporter_build_info' "$prefix/scrape.txt" || { echo "  no scrape on port $1"; return 1; }
}
no_service() {  # no_service PORT: no service key, no event log source, nothing listening
  ! $w reg query "$service_key" >/dev/null 2>&1 && ! $w reg query "$event_source" >/dev/null 2>&1 && ! curl -s --max-time 5 -o /dev/null "http://127.0.0.1:$1/metrics"
}

run_suite() {  # run_suite PREFIX_ARCH WINE FOLDER BASE_MSI REBUILT_MSI UPGRADE_MSI
  local arch=$1 wine=$2 folder=$3 prefix w dir
  new_prefix "$arch" "$wine" || { fail=1; return 1; }
  # One Wine server (and service manager) for the whole suite: one that
  # starts during an install starts automatic services at once, racing the
  # package's own start.
  timeout 30 wineserver -w 2>/dev/null; timeout 10 wineserver -p 2>/dev/null
  local package; package=$(basename "$4" | cut -d- -f3 | cut -d. -f1)
  arch="$package package, $arch prefix"
  cp "$4" "$dir/base.msi"
  cp "$5" "$dir/rebuilt.msi"
  cp "$6" "$dir/upgrade.msi"
  local host_folder="$prefix/drive_c/${folder#C:\\}"; host_folder=${host_folder//\\//}
  local library_line="\"Library\"=\"${folder//\\/\\\\}\\\\VudoZid.dll\""
  local qvperf="$folder\\qvperf.exe" port; port=$(free_port)
  export_keys "$prefix/before.txt"

  # 1. Install with the exporter service, which starts at the end.
  check "msiexec /i with the exporter installs ($arch)" $w msiexec /i 'C:\vudozid\base.msi' /qn \
    ADDLOCAL=Counters,Exporter "EXPORTER_LISTEN=127.0.0.1:$port" /l*v 'C:\vudozid\install.log'
  export_keys "$prefix/installed.txt"
  check "perflib values and texts after install ($arch)" python3 "$here/check_registry.py" registered "$prefix/installed.txt"
  check "Library names the installed DLL ($arch)" grep -qixF "$library_line" "$prefix/installed.txt"
  if msiinfo export "$4" File | grep -q '^vudozid_provider.dll'; then
    check "the provider runtime is installed ($arch)" test -f "$host_folder/vudozid_provider.dll"
  fi
  $w "$qvperf" -q >"$prefix/objects.txt" 2>&1
  check "the installed qvperf.exe prints the object ($arch)" \
    grep -qxF '\Quorvane Server 11(*)\Accessi alla cache %' <(tr -d '\r' <"$prefix/objects.txt")
  check "the service runs the installed qvperf.exe on EXPORTER_LISTEN and answers a scrape ($arch)" \
    service_runs "$port" "$qvperf"

  # 2. A rebuilt package of the same version replaces the installed one,
  # keeping the service's feature and address without their being given.
  check "msiexec /i of a rebuilt package of the same version ($arch)" \
    $w msiexec /i 'C:\vudozid\rebuilt.msi' /qn /l*v 'C:\vudozid\rebuilt.log'
  export_keys "$prefix/rebuilt.txt"
  check "one registration after the rebuilt package ($arch)" python3 "$here/check_registry.py" registered "$prefix/rebuilt.txt"
  products "$prefix/products.txt"
  check "one product after the rebuilt package ($arch)" \
    diff "$prefix/products.txt" <(echo "\"DisplayVersion\"=\"$(basename "$4" | cut -d- -f2)\"")
  check "the service runs again on the same address after the rebuilt package ($arch)" service_runs "$port" "$qvperf"

  # 3. Major upgrade: the older version goes, one registration stays, the
  # service comes back with its address.
  check "msiexec /i of a higher version upgrades ($arch)" \
    $w msiexec /i 'C:\vudozid\upgrade.msi' /qn /l*v 'C:\vudozid\upgrade.log'
  export_keys "$prefix/upgraded.txt"
  check "one registration after the upgrade ($arch)" python3 "$here/check_registry.py" registered "$prefix/upgraded.txt"
  check "Library still names the installed DLL ($arch)" grep -qixF "$library_line" "$prefix/upgraded.txt"
  products "$prefix/products.txt"
  check "only the higher version is installed ($arch)" \
    diff "$prefix/products.txt" <(echo "\"DisplayVersion\"=\"$(basename "$6" | cut -d- -f2)\"")
  check "the service runs again on the same address after the upgrade ($arch)" service_runs "$port" "$qvperf"

  # 4. Repair: the files are replaced with the service stopped, which then
  # runs again. (Wine's msiexec does not implement /f with a product code;
  # REINSTALL=ALL REINSTALLMODE=amus is the same repair as /fa on Windows.)
  cp "$host_folder/VudoZid.dll" "$prefix/VudoZid.dll"
  rm -f "$host_folder/VudoZid.dll"
  if $w msiexec /i 'C:\vudozid\upgrade.msi' REINSTALL=ALL REINSTALLMODE=amus /qn /l*v 'C:\vudozid\repair.log'; then
    echo "ok: msiexec /i REINSTALL=ALL REINSTALLMODE=amus repairs ($arch)"
    check "the repair put VudoZid.dll back ($arch)" test -f "$host_folder/VudoZid.dll"
    check "the service runs again after the repair ($arch)" service_runs "$port" "$qvperf"
  else
    echo "note: this Wine's msiexec cannot repair (REINSTALL=ALL); repair not checked ($arch)"
    cp "$prefix/VudoZid.dll" "$host_folder/VudoZid.dll"
  fi

  # 5. Uninstall: the service goes with the product.
  check "msiexec /x removes ($arch)" $w msiexec /x 'C:\vudozid\upgrade.msi' /qn /l*v 'C:\vudozid\remove.log'
  export_keys "$prefix/removed.txt"
  check "registry back to the seeded state ($arch)" \
    python3 "$here/check_registry.py" unregistered "$prefix/removed.txt" "$prefix/before.txt"
  check "install folder gone ($arch)" test ! -e "$host_folder"
  products "$prefix/products.txt"
  check "no VudoZid product left ($arch)" test ! -s "$prefix/products.txt"
  check "no exporter service left, nothing listening ($arch)" no_service "$port"
  check "the remembered address is gone ($arch)" \
    bash -c '! '"$w"' reg query "HKLM\Software\Quorvane\VudoZid" /v ExporterListen >/dev/null 2>&1'

  # 6. A registration that fails (perflib's "Last Counter" is not a number)
  # rolls the installation back, the service created before it included, and
  # leaves no part of the registration. (Wine's msiexec writes no message for
  # a failed action, and its exit code 1627 reaches us cut to 8 bits: any
  # non-zero code.)
  $w reg add "$perflib" /v "Last Counter" /t REG_SZ /d broken /f >/dev/null 2>&1
  export_keys "$prefix/broken.txt"
  check "msiexec /i fails when registration fails ($arch)" \
    test "$($w msiexec /i 'C:\vudozid\base.msi' /qn ADDLOCAL=Counters,Exporter "EXPORTER_LISTEN=127.0.0.1:$port" \
            /l*v 'C:\vudozid\failed.log' >/dev/null 2>&1; echo $?)" != 0
  check "the log names the failed step ($arch)" \
    grep -qE '^Action ended [0-9:]+: RegisterCounters\. Return value [^1]' <(tr -d '\r' <"$dir/failed.log")
  export_keys "$prefix/rolled-back.txt"
  check "no AppID, Performance key or perflib change after the rollback ($arch)" \
    diff "$prefix/broken.txt" "$prefix/rolled-back.txt"
  check "nothing installed after the rollback ($arch)" test ! -e "$host_folder"
  products "$prefix/products.txt"
  check "no VudoZid product after the rollback ($arch)" test ! -s "$prefix/products.txt"
  check "no exporter service after the rollback ($arch)" no_service "$port"

  timeout 30 wineserver -k 2>/dev/null
  [ "$fail" = 0 ] && rm -rf "$prefix" || echo "kept $prefix for inspection"
}

runs_x86_in_win64() {  # a 64-bit prefix whose 32-bit part (SysWOW64) runs
  local prefix w dir ok=1
  new_prefix win64 "$wine64" >/dev/null || return 1
  [ -f "$prefix/drive_c/windows/syswow64/regsvr32.exe" ] &&
    $w 'C:\windows\syswow64\reg.exe' query 'HKLM\Software' >/dev/null 2>&1 && ok=0
  timeout 30 wineserver -k 2>/dev/null
  rm -rf "$prefix"
  return $ok
}

build_packages() {  # build_packages ARCH: sets base, rebuilt (same version, built again) and upgrade
  local version
  base=$(package "$1") || return 1
  rebuilt=${base%.msi}-rebuilt.msi
  cp "$root/$base" "$root/$rebuilt"  # the first build; the next one takes its name
  base=$(package "$1") || return 1
  version=$(basename "$base" | cut -d- -f2)
  upgrade=$(package "$1" --version "$(next_version "$version")")
}
build_packages x86 || { echo "FAILED: building the x86 packages"; exit 1; }
x86=("$root/$base" "$root/$rebuilt" "$root/$upgrade")
build_packages x64 || { echo "FAILED: building the x64 packages"; exit 1; }
x64=("$root/$base" "$root/$rebuilt" "$root/$upgrade")
check_package "${x86[0]}" SystemFolder
check_package "${x64[0]}" System64Folder

check "the packaged binaries are stripped, their debug information kept beside the package" \
  grep -qx 'ok: qvperf.exe: no debug sections' "$root/build/package/stage-x86/check-pe.txt"

# The shipping case: the x86 package on 64-bit Windows (Program Files (x86),
# the 32-bit regsvr32 in SysWOW64, the service a 32-bit program). Where this
# Wine cannot run 32-bit programs, the x64 package stands in for it.
if runs_x86_in_win64; then
  run_suite win64 "$wine64" 'C:\Program Files (x86)\Quorvane\VudoZid' "${x86[@]}"
else
  echo "note: NOT RUN: the x86 package in a 64-bit prefix: this Wine cannot run 32-bit programs there" \
    "(no SysWOW64 programs; the kernel does not run i386 binaries or wine32 is missing);" \
    "the x64 package stands in for it"
  run_suite win64 "$wine64" 'C:\Program Files\Quorvane\VudoZid' "${x64[@]}"
fi
if can_run_wine32; then
  run_suite win32 "$wine32" 'C:\Program Files\Quorvane\VudoZid' "${x86[@]}"
else
  echo "note: NOT RUN: the x86 package in a 32-bit prefix: this machine cannot run 32-bit Wine" \
    "($wine32 does not start); the x86 package is checked by its tables only"
fi
exit $fail
