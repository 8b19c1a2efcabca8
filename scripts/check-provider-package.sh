#!/usr/bin/env bash
# The provider SDK as a server team gets it: installs one build's SDK into a
# fresh prefix, checks the installed files, and builds provider/examples/minimal.c
# from a copy outside the source tree against the installed package only, once
# with CMake (find_package(VudoZidProvider)) and once with pkg-config. On Linux
# the example then publishes and qvperf reads its instances; the mingw-built
# example is run under Wine by tests/e2e/run-wine-tests.sh.
#
#   check-provider-package.sh PRESET     (linux, mingw-i686 or mingw-x64, already built)
# Leaves the prefix and the example in build/provider-package/PRESET/.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
preset=$1
build=$root/build/$preset
out=$root/build/provider-package/$preset
fail() { echo "FAIL ($preset): $*" >&2; exit 1; }

rm -rf "$out"
mkdir -p "$out/src"
cmake --install "$build" --prefix "$out/prefix" >/dev/null
cp "$root/provider/examples/minimal.c" "$root/provider/examples/CMakeLists.txt" "$out/src/"

files=(include/vudozid_provider.h include/vudozid_provider.hpp lib/libvudozid_provider_static.a
       lib/cmake/VudoZidProvider/VudoZidProviderConfig.cmake lib/pkgconfig/vudozid-provider.pc)
case $preset in
  linux)
    files+=(lib/libvudozid_provider.so); toolchain=(); cc=cc; exe= ;;
  mingw-i686|mingw-x64)
    files+=(bin/vudozid_provider.dll lib/libvudozid_provider.dll.a)
    toolchain=(-DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchains/$preset.cmake")
    cc=$(sed -n 's/^set(CMAKE_C_COMPILER \(.*\))$/\1/p' "$root/cmake/toolchains/$preset.cmake"); exe=.exe ;;
  *) fail "unknown preset" ;;
esac
for f in "${files[@]}"; do [ -f "$out/prefix/$f" ] || fail "not installed: $f"; done

# Only the C functions leave the shared library, and it needs no runtime DLL.
if [ -z "$exe" ]; then
  exported=$(nm -D --defined-only "$out/prefix/lib/libvudozid_provider.so" | awk '$2 == "T" {print $3}')
else
  dump=$(x86_64-w64-mingw32-objdump -p "$out/prefix/bin/vudozid_provider.dll")
  exported=$(awk '/\[Ordinal\/Name Pointer\] Table/ {on=1; next} on && NF == 0 {on=0} on {print $NF}' <<<"$dump")
  ! grep -iE 'DLL Name: (libstdc|libgcc|libwinpthread)' <<<"$dump" || fail "the DLL needs a runtime DLL"
fi
[ -n "$exported" ] && ! grep -qv '^vzp_' <<<"$exported" || fail "exports other than vzp_*: $exported"

cmake -S "$out/src" -B "$out/cmake-build" "${toolchain[@]}" -DCMAKE_BUILD_TYPE=Release \
  -DVudoZidProvider_DIR="$out/prefix/lib/cmake/VudoZidProvider" >/dev/null
cmake --build "$out/cmake-build" >/dev/null
[ -f "$out/cmake-build/minimal$exe" ] || fail "the CMake build made no minimal$exe"
# shellcheck disable=SC2046
"$cc" -std=c99 -Wall -Werror "$out/src/minimal.c" -o "$out/minimal-pkgconfig$exe" \
  $(PKG_CONFIG_PATH= PKG_CONFIG_LIBDIR="$out/prefix/lib/pkgconfig" pkg-config --cflags --libs vudozid-provider)
echo "ok: installed SDK, example built with CMake and pkg-config ($preset)"
[ -z "$exe" ] || exit 0

# Linux: the example publishes, qvperf reads it through the registration.
work=$(mktemp -d "${TMPDIR:-/tmp}/vudozid-example.XXXXXX")
example=
trap '{ [ -n "$example" ] && kill "$example" && wait "$example"; } 2>/dev/null; rm -rf "$work" /dev/shm/vudozid."$VUDOZID_SHM_NAMESPACE".*' EXIT
export VUDOZID_REGISTRY=$work/registry.reg VUDOZID_SHM_NAMESPACE=example$$
timeout 30 "$build/tools/qvreg" --seed "$build/src/libVudoZid.so" >/dev/null
LD_LIBRARY_PATH="$out/prefix/lib" "$out/cmake-build/minimal" 4 >"$work/minimal.log" 2>&1 &
example=$!
for _ in $(seq 50); do grep -q publishing "$work/minimal.log" && break; sleep 0.1; done
read=$(timeout 30 "$build/tools/qvperf" --format csv '\Quorvane Server 11(*)\Accessi alla cache %')
grep -q MainDb <<<"$read" && grep -q ArchiveDb <<<"$read" || fail "qvperf does not read the example: $read"
wait "$example" || fail "the example failed: $(cat "$work/minimal.log")"
example=
echo "ok: qvperf reads the installed example's instances (linux)"
