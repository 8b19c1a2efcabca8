# Shared by the Wine end-to-end scripts (sourced): the Wine loaders and the
# export of the registry keys the library touches.

TIMEOUT=${WINE_TIMEOUT:-120}  # seconds for each wine call
export WINEDEBUG=-all

# Debian's "wine" starts the 32-bit loader whenever wine32 is installed, even
# where the kernel cannot run i386 programs: name the loaders directly.
wine64=$(command -v wine64 || echo /usr/lib/wine/wine64)
wine32=$(command -v wine32 || echo /usr/lib/wine/wine)

perflib='HKLM\SOFTWARE\Microsoft\Windows NT\CurrentVersion\Perflib'
service='HKLM\SYSTEM\CurrentControlSet\Services\Quorvane Server ITA'
# The exporter service's event log source.
event_source='HKLM\SYSTEM\CurrentControlSet\Services\EventLog\Application\VudoZidExporter'

check() {  # check DESCRIPTION COMMAND...: runs a check, sets fail=1 when it fails
  if "${@:2}"; then echo "ok: $1"; else echo "FAILED: $1"; fail=1; fi
}

can_run_wine32() {
  timeout 30 "$wine32" --version >/dev/null 2>&1
}

export_keys() {  # export_keys OUT: the keys the library may touch, as text
  # Uses the caller's $w (the wine command) and $dir (the prefix's C:\vudozid).
  : >"$1"
  local key tries
  for key in "$perflib" "$perflib\\009" "$perflib\\010" "$service" 'HKCR\AppID\{FF41D410-F176-44fd-9A2F-AB1668C7A041}' 'HKCR\AppID\VudoZid.DLL'; do
    # Perflib and its language keys always exist, yet Wine's reg export of
    # one has been seen to fail once in a fresh prefix: ask them again.
    tries=1; case $key in "$perflib"*) tries=3 ;; esac
    until $w reg export "$key" "C:\\vudozid\\k.reg" /y >/dev/null 2>&1; do
      tries=$((tries - 1))
      [ "$tries" -gt 0 ] || { echo "(missing) $key" >>"$1"; continue 2; }
      sleep 1
    done
    iconv -f UTF-16 -t UTF-8 "$dir/k.reg" | tr -d '\r' | grep -v '^Windows Registry' >>"$1"
  done
}

new_prefix() {  # new_prefix ARCH WINE: a throw-away prefix seeded like a real machine
  # Sets prefix, WINEPREFIX, w (the wine command) and dir (the host side of C:\vudozid).
  prefix=$(mktemp -d "${TMPDIR:-/tmp}/vudozid-wine-$1.XXXXXX")
  export WINEPREFIX=$prefix
  # An Italian system: the library installs its texts under perflib's 010 key.
  # (Wine serves perflib's 009 key itself, and writes to it fail.)
  w="timeout $TIMEOUT env LANG=it_IT.UTF-8 LC_ALL=it_IT.UTF-8 $2"
  dir="$prefix/drive_c/vudozid"
  mkdir -p "$dir"
  WINEARCH=$1 $w wineboot -i >/dev/null 2>&1 || { echo "FAILED: wineboot ($1)"; return 1; }
  python3 "$here/make_seed.py" "$dir/seed.reg"
  $w reg import 'C:\vudozid\seed.reg' >/dev/null 2>&1
}
