#!/usr/bin/env bash
# The provider SDK as a server team gets it: installs one build's SDK into a
# fresh prefix, checks the installed files, and builds provider/examples/minimal.c
# from a copy outside the source tree against the installed package only, once
# with CMake (find_package(VudoZidProvider), shared and static) and with
# pkg-config (shared, and --static linked the static way). It checks the
# binary interface: the exports are exactly the header's vzp_ functions, the
# SONAME or version resource, the static programs need no provider library or
# C++ runtime. On Linux the examples then run (each says that the library's
# vzp_version agrees with its header's) and qvperf reads one; the mingw-built
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

files=(include/vudozid_provider.h include/vudozid_provider.hpp include/vudozid_provider_version.h
       lib/libvudozid_provider.a
       lib/cmake/VudoZidProvider/VudoZidProviderConfig.cmake lib/pkgconfig/vudozid-provider.pc)
case $preset in
  linux)
    files+=(lib/libvudozid_provider.so lib/libvudozid_provider.so.1)
    toolchain=(); cc=cc; exe= ; objdump=objdump ;;
  mingw-i686|mingw-x64)
    files+=(bin/vudozid_provider.dll lib/libvudozid_provider.dll.a)
    toolchain=(-DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchains/$preset.cmake")
    cc=$(sed -n 's/^set(CMAKE_C_COMPILER \(.*\))$/\1/p' "$root/cmake/toolchains/$preset.cmake"); exe=.exe
    objdump=x86_64-w64-mingw32-objdump ;;
  *) fail "unknown preset" ;;
esac
for f in "${files[@]}"; do [ -f "$out/prefix/$f" ] || fail "not installed: $f"; done

# The shared library exports exactly the functions the header declares, and
# needs no runtime DLL; on Linux its SONAME carries the major version.
declared=$(sed -n 's/^VZP_API .*[ *]\(vzp_[a-z_]*\)(.*/\1/p' "$out/prefix/include/vudozid_provider.h" | sort)
if [ -z "$exe" ]; then
  library=$out/prefix/lib/libvudozid_provider.so
  exported=$(nm -D --defined-only "$library" | awk '{print $NF}' | sort)
  soname=$(objdump -p "$library" | awk '$1 == "SONAME" {print $2}')
  [ "$soname" = libvudozid_provider.so.1 ] || fail "SONAME is '$soname', not libvudozid_provider.so.1"
  [ -L "$library" ] && [ -L "$library.1" ] && [ -f "$(readlink -f "$library")" ] ||
    fail "libvudozid_provider.so and .so.1 are not links to the library"
else
  dump=$($objdump -p "$out/prefix/bin/vudozid_provider.dll")
  exported=$(awk '/\[Ordinal\/Name Pointer\] Table/ {on=1; next} on && NF == 0 {on=0} on {print $NF}' <<<"$dump" | sort)
  ! grep -iE 'DLL Name: (libstdc|libgcc|libwinpthread)' <<<"$dump" || fail "the DLL needs a runtime DLL"
  $objdump -h "$out/prefix/bin/vudozid_provider.dll" | grep -q '\.rsrc' || fail "the DLL has no version resource"
fi
[ -n "$declared" ] && [ "$exported" = "$declared" ] ||
  fail "exports differ from the header's functions: $(diff <(echo "$declared") <(echo "$exported") | grep '^[<>]' | tr '\n' ' ')"

# What a program needs at run time: the static builds need no provider library
# (and on Windows no C++ runtime DLL, which Windows does not have).
foreign='vudozid_provider'
[ -z "$exe" ] || foreign='vudozid_provider|libstdc|libgcc|libwinpthread'
needs() {  # needs BINARY: the libraries or DLLs it loads
  if [ -z "$exe" ]; then readelf -d "$1" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p'
  else $objdump -p "$1" | sed -n 's/.*DLL Name: //p'; fi
}
cmake -S "$out/src" -B "$out/cmake-build" "${toolchain[@]}" -DCMAKE_BUILD_TYPE=Release \
  -DVudoZidProvider_DIR="$out/prefix/lib/cmake/VudoZidProvider" >/dev/null
cmake --build "$out/cmake-build" >/dev/null
[ -f "$out/cmake-build/minimal$exe" ] || fail "the CMake build made no minimal$exe"
needs "$out/cmake-build/minimal_static$exe" | grep -iqE "$foreign" &&
  fail "the C program linking VudoZid::provider_static needs: $(needs "$out/cmake-build/minimal_static$exe" | tr '\n' ' ')"
pc() { PKG_CONFIG_PATH= PKG_CONFIG_LIBDIR="$out/prefix/lib/pkgconfig" pkg-config "$@" vudozid-provider; }
# shellcheck disable=SC2046
"$cc" -std=c99 -Wall -Werror "$out/src/minimal.c" -o "$out/minimal-pkgconfig$exe" $(pc --cflags --libs)
# The static library through pkg-config --static, linked the static way.
# shellcheck disable=SC2046
"$cc" -std=c99 -Wall -Werror -static "$out/src/minimal.c" -o "$out/minimal-pkgconfig-static$exe" \
  $(pc --cflags --static --libs)
needs "$out/minimal-pkgconfig-static$exe" | grep -iqE "$foreign" &&
  fail "pkg-config --static did not link the static library: $(needs "$out/minimal-pkgconfig-static$exe" | tr '\n' ' ')"
echo "ok: installed SDK, example built with CMake and pkg-config ($preset)"
[ -z "$exe" ] || exit 0

# Linux: the example publishes, qvperf reads it through the registration.
work=$(mktemp -d "${TMPDIR:-/tmp}/vudozid-example.XXXXXX")
example=
trap '{ [ -n "$example" ] && kill "$example" && wait "$example"; } 2>/dev/null; rm -rf "$work" /dev/shm/vudozid."$VUDOZID_SHM_NAMESPACE".*' EXIT
export VUDOZID_REGISTRY=$work/registry.reg VUDOZID_SHM_NAMESPACE=example$$
timeout 30 "$build/tools/qvreg" --seed "$build/src/libVudoZid.so" >/dev/null
# Built against this header, run against the installed library: the versions agree.
version=$(sed -n 's/^#define VZP_VERSION_\(MAJOR\|MINOR\|PATCH\) //p' "$out/prefix/include/vudozid_provider_version.h" | paste -sd.)
for program in cmake-build/minimal cmake-build/minimal_static minimal-pkgconfig-static; do
  line=$(LD_LIBRARY_PATH="$out/prefix/lib" "$out/$program" 0 | head -n 1)
  [ "$line" = "minimal: built with SDK $version, running with $version" ] || fail "$program: $line"
done
LD_LIBRARY_PATH="$out/prefix/lib" "$out/cmake-build/minimal" 4 >"$work/minimal.log" 2>&1 &
example=$!
for _ in $(seq 50); do grep -q publishing "$work/minimal.log" && break; sleep 0.1; done
read=$(timeout 30 "$build/tools/qvperf" --format csv '\Quorvane Server 11(*)\Accessi alla cache %')
grep -q MainDb <<<"$read" && grep -q ArchiveDb <<<"$read" || fail "qvperf does not read the example: $read"
wait "$example" || fail "the example failed: $(cat "$work/minimal.log")"
example=
echo "ok: qvperf reads the installed example's instances (linux)"
