#!/usr/bin/env bash
# The main job: build, register the library, start the server simulator and
# show five samples of live counters. On Linux the registration goes to the
# registry file the tools share (VUDOZID_REGISTRY when set, else
# ~/.local/state/vudozid/registry.reg; `qvreg --where` prints it), so qvsim and
# qvperf find it in any later shell without flags.
#
#   scripts/main-job.sh          the Linux build with the emulated platform
#   scripts/main-job.sh --wine   the 64-bit Windows DLL and tools under Wine
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
TIMEOUT=${WINE_TIMEOUT:-120}

mode=linux
case "${1:-}" in
  "") ;;
  --wine) mode=wine ;;
  *) echo "usage: $0 [--wine]" >&2; exit 2 ;;
esac

. "$root/scripts/simulator.sh"

linux_job() {
  cmake --preset linux && cmake --build --preset linux -j2
  local build=$root/build/linux
  rm -rf work-dir && mkdir -p work-dir
  # A fresh registration each run, in the file every later shell finds.
  local registry
  registry=$("$build/tools/qvreg" --where)
  rm -f "$registry"

  echo "=== registering $build/src/libVudoZid.so into $registry"
  "$build/tools/qvreg" --seed "$build/src/libVudoZid.so"

  echo "=== starting the simulator"
  "$build/provider/qvsim" --instances 3 --interval-ms 500 >work-dir/qvsim.log 2>&1 &
  sim=$!
  trap stop_simulator EXIT
  sleep 1
  cat work-dir/qvsim.log
  if ! kill -0 "$sim" 2>/dev/null; then
    echo "main job: the simulator did not start (see above)" >&2
    exit 1
  fi

  echo "=== live counters"
  "$build/tools/qvperf" -si 1 -sc 5
  stop_simulator
  echo "=== registered in $registry; in another shell: $build/provider/qvsim & $build/tools/qvperf"
}

wine_job() {
  cmake --preset mingw-x64 && cmake --build --preset mingw-x64 -j2
  local build=$root/build/mingw-x64
  local wine=wine
  [ -x /usr/lib/wine/wine64 ] && wine=/usr/lib/wine/wine64
  export WINEDEBUG=-all
  WINEPREFIX=$(mktemp -d "${TMPDIR:-/tmp}/vudozid-main-job.XXXXXX")
  export WINEPREFIX
  cleanup() {
    stop_simulator
    timeout 30 wineserver -k >/dev/null 2>&1 || true
    rm -rf "$WINEPREFIX"
  }
  trap cleanup EXIT
  # An Italian system, so the texts go to perflib's 010 key: Wine serves the
  # 009 key itself and refuses writes to it.
  local w="timeout $TIMEOUT env LANG=it_IT.UTF-8 LC_ALL=it_IT.UTF-8 $wine"

  echo "=== preparing a Wine prefix in $WINEPREFIX"
  $w wineboot -i >/dev/null 2>&1
  local dir=$WINEPREFIX/drive_c/vudozid
  mkdir -p "$dir" work-dir
  cp "$build/src/VudoZid.dll" "$build/provider/qvsim.exe" "$build/tools/qvperf.exe" \
     "$build/tools/qvreg.exe" "$dir/"

  echo "=== registering C:\\vudozid\\VudoZid.dll"
  $w 'C:\vudozid\qvreg.exe' --seed 'C:\vudozid\VudoZid.dll'

  echo "=== starting the simulator"
  $w 'C:\vudozid\qvsim.exe' --instances 3 --interval-ms 500 --seconds 60 \
    >work-dir/qvsim-wine.log 2>&1 &
  sim=$!
  sleep 3
  cat work-dir/qvsim-wine.log

  echo "=== live counters"
  $w 'C:\vudozid\qvperf.exe' -si 1 -sc 5
  stop_simulator
}

"${mode}_job"
