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
    check "$name: the exporter service goes before RemoveFiles, comes after registration" \
      in_order "$table" InstallInitialize RemoveExporterService RemoveFiles InstallFiles RegisterCounters InstallExporterService InstallFinalize
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

run_suite() {  # run_suite ARCH WINE BASE_MSI REBUILT_MSI UPGRADE_MSI
  local arch=$1 wine=$2 prefix w dir
  new_prefix "$arch" "$wine" || { fail=1; return 1; }
  cp "$3" "$dir/base.msi"
  cp "$4" "$dir/rebuilt.msi"
  cp "$5" "$dir/upgrade.msi"
  local folder='C:\Program Files\Quorvane\VudoZid'
  local host_folder="$prefix/drive_c/Program Files/Quorvane/VudoZid"
  local library_line="\"Library\"=\"${folder//\\/\\\\}\\\\VudoZid.dll\""
  export_keys "$prefix/before.txt"

  # 1. Install.
  check "msiexec /i installs ($arch)" $w msiexec /i 'C:\vudozid\base.msi' /qn /l*v 'C:\vudozid\install.log'
  export_keys "$prefix/installed.txt"
  check "perflib values and texts after install ($arch)" python3 "$here/check_registry.py" registered "$prefix/installed.txt"
  check "Library names the installed DLL ($arch)" grep -qixF "$library_line" "$prefix/installed.txt"
  if msiinfo export "$3" File | grep -q '^vudozid_provider.dll'; then
    check "the provider runtime is installed ($arch)" test -f "$host_folder/vudozid_provider.dll"
  fi
  $w "$folder\\qvperf.exe" -q >"$prefix/objects.txt" 2>&1
  check "the installed qvperf.exe prints the object ($arch)" \
    grep -qxF '\Quorvane Server 11(*)\Accessi alla cache %' <(tr -d '\r' <"$prefix/objects.txt")

  # 2. A rebuilt package of the same version replaces the installed one.
  check "msiexec /i of a rebuilt package of the same version ($arch)" \
    $w msiexec /i 'C:\vudozid\rebuilt.msi' /qn /l*v 'C:\vudozid\rebuilt.log'
  export_keys "$prefix/rebuilt.txt"
  check "one registration after the rebuilt package ($arch)" python3 "$here/check_registry.py" registered "$prefix/rebuilt.txt"
  products "$prefix/products.txt"
  check "one product after the rebuilt package ($arch)" \
    diff "$prefix/products.txt" <(echo "\"DisplayVersion\"=\"$(basename "$3" | cut -d- -f2)\"")

  # 3. Major upgrade: the older version goes, one registration stays.
  check "msiexec /i of a higher version upgrades ($arch)" \
    $w msiexec /i 'C:\vudozid\upgrade.msi' /qn /l*v 'C:\vudozid\upgrade.log'
  export_keys "$prefix/upgraded.txt"
  check "one registration after the upgrade ($arch)" python3 "$here/check_registry.py" registered "$prefix/upgraded.txt"
  check "Library still names the installed DLL ($arch)" grep -qixF "$library_line" "$prefix/upgraded.txt"
  products "$prefix/products.txt"
  check "only the higher version is installed ($arch)" \
    diff "$prefix/products.txt" <(echo "\"DisplayVersion\"=\"$(basename "$5" | cut -d- -f2)\"")

  # 4. Uninstall.
  check "msiexec /x removes ($arch)" $w msiexec /x 'C:\vudozid\upgrade.msi' /qn /l*v 'C:\vudozid\remove.log'
  export_keys "$prefix/removed.txt"
  check "registry back to the seeded state ($arch)" \
    python3 "$here/check_registry.py" unregistered "$prefix/removed.txt" "$prefix/before.txt"
  check "install folder gone ($arch)" test ! -e "$host_folder"
  products "$prefix/products.txt"
  check "no VudoZid product left ($arch)" test ! -s "$prefix/products.txt"

  # 5. A registration that fails (perflib's "Last Counter" is not a number)
  # rolls the installation back. (Wine's msiexec writes no message for a failed
  # action, and its exit code 1627 reaches us cut to 8 bits: any non-zero code.)
  $w reg add "$perflib" /v "Last Counter" /t REG_SZ /d broken /f >/dev/null 2>&1
  check "msiexec /i fails when registration fails ($arch)" \
    test "$($w msiexec /i 'C:\vudozid\base.msi' /qn /l*v 'C:\vudozid\failed.log' >/dev/null 2>&1; echo $?)" != 0
  check "the log names the failed step ($arch)" \
    grep -qE '^Action ended [0-9:]+: RegisterCounters\. Return value [^1]' <(tr -d '\r' <"$dir/failed.log")
  check "nothing installed after the rollback ($arch)" test ! -e "$host_folder"
  products "$prefix/products.txt"
  check "no VudoZid product after the rollback ($arch)" test ! -s "$prefix/products.txt"

  timeout 30 wineserver -k 2>/dev/null
  [ "$fail" = 0 ] && rm -rf "$prefix" || echo "kept $prefix for inspection"
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

run_suite win64 "$wine64" "${x64[@]}"
if can_run_wine32; then
  run_suite win32 "$wine32" "${x86[@]}"
else
  echo "note: this machine cannot run 32-bit Wine; the x86 package is checked by its tables only"
fi
exit $fail
